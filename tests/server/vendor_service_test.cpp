#include "server/vendor_service.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <mutex>
#include <thread>

#include "core/schema.h"
#include "core/text.h"
#include "server/service_store.h"
#include "services/envelope.h"
#include "services/feedback.h"
#include "services/login.h"
#include "services/usage_report.h"
#include "services/user_agent.h"
#include "temp_folder.h"

namespace velquist::service {
namespace {

using namespace std::chrono_literals;
using velquist::testing::TempFolder;

struct RecordingListener final : LoginListener {
    void status(const std::string& text) override { statuses.push_back(text); }
    void message(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> statuses;
    std::vector<std::string> messages;
};

struct Reply {
    int status = 0;
    std::string body;
};

// The real service on loopback over a fresh data folder, with the account "demo", and a client
// data folder whose hosts all point at it.
class VendorServiceTest : public ::testing::Test {
  protected:
    void start(LoginThrottle::Settings throttle = {}) {
        {
            std::string error;
            auto store = ServiceStore::Open(m_serviceData.path(), error);
            ASSERT_TRUE(store) << error;
            AccountProfile profile;
            profile.trueName = "演示";
            profile.companyName = "演示科技";
            ASSERT_EQ(store->addAccount("demo", "demo1234", profile), ServiceStore::Write::Done);
        }
        ServiceOptions options;
        options.dataFolder = m_serviceData.path();
        options.lifetimeSeconds = 120;
        options.throttle = throttle;
        options.log = [this](const std::string& line) {
            const std::lock_guard lock(m_logMutex);
            m_log.push_back(line);
        };
        ASSERT_TRUE(m_service.start(options)) << m_service.lastError();
        m_hosts.accountHost = m_hosts.statisticsHost = m_hosts.reportHost = m_hosts.uaHost =
            m_service.host();
        m_hosts.httpTimeoutSeconds = 10;

        SilentNotifier notifier;
        m_login.hosts = m_hosts;
        m_login.dataFolder = m_clientData.path();
        m_login.databasePath = m_clientData.file("database/main_360.db");
        ASSERT_TRUE(PrepareDatabase(m_clientData.path(), m_clientData.file("database"),
                                    m_login.databasePath, notifier));
    }

    ServiceStore store() {
        std::string error;
        return std::move(*ServiceStore::Open(m_serviceData.path(), error));
    }

    Reply post(const std::string& target, const std::string& body) {
        httplib::Client client("127.0.0.1", m_service.port());
        client.set_read_timeout(10, 0);
        const auto result = client.Post(target.c_str(), body, "application/x-www-form-urlencoded");
        if (!result) return {};
        return {result->status, result->body};
    }

    Reply get(const std::string& target, const std::string& userAgent = "") {
        httplib::Client client("127.0.0.1", m_service.port());
        httplib::Headers headers;
        if (!userAgent.empty()) headers.emplace("User-Agent", userAgent);
        const auto result = client.Get(target.c_str(), headers);
        if (!result) return {};
        return {result->status, result->body};
    }

    std::string log() {
        const std::lock_guard lock(m_logMutex);
        std::string text;
        for (const auto& line : m_log) text += line + "\n";
        return text;
    }

    LoginResult login(const std::string& name, const std::string& password,
                      RecordingListener& listener) {
        LoginForm form;
        form.userName = name;
        form.password = password;
        return RunLogin(m_login, form, listener);
    }

    TempFolder m_serviceData;
    TempFolder m_clientData;
    std::mutex m_logMutex;
    std::vector<std::string> m_log;  // guarded by m_logMutex
    VendorService m_service;         // after the log: its threads write there until stopped
    HostConfig m_hosts;
    LoginSettings m_login;
};

std::string LoginBody(const std::string& name, const std::string& password,
                      const std::string& timeText) {
    return BuildLoginRequest(name, Md5HexUpper(password), timeText).body;
}

TEST_F(VendorServiceTest, TheClientLogsInAndIsRefusedAsTheAccountsSay) {
    start();
    RecordingListener wrong;
    EXPECT_EQ(login("demo", "wrong-password", wrong).outcome, LoginOutcome::Refused);
    EXPECT_EQ(wrong.messages, std::vector<std::string>{kLoginWrongCredentials});
    EXPECT_EQ(wrong.statuses.back(), kLoginStatusNetworkFailed);
    RecordingListener unknown;
    EXPECT_EQ(login("nobody", "demo1234", unknown).outcome, LoginOutcome::Refused);

    RecordingListener right;
    const LoginResult result = login("demo", "demo1234", right);
    ASSERT_EQ(result.outcome, LoginOutcome::LoggedIn) << log();
    EXPECT_EQ(right.statuses, (std::vector<std::string>{kLoginStatusPressed, kLoginStatusSending}));
    EXPECT_EQ(result.account.fields.trueName, "演示");
    EXPECT_EQ(result.account.fields.companyName, "演示科技");
    EXPECT_EQ(result.account.fields.score, "0");
    EXPECT_EQ(result.account.fields.levelName, "普通会员");
    EXPECT_EQ(result.account.fields.joinTime, store().findAccount("demo")->profile.joinTime);
    EXPECT_EQ(FindRememberedAccount(m_login.databasePath, "demo")->passwordHash,
              Md5HexUpper("demo1234"));
}

TEST_F(VendorServiceTest, ReplaysWrongSignaturesAndJunkAreAnsweredErr) {
    LoginThrottle::Settings lenient;
    lenient.freeFailures = 1000;
    start(lenient);
    const LoginRequest request =
        BuildLoginRequest("demo", Md5HexUpper("demo1234"), "2015-03-01 08:05:09");
    const Reply first = post("/clientlogin/", request.body);
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(CheckLoginAnswer(first.body, request.timeHash).outcome, LoginOutcome::LoggedIn)
        << first.body;
    EXPECT_EQ(post("/clientlogin/", request.body).body, "err");
    EXPECT_NE(log().find("replay"), std::string::npos) << log();

    // The signature of another password, and one made for another time hash.
    Json::Value forged(Json::objectValue);
    BuildCredentialFields(forged, "demo", "demo", Md5HexUpper("guess"), "2015-03-01 08:05:10");
    Json::Value moved = forged;
    Json::Value honest(Json::objectValue);
    BuildCredentialFields(honest, "demo", "demo", Md5HexUpper("demo1234"), "2015-03-01 08:05:11");
    moved["password"] = honest["password"];
    moved["time"] = Md5HexUpper("2015-03-01 08:05:12");

    const std::string valid = LoginBody("demo", "demo1234", "2015-03-01 08:05:13");
    std::string lowercase = valid;
    for (std::size_t i = std::string("act=login&code=").size(); i < lowercase.size(); ++i)
        lowercase[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowercase[i])));
    Json::Value noTime = honest;
    noTime.removeMember("time");
    Json::Value shortTime = honest;
    shortTime["time"] = "ABC";
    const std::pair<const char*, std::string> refused[] = {
        {"forged signature", "act=login&code=" + EncipherToHex(kLoginKey, WriteJson(forged))},
        {"signature of another time",
         "act=login&code=" + EncipherToHex(kLoginKey, WriteJson(moved))},
        {"not hex", "act=login&code=ZZZZZZZZZZZZZZZZ"},
        {"lowercase hex", lowercase},
        {"odd length", valid.substr(0, valid.size() - 1)},
        {"not JSON", "act=login&code=" + EncipherToHex(kLoginKey, "hello, service\n")},
        {"JSON array", "act=login&code=" + EncipherToHex(kLoginKey, "[1,2]\n")},
        {"no time", "act=login&code=" + EncipherToHex(kLoginKey, WriteJson(noTime))},
        {"short time", "act=login&code=" + EncipherToHex(kLoginKey, WriteJson(shortTime))},
        {"empty code", "act=login&code="},
        {"no act", valid.substr(std::string("act=login&").size())},
        {"empty body", ""},
    };
    for (const auto& [what, body] : refused) {
        const Reply reply = post("/clientlogin/", body);
        EXPECT_EQ(reply.body, "err") << what;
    }
    // None of that used up the valid request's time hash.
    const Reply accepted = post("/clientlogin/", valid);
    EXPECT_NE(accepted.body, "err");
    EXPECT_EQ(CheckLoginAnswer(accepted.body, Md5HexUpper("2015-03-01 08:05:13")).outcome,
              LoginOutcome::LoggedIn);
}

TEST_F(VendorServiceTest, BodiesOverTheLimitAreRefusedUnread) {
    start();
    const std::size_t limit = 64 * 1024;
    const std::string prefix = "act=login&code=";
    const Reply over = post("/clientlogin/", prefix + std::string(limit + 1 - prefix.size(), 'A'));
    EXPECT_EQ(over.status, 413);
    EXPECT_EQ(over.body, "err");
    EXPECT_NE(log().find("body too large"), std::string::npos) << log();
    const Reply atLimit = post("/clientlogin/", prefix + std::string(limit - prefix.size(), 'A'));
    EXPECT_EQ(atLimit.status, 200);
    EXPECT_EQ(atLimit.body, "err");  // read, and refused as junk
    // Feedback goes through the same door, and a long one below the limit is taken whole.
    EXPECT_EQ(post("/index.php?do=universal_opinion", std::string(limit + 1, 'x')).status, 413);
    EXPECT_TRUE(store().listFeedback().empty());
    std::string longContent;
    for (int i = 0; i < 1500; ++i) longContent += "慢";
    const std::string body =
        BuildFeedbackBody({"QQ", "1", longContent}, {"cpu", "RAM: 1 MB", "os", "64"},
                          {"001A2B3C4D5E", "001A2B3C4D5E"}, "2015-03-01 08:05:09");
    ASSERT_GT(body.size(), 16u * 1024);
    ASSERT_LT(body.size(), limit);
    EXPECT_EQ(post("/index.php?do=universal_opinion", body).body, "200") << log();
    ASSERT_EQ(store().listFeedback().size(), 1u);
    EXPECT_EQ(store().listFeedback()[0].content, longContent);
}

TEST_F(VendorServiceTest, RepeatedFailedLoginsFromOneAddressAreSlowedDown) {
    LoginThrottle::Settings strict;
    strict.freeFailures = 2;
    strict.firstDelay = 500ms;
    start(strict);
    EXPECT_EQ(post("/clientlogin/", LoginBody("demo", "guess-1", "2015-03-01 09:00:01")).body,
              "err");
    EXPECT_EQ(post("/clientlogin/", LoginBody("demo", "guess-2", "2015-03-01 09:00:02")).body,
              "err");
    // Even the right password has to wait now.
    const auto waitedFrom = std::chrono::steady_clock::now();
    EXPECT_EQ(post("/clientlogin/", LoginBody("demo", "demo1234", "2015-03-01 09:00:03")).body,
              "err");
    EXPECT_NE(log().find("too many failed logins"), std::string::npos) << log();
    std::this_thread::sleep_until(waitedFrom + 600ms);
    const Reply later = post("/clientlogin/", LoginBody("demo", "demo1234", "2015-03-01 09:00:03"));
    EXPECT_EQ(CheckLoginAnswer(later.body, Md5HexUpper("2015-03-01 09:00:03")).outcome,
              LoginOutcome::LoggedIn)
        << later.body;
}

TEST_F(VendorServiceTest, FeedbackIsStoredOnceAndOnlyWhenSigned) {
    start();
    const MachineFacts facts{"Intel(R) Xeon(R)", "RAM: 4096 MB", "Debian GNU/Linux 12", "64"};
    const MachineIdentity identity{"001A2B3C4D5E|A45E600D1F2B", "001A2B3C4D5E%7CA45E600D1F2B"};
    const FeedbackResult sent =
        SendFeedback(m_hosts, {"MSN", "me", "查询很慢\n第二行"}, facts, identity);
    EXPECT_EQ(sent.outcome, FeedbackOutcome::Sent) << log();
    EXPECT_EQ(sent.message, kFeedbackThanks);

    const auto records = store().listFeedback();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].machine, identity.raw);
    EXPECT_EQ(records[0].contact, "MSN：me");
    EXPECT_EQ(records[0].content, "查询很慢\n第二行");
    EXPECT_EQ(records[0].cpu, facts.cpu);
    EXPECT_EQ(records[0].memory, facts.memory);
    EXPECT_EQ(records[0].os, "Debian GNU/Linux 12 64");
    EXPECT_EQ(records[0].address, "127.0.0.1");

    const std::string body =
        BuildFeedbackBody({"QQ", "12345", "again"}, facts, identity, "2015-03-01 08:05:09");
    EXPECT_EQ(post("/index.php?do=universal_opinion", body).body, "200");
    EXPECT_EQ(post("/index.php?do=universal_opinion", body).body, "err");  // replayed
    // Another message with the same time text is no replay.
    EXPECT_EQ(
        post("/index.php?do=universal_opinion",
             BuildFeedbackBody({"QQ", "12345", "and more"}, facts, identity, "2015-03-01 08:05:09"))
            .body,
        "200");
    // A computer without adapter addresses signs with an empty identity.
    const MachineIdentity fallback{"", "time_1400000000"};
    EXPECT_EQ(post("/index.php?do=universal_opinion",
                   BuildFeedbackBody({"QQ", "1", "x"}, facts, fallback, "2015-03-01 08:05:09"))
                  .body,
              "200");
    // The identity in the name field must be the one signed.
    const MachineIdentity mismatched{"001A2B3C4D5E", "FFFFFFFFFFFF"};
    EXPECT_EQ(post("/index.php?do=universal_opinion",
                   BuildFeedbackBody({"QQ", "1", "x"}, facts, mismatched, "2015-03-01 08:05:10"))
                  .body,
              "err");
    EXPECT_EQ(post("/index.php?do=universal_opinion", "act=opinion&code=0123").body, "err");
    EXPECT_EQ(store().listFeedback().size(), 4u);
    EXPECT_EQ(store().listFeedback()[3].machine, "time_1400000000");
}

TEST_F(VendorServiceTest, UsageReportsAreStoredAndTiedTogether) {
    start();
    UsageReporter reporter(m_hosts, m_clientData.file("RankSettings.ini"));
    reporter.sendLoginReport();
    const UsageReportIds ids = reporter.ids();
    EXPECT_FALSE(ids.accinfo.empty()) << log();
    EXPECT_FALSE(ids.ranklogid.empty());
    reporter.sendExitReport();
    EXPECT_TRUE(reporter.exitReportDone());

    const auto usage = store().listUsage();
    ASSERT_EQ(usage.size(), 2u);
    EXPECT_EQ(usage[0].kind, "login");
    EXPECT_EQ(usage[0].ranklogid, ids.ranklogid);
    EXPECT_EQ(usage[0].os, reporter.osText());
    EXPECT_FALSE(usage[0].machine.empty());
    EXPECT_EQ(usage[1].kind, "exit");
    EXPECT_EQ(usage[1].loginId, usage[0].id);
    EXPECT_EQ(usage[1].machine, usage[0].machine);

    EXPECT_EQ(post("/clientlogin/?act=rankquerylogin&code=ABC", "&code=ABC").body, "err");
    EXPECT_EQ(post("/clientlogin/?act=rankqueryexit&code=", "").body, "err");
    EXPECT_EQ(store().listUsage().size(), 2u);
}

TEST_F(VendorServiceTest, APushedUserAgentIsWhatThePopGives) {
    start();
    const std::string guid = MakeStartupGuidText();
    const std::string browser = "Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101";
    EXPECT_EQ(UserAgentExchange(m_hosts, guid, true, nullptr), "");  // nothing pushed yet
    const Reply pushed = get("/ua/?guid=" + guid + "&act=push", browser);
    EXPECT_EQ(pushed.status, 200);
    EXPECT_EQ(UserAgentExchange(m_hosts, guid, true, nullptr), browser);

    Json::Value pop;
    ASSERT_TRUE(Json::Reader().parse(get("/ua/?guid=" + guid + "&act=pop").body, pop));
    EXPECT_EQ(pop["error"].asString(), "200");
    EXPECT_NE(pop["header"].asString().find("User-Agent: " + browser), std::string::npos);
    EXPECT_EQ(pop["header"].asString().find("REMOTE_ADDR"), std::string::npos);
    ASSERT_TRUE(Json::Reader().parse(get("/ua/?guid=OTHER&act=pop").body, pop));
    EXPECT_EQ(pop["error"].asString(), "404");
    EXPECT_EQ(get("/ua/?guid=../x&act=pop").status, 400);
    EXPECT_EQ(get("/ua/?guid=" + guid + "&act=drop").status, 400);
}

TEST_F(VendorServiceTest, TheRegisterPageMakesAnAccountThatLogsIn) {
    start();
    const Reply form = get("/index.php?act=register&fromid=");
    EXPECT_EQ(form.status, 200);
    for (const char* field : {"name=\"accname\"", "name=\"password\"", "name=\"password2\"",
                              "method=\"post\"", "action=\"index.php?act=register\""})
        EXPECT_NE(form.body.find(field), std::string::npos) << field;

    struct Case {
        std::string body;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"accname=%E6%96%B0%E7%94%A8%E6%88%B7&password=pass-word&password2=pass-wore", 400,
         "两次输入的密码不一致"},
        {"accname=&password=pass-word&password2=pass-word", 400, "请填写用户名"},
        {"accname=x&password=short&password2=short", 400, "密码至少 6 个字符"},
        {"accname=%E6%96%B0%E7%94%A8%E6%88%B7&password=pass-word&password2=pass-word"
         "&truename=%E6%9D%8E%E5%9B%9B&comname=",
         200, "已注册"},
        {"accname=%E6%96%B0%E7%94%A8%E6%88%B7&password=other-pass&password2=other-pass", 400,
         "已被注册"},
        {"accname=demo&password=pass-word&password2=pass-word", 400, "已被注册"},
    };
    for (const Case& c : cases) {
        const Reply reply = post("/index.php?act=register", c.body);
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_NE(reply.body.find(c.says), std::string::npos) << c.body << "\n" << reply.body;
        EXPECT_EQ(reply.body.find("pass-word"), std::string::npos);  // never shown back
    }
    RecordingListener listener;
    const LoginResult result = login("新用户", "pass-word", listener);
    ASSERT_EQ(result.outcome, LoginOutcome::LoggedIn) << log();
    EXPECT_EQ(result.account.fields.trueName, "李四");

    const Reply lost = get("/index.php?act=lostpassword");
    EXPECT_EQ(lost.status, 200);
    EXPECT_NE(lost.body.find("account reset"), std::string::npos);
    EXPECT_EQ(get("/index.php?act=nothing").status, 404);
    EXPECT_EQ(get("/elsewhere").status, 404);
}

}  // namespace
}  // namespace velquist::service
