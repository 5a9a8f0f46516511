#include "services/usage_report.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <thread>

#include "closed_port.h"
#include "core/text.h"
#include "scripted_server.h"
#include "services/envelope.h"
#include "temp_folder.h"

namespace velquist {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedServer;
using testing::TempFolder;

// The JSON of a report request, after checking that the address and the body carry one code.
Json::Value ReportJson(const ScriptedServer::Seen& seen, const std::string& act) {
    const std::string prefix = "/clientlogin/?act=" + act + "&code=";
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.target.rfind(prefix, 0), 0u) << seen.target;
    const std::string code = seen.target.substr(prefix.size());
    EXPECT_EQ(seen.body, "&code=" + code);
    const auto plaintext = DecipherFromHex(kReportKey, code);
    Json::Value value;
    EXPECT_TRUE(plaintext && Json::Reader().parse(*plaintext, value));
    return value;
}

std::string IdsAnswer(const std::string& json) { return EncipherToHex(kReportKey, json); }

TEST(ParseLoginReportAnswer, ReadsTheIdsOfAnEncipheredObject) {
    struct Case {
        std::string answer;
        std::optional<UsageReportIds> ids;
    };
    const auto ids = [](std::string accinfo, std::string ranklogid) {
        return std::optional<UsageReportIds>(UsageReportIds{accinfo, ranklogid});
    };
    const Case cases[] = {
        {"404", std::nullopt},
        {IdsAnswer("[{\"accinfo\":\"AC1\",\"ranklogid\":\"77\"}]\n"), ids("AC1", "77")},
        // Brackets go wherever they are, even inside values.
        {IdsAnswer("{\"accinfo\":\"A[B]\",\"ranklogid\":\"7\"}"), ids("AB", "7")},
        {IdsAnswer("{\"ranklogid\":\"7\",\"accinfo\":5}"), ids("", "7")},
        {IdsAnswer("{}"), ids("", "")},
        {IdsAnswer("[\"AC1\",\"77\"]"), std::nullopt},
        {IdsAnswer("not json"), std::nullopt},
        {"err", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseLoginReportAnswer(c.answer);
        ASSERT_EQ(parsed.has_value(), c.ids.has_value()) << c.answer;
        if (parsed) {
            EXPECT_EQ(parsed->accinfo, c.ids->accinfo) << c.answer;
            EXPECT_EQ(parsed->ranklogid, c.ids->ranklogid) << c.answer;
        }
    }
}

class UsageReporterTest : public ::testing::Test {
  protected:
    HostConfig hostsFor(const ScriptedServer& server) {
        HostConfig hosts;
        hosts.reportHost = server.host();
        hosts.httpTimeoutSeconds = 10;
        return hosts;
    }
    TempFolder m_folder;
};

TEST_F(UsageReporterTest, ExitReportSendsBackWhatTheStartupAnswerGave) {
    ScriptedServer server([](const httplib::Request& request) {
        return request.target.find("rankquerylogin") != std::string::npos
                   ? IdsAnswer("[{\"accinfo\":\"AC-9\",\"ranklogid\":\"1234\"}]\n")
                   : std::string("200");
    });
    UsageReporter reporter(hostsFor(server), m_folder.file("RankSettings.ini"));
    reporter.sendLoginReport();
    EXPECT_EQ(reporter.ids().accinfo, "AC-9");
    EXPECT_EQ(reporter.ids().ranklogid, "1234");
    reporter.sendExitReport();
    EXPECT_TRUE(reporter.exitReportDone());

    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 2u);
    const Json::Value start = ReportJson(seen[0], "rankquerylogin");
    EXPECT_EQ(start.getMemberNames(), (std::vector<std::string>{"appid", "os", "username"}));
    EXPECT_EQ(start["appid"].asString(), "13");
    EXPECT_EQ(start["os"].asString(), UrlEncodeForm(reporter.osText()));
    EXPECT_FALSE(start["username"].asString().empty());
    const Json::Value exit = ReportJson(seen[1], "rankqueryexit");
    EXPECT_EQ(exit.getMemberNames(),
              (std::vector<std::string>{"appid", "os", "ranklogid", "username"}));
    EXPECT_EQ(exit["os"].asString(), start["os"].asString());
    EXPECT_EQ(exit["ranklogid"].asString(), "1234");
    EXPECT_EQ(exit["username"].asString(), "AC-9");
}

TEST_F(UsageReporterTest, AStartupReportAnswered404LeavesTheIdsEmpty) {
    ScriptedServer server([](const httplib::Request&) { return std::string("404"); });
    UsageReporter reporter(hostsFor(server), m_folder.file("RankSettings.ini"));
    reporter.sendLoginReport();
    EXPECT_EQ(reporter.ids().accinfo, "");
    EXPECT_EQ(reporter.ids().ranklogid, "");
    EXPECT_FALSE(reporter.osText().empty());
    reporter.sendExitReport();

    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 2u);
    const Json::Value exit = ReportJson(seen[1], "rankqueryexit");
    EXPECT_TRUE(exit.isMember("ranklogid"));
    EXPECT_EQ(exit["ranklogid"].asString(), "");
    EXPECT_TRUE(exit.isMember("username"));
    EXPECT_EQ(exit["username"].asString(), "");
    EXPECT_EQ(exit["os"].asString(), UrlEncodeForm(reporter.osText()));
}

TEST_F(UsageReporterTest, TheExitReportEndsAlsoWhenTheServiceIsDownOrSlow) {
    HostConfig down;
    down.reportHost = "127.0.0.1:" + std::to_string(testing::ClosedPort());
    UsageReporter offline(down, m_folder.file("RankSettings.ini"));
    offline.sendLoginReport();  // fails quietly, keeping nothing
    EXPECT_EQ(offline.ids().ranklogid, "");
    std::atomic<bool> called{false};
    const auto start = std::chrono::steady_clock::now();
    offline.startExitReport([&called] { called = true; });
    EXPECT_TRUE(offline.waitForExitReport(5s));
    EXPECT_TRUE(offline.exitReportDone());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    for (int i = 0; i < 200 && !called; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(called);

    // A service that does not answer holds the exit only as long as the time limit.
    ScriptedServer slow([](const httplib::Request&) {
        std::this_thread::sleep_for(3s);
        return std::string("200");
    });
    HostConfig hosts = hostsFor(slow);
    hosts.httpTimeoutSeconds = 1;
    UsageReporter reporter(hosts, m_folder.file("RankSettings.ini"));
    const auto slowStart = std::chrono::steady_clock::now();
    reporter.startExitReport(nullptr);
    EXPECT_FALSE(reporter.exitReportDone());
    EXPECT_FALSE(reporter.waitForExitReport(200ms));
    EXPECT_TRUE(reporter.waitForExitReport(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - slowStart, 2500ms);
}

}  // namespace
}  // namespace velquist
