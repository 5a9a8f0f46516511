#include "services/feedback.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include "closed_port.h"
#include "scripted_server.h"
#include "services/envelope.h"

namespace velquist {
namespace {

using testing::ScriptedServer;

const MachineFacts kFacts{"  Intel(R) Core(TM) i5 CPU ", "RAM: 8192 MB", " Debian GNU/Linux 12 ",
                          "64"};
const MachineIdentity kIdentity{"001A2B3C4D5E|A45E600D1F2B", "001A2B3C4D5E%7CA45E600D1F2B"};

Json::Value FeedbackJson(const std::string& body) {
    const std::string prefix = "act=opinion&code=";
    EXPECT_EQ(body.rfind(prefix, 0), 0u) << body;
    const auto plaintext = DecipherFromHex(kLoginKey, body.substr(prefix.size()));
    Json::Value value;
    EXPECT_TRUE(plaintext && Json::Reader().parse(*plaintext, value));
    return value;
}

TEST(FeedbackForm, AsksForTheContentFirstThenTheContact) {
    struct Case {
        FeedbackForm form;
        std::optional<std::string> problem;
    };
    const Case cases[] = {
        {{"QQ", "", kFeedbackContentHint}, kFeedbackNeedsContent},
        {{"QQ", "12345", std::string("  ") + kFeedbackContentHint + "\n"}, kFeedbackNeedsContent},
        {{"QQ", "12345", " \t\n"}, kFeedbackNeedsContent},
        {{"QQ", "  ", "界面太小"}, kFeedbackNeedsContact},
        {{"QQ", "12345", "界面太小"}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FeedbackFormProblem(c.form), c.problem)
            << c.form.content << "/" << c.form.contact;
}

TEST(FeedbackBody, CarriesTheEncodedTextsAndTheMachineSignature) {
    const std::string body = BuildFeedbackBody({" MSN ", " me ", " 查询 很慢|~ \n"}, kFacts,
                                               kIdentity, "2015-03-01 08:05:09");
    const Json::Value json = FeedbackJson(body);
    EXPECT_EQ(json.getMemberNames(),
              (std::vector<std::string>{"appid", "appversion", "contact", "content", "cpu",
                                        "memory", "os", "password", "time", "username"}));
    EXPECT_EQ(json["appid"].asString(), "13");
    EXPECT_EQ(json["appversion"].asString(), "1.0.2.2");
    EXPECT_EQ(json["contact"].asString(), "MSN%EF%BC%9Ame");  // MSN：me
    EXPECT_EQ(json["content"].asString(), "%E6%9F%A5%E8%AF%A2+%E5%BE%88%E6%85%A2%7C%7E");
    EXPECT_EQ(json["cpu"].asString(), "Intel%28R%29+Core%28TM%29+i5+CPU");
    EXPECT_EQ(json["memory"].asString(), "RAM%3A+8192+MB");
    EXPECT_EQ(json["os"].asString(), "Debian+GNU%2FLinux+12+64");
    EXPECT_EQ(json["username"].asString(), kIdentity.encoded);
    const std::string timeHash = "3B365A3D581F1AC2ECD5A86757B1B52A";  // MD5 of the time text
    EXPECT_EQ(json["time"].asString(), timeHash);
    EXPECT_EQ(json["password"].asString(), Md5HexUpper(kIdentity.raw + "41_63_" + timeHash + "KW"));
}

TEST(SendFeedback, OnlyTheAnswer200IsAccepted) {
    struct Case {
        std::string answer;
        FeedbackOutcome outcome;
        const char* message;
    };
    const Case cases[] = {
        {"200", FeedbackOutcome::Sent, kFeedbackThanks},
        {"err", FeedbackOutcome::NotAccepted, kFeedbackDataError},
        {"200\n", FeedbackOutcome::NotAccepted, kFeedbackDataError},
        {"", FeedbackOutcome::NotAccepted, kFeedbackDataError},
    };
    for (const Case& c : cases) {
        ScriptedServer server([&c](const httplib::Request&) { return c.answer; });
        HostConfig hosts;
        hosts.statisticsHost = server.host();
        hosts.httpTimeoutSeconds = 10;
        const FeedbackResult result = SendFeedback(hosts, {"QQ", "12345", "慢"}, kFacts, kIdentity);
        EXPECT_EQ(result.outcome, c.outcome) << c.answer;
        EXPECT_EQ(result.message, c.message) << c.answer;
        const auto seen = server.seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].method, "POST");
        EXPECT_EQ(seen[0].target, "/index.php?do=universal_opinion");
        EXPECT_EQ(FeedbackJson(seen[0].body)["contact"].asString(), "QQ%EF%BC%9A12345");
    }

    HostConfig down;
    down.statisticsHost = "127.0.0.1:" + std::to_string(testing::ClosedPort());
    const FeedbackResult offline = SendFeedback(down, {"QQ", "12345", "慢"}, kFacts, kIdentity);
    EXPECT_EQ(offline.outcome, FeedbackOutcome::NetworkFailure);
    EXPECT_EQ(offline.message, kFeedbackNetworkError);
    // An incomplete form is never sent.
    const FeedbackResult incomplete = SendFeedback(down, {"QQ", "", "慢"}, kFacts, kIdentity);
    EXPECT_EQ(incomplete.outcome, FeedbackOutcome::FormIncomplete);
    EXPECT_EQ(incomplete.message, kFeedbackNeedsContact);
}

}  // namespace
}  // namespace velquist
