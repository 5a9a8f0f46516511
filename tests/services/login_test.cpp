#include "services/login.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <functional>
#include <vector>

#include "closed_port.h"
#include "core/database.h"
#include "core/schema.h"
#include "scripted_server.h"
#include "services/envelope.h"
#include "temp_folder.h"

namespace velquist {
namespace {

using testing::ScriptedServer;
using testing::TempFolder;

// Keeps what a login shows, in order.
struct RecordingListener final : LoginListener {
    void status(const std::string& text) override { statuses.push_back(text); }
    void message(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> statuses;
    std::vector<std::string> messages;
};

Json::Value ParseJson(const std::string& text) {
    Json::Value value;
    EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
    return value;
}

// The JSON a login request carries, deciphered as the service does.
Json::Value LoginRequestJson(const std::string& body) {
    const std::string prefix = "act=login&code=";
    EXPECT_EQ(body.rfind(prefix, 0), 0u) << body;
    const auto plaintext = DecipherFromHex(kLoginKey, body.substr(prefix.size()));
    EXPECT_TRUE(plaintext.has_value());
    return ParseJson(plaintext.value_or(""));
}

std::string Enciphered(const Json::Value& object) {
    return EncipherToHex(kLoginKey, WriteJson(object));
}

// The answer of a service that accepts whatever it is sent.
std::string AcceptingAnswer(const Json::Value& request) {
    Json::Value answer(Json::objectValue);
    answer["servertime"] = "2015-03-01 08:05:10";
    answer["time"] = EncipherToHex(kAnswerCheckKey, request["time"].asString());
    answer["truename"] = "张三";
    answer["comname"] = "某某网络科技有限公司";
    answer["score"] = "100";
    answer["jointime"] = "2014-12-01 10:00:00";
    answer["levelname"] = "VIP会员";
    return Enciphered(answer);
}

class LoginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SilentNotifier notifier;
        m_settings.dataFolder = m_folder.path();
        m_settings.databasePath = m_folder.file("database/main_360.db");
        ASSERT_TRUE(PrepareDatabase(m_folder.path(), m_folder.file("database"),
                                    m_settings.databasePath, notifier));
        m_settings.hosts.httpTimeoutSeconds = 10;
    }

    // A service answering every login request with `answer`.
    void serve(std::function<std::string(const Json::Value& request)> answer) {
        m_server = std::make_unique<ScriptedServer>([answer](const httplib::Request& request) {
            return answer(LoginRequestJson(request.body));
        });
        m_settings.hosts.accountHost = m_server->host();
    }

    LoginResult login(const LoginForm& form) { return RunLogin(m_settings, form, m_listener); }

    std::vector<std::string> sentRequests() const {
        std::vector<std::string> bodies;
        if (m_server)
            for (const auto& seen : m_server->seen()) bodies.push_back(seen.body);
        return bodies;
    }

    TempFolder m_folder;
    LoginSettings m_settings;
    RecordingListener m_listener;
    std::unique_ptr<ScriptedServer> m_server;
};

LoginForm Typed(const std::string& name, const std::string& password) {
    LoginForm form;
    form.userName = name;
    form.password = password;
    return form;
}

TEST_F(LoginTest, EveryAnswerBranchShowsItsStatusTextsInOrder) {
    using Answer = std::function<std::string(const Json::Value&)>;
    const auto withServerTime = [](Json::Value object) {
        object["servertime"] = "2015-03-01 08:05:10";
        return object;
    };
    struct Case {
        const char* what;
        Answer answer;
        LoginOutcome outcome;
        std::vector<std::string> statuses;
        std::vector<std::string> messages;
    };
    const std::vector<std::string> sending = {kLoginStatusPressed, kLoginStatusSending};
    const auto then = [&sending](const char* last) {
        auto statuses = sending;
        statuses.push_back(last);
        return statuses;
    };
    const Case cases[] = {
        {"err",
         [](const Json::Value&) { return std::string("err"); },
         LoginOutcome::Refused,
         then(kLoginStatusNetworkFailed),
         {kLoginWrongCredentials}},
        {"err inside a page",
         [](const Json::Value&) { return std::string("<p>Server error</p>"); },
         LoginOutcome::Refused,
         then(kLoginStatusNetworkFailed),
         {kLoginWrongCredentials}},
        {"404",
         [](const Json::Value&) { return std::string("404"); },
         LoginOutcome::AnswerWithoutServerTime,
         then(kLoginStatusAnswerUnreadable),
         {}},
        {"empty",
         [](const Json::Value&) { return std::string(); },
         LoginOutcome::AnswerWithoutServerTime,
         then(kLoginStatusAnswerUnreadable),
         {}},
        {"no servertime",
         [](const Json::Value& request) {
             Json::Value answer(Json::objectValue);
             answer["time"] = EncipherToHex(kAnswerCheckKey, request["time"].asString());
             return Enciphered(answer);
         },
         LoginOutcome::AnswerWithoutServerTime,
         then(kLoginStatusAnswerUnreadable),
         {}},
        {"no time",
         [&](const Json::Value&) {
             Json::Value answer(Json::objectValue);
             answer["truename"] = "x";
             return Enciphered(withServerTime(answer));
         },
         LoginOutcome::AnswerWithoutTime,
         then(kLoginStatusRejected),
         {}},
        {"time of another request",
         [&](const Json::Value&) {
             Json::Value answer(Json::objectValue);
             answer["time"] = EncipherToHex(kAnswerCheckKey, Md5HexUpper("2015-03-01 08:05:08"));
             return Enciphered(withServerTime(answer));
         },
         LoginOutcome::TimeMismatch,
         then(kLoginStatusRejected),
         {}},
        {"time under the login key",
         [&](const Json::Value& request) {
             Json::Value answer(Json::objectValue);
             answer["time"] = EncipherToHex(kLoginKey, request["time"].asString());
             return Enciphered(withServerTime(answer));
         },
         LoginOutcome::TimeMismatch,
         then(kLoginStatusRejected),
         {}},
        {"time not a string",
         [&](const Json::Value&) {
             Json::Value answer(Json::objectValue);
             answer["time"] = 7;
             return Enciphered(withServerTime(answer));
         },
         LoginOutcome::TimeMismatch,
         then(kLoginStatusRejected),
         {}},
        {"success", &AcceptingAnswer, LoginOutcome::LoggedIn, sending, {}},
    };
    for (const Case& c : cases) {
        m_listener = {};
        serve(c.answer);
        const LoginResult result = login(Typed("张三", "secret"));
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(m_listener.statuses, c.statuses) << c.what;
        EXPECT_EQ(m_listener.messages, c.messages) << c.what;
        EXPECT_EQ(sentRequests().size(), 1u) << c.what;
        EXPECT_EQ(result.accountSaved, c.outcome == LoginOutcome::LoggedIn) << c.what;
        EXPECT_EQ(FindRememberedAccount(m_settings.databasePath, "张三").has_value(),
                  c.outcome == LoginOutcome::LoggedIn)
            << c.what;
        DbConnection db(m_settings.databasePath);
        db.execute("DELETE FROM ZQLaccount");
    }

    m_listener = {};
    m_settings.hosts.accountHost = "127.0.0.1:" + std::to_string(testing::ClosedPort());
    EXPECT_EQ(login(Typed("张三", "secret")).outcome, LoginOutcome::NetworkFailure);
    EXPECT_EQ(m_listener.statuses, then(kLoginStatusNetworkFailed));
    EXPECT_TRUE(m_listener.messages.empty());
}

TEST_F(LoginTest, RequestCarriesTheSignedCredentialsAndSuccessKeepsTheFieldsWithinLimits) {
    serve([&](const Json::Value& request) {
        Json::Value answer = ParseJson(*DecipherFromHex(kLoginKey, AcceptingAnswer(request)));
        std::string trueName;
        for (int i = 0; i < 30; ++i) trueName += "张";  // 90 bytes
        answer["truename"] = trueName;
        answer["score"] = "12345678901";
        answer["jointime"] = "2014-12-01 10:00:00.123";
        answer["levelname"] = std::string(40, 'L');
        answer["comname"] = 5;  // not a string: read as empty
        return Enciphered(answer);
    });
    const LoginResult result = login(Typed("张 三|x", "pa ss"));
    ASSERT_EQ(result.outcome, LoginOutcome::LoggedIn);

    const auto seen = m_server->seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].target, "/clientlogin/");
    const Json::Value request = LoginRequestJson(seen[0].body);
    EXPECT_EQ(request.getMemberNames(),
              (std::vector<std::string>{"appversion", "password", "time", "username"}));
    EXPECT_EQ(request["appversion"].asString(), "1.0.2.2");
    EXPECT_EQ(request["username"].asString(), "%E5%BC%A0+%E4%B8%89%7Cx");
    const std::string passwordHash = Md5HexUpper("pa ss");
    EXPECT_EQ(request["password"].asString(),
              Md5HexUpper("张 三|x41_" + passwordHash + "63_" + request["time"].asString() + "KW"));

    std::string expectedTrueName;
    for (int i = 0; i < 21; ++i) expectedTrueName += "张";  // 63 bytes, whole characters
    const AccountFields& fields = result.account.fields;
    EXPECT_EQ(fields.trueName, expectedTrueName);
    EXPECT_EQ(fields.companyName, "");
    EXPECT_EQ(fields.score, "123456789");
    EXPECT_EQ(fields.joinTime, "2014-12-01 10:00:00");
    EXPECT_EQ(fields.levelName, std::string(31, 'L'));
    EXPECT_EQ(result.account.userName, "张 三|x");
    EXPECT_EQ(result.account.passwordHash, passwordHash);
    ASSERT_TRUE(result.lock.has_value());
    EXPECT_TRUE(result.lock->held());
}

TEST_F(LoginTest, RememberedPasswordsAndChoicesAreSentAndStoredAsChosen) {
    serve(&AcceptingAnswer);
    const std::string storedHash = Md5HexUpper("old secret");
    struct Case {
        const char* what;
        std::string password;
        std::string storedHash;
        bool remember;
        bool autoLogin;
        std::string sentHash;
        std::string storedAfter;
        bool autoAfter;
    };
    const Case cases[] = {
        {"typed, remembered", "new secret", "", true, false, Md5HexUpper("new secret"),
         Md5HexUpper("new secret"), false},
        {"typed, not remembered", "new secret", storedHash, false, false, Md5HexUpper("new secret"),
         "", false},
        {"placeholder sends the stored hash", kStoredPasswordPlaceholder, storedHash, true, true,
         storedHash, storedHash, true},
        {"placeholder with nothing stored is a password", kStoredPasswordPlaceholder, "", true,
         false, Md5HexUpper("******"), Md5HexUpper("******"), false},
        {"auto-login needs the remembered password", "new secret", "", false, true,
         Md5HexUpper("new secret"), "", false},
    };
    for (const Case& c : cases) {
        LoginForm form = Typed("李四", c.password);
        form.storedHash = c.storedHash;
        form.rememberPassword = c.remember;
        form.autoLogin = c.autoLogin;
        const std::size_t before = sentRequests().size();
        ASSERT_EQ(login(form).outcome, LoginOutcome::LoggedIn) << c.what;
        const auto bodies = sentRequests();
        ASSERT_EQ(bodies.size(), before + 1) << c.what;
        const Json::Value request = LoginRequestJson(bodies.back());
        EXPECT_EQ(request["password"].asString(),
                  Md5HexUpper("李四41_" + c.sentHash + "63_" + request["time"].asString() + "KW"))
            << c.what;
        const auto row = FindRememberedAccount(m_settings.databasePath, "李四");
        ASSERT_TRUE(row.has_value()) << c.what;
        EXPECT_EQ(row->passwordHash, c.storedAfter) << c.what;
        EXPECT_EQ(row->autoLogin, c.autoAfter) << c.what;
    }
}

TEST_F(LoginTest, FormChecksAndADuplicateLoginSendNothing) {
    serve(&AcceptingAnswer);
    EXPECT_EQ(login(Typed("", "secret")).outcome, LoginOutcome::EmptyName);
    EXPECT_EQ(login(Typed("王五", "")).outcome, LoginOutcome::EmptyPassword);
    EXPECT_EQ(m_listener.messages,
              (std::vector<std::string>{kLoginEmptyName, kLoginEmptyPassword}));
    EXPECT_TRUE(m_listener.statuses.empty());

    std::optional<LoginResult> first = login(Typed("王五", "secret"));
    ASSERT_EQ(first->outcome, LoginOutcome::LoggedIn);
    m_listener = {};
    // Logged in by this holder: another login with the account is refused before any request.
    EXPECT_EQ(login(Typed("王五", "secret")).outcome, LoginOutcome::AlreadyLoggedIn);
    EXPECT_EQ(m_listener.statuses, std::vector<std::string>{kLoginStatusDuplicate});
    EXPECT_EQ(m_listener.messages,
              std::vector<std::string>{"您的账户【王五】已经登录，请不要重复登录！"});
    EXPECT_EQ(sentRequests().size(), 1u);
    // Another account is not held up, and the account is free again once its holder is gone.
    EXPECT_EQ(login(Typed("赵六", "secret")).outcome, LoginOutcome::LoggedIn);
    first.reset();
    EXPECT_EQ(login(Typed("王五", "secret")).outcome, LoginOutcome::LoggedIn);

    std::string longName;
    for (int i = 0; i < 130; ++i) longName += "名";
    const std::string message = DuplicateLoginMessage(longName);
    EXPECT_EQ(message, "您的账户【" + longName.substr(0, 127 * 3) + "】已经登录，请不要重复登录！");
    EXPECT_EQ(LoggedInWindowTitle("王五"), "王五-Zanquil关键词排名查询软件（360版-永久免费）");
}

TEST_F(LoginTest, AnOversizedAnswerIsANetworkFailure) {
    serve([](const Json::Value&) { return std::string(65 * 1024, 'A'); });
    EXPECT_EQ(login(Typed("张三", "secret")).outcome, LoginOutcome::NetworkFailure);
    EXPECT_EQ(m_listener.statuses.back(), kLoginStatusNetworkFailed);
}

TEST_F(LoginTest, RememberedAccountsComeAutoLoginFirstThenLatest) {
    const std::string& db = m_settings.databasePath;
    EXPECT_TRUE(LoadRememberedAccounts(db).empty());
    EXPECT_EQ(FormForAccount(std::nullopt).userName, "");

    const std::string hash = Md5HexUpper("pw");
    ASSERT_TRUE(SaveLoggedInAccount(db, "alpha", hash, false));
    ASSERT_TRUE(SaveLoggedInAccount(db, "beta", hash, true));
    ASSERT_TRUE(SaveLoggedInAccount(db, "gamma", "", false));
    {
        DbConnection connection(db);
        ASSERT_EQ(connection.execute("INSERT INTO ZQLaccount(accname,accpwd,autologin,lasttime) "
                                     "VALUES('', '', 1, datetime('now','+9 hour')),"
                                     "('delta', '', 1, datetime('now','-1 hour'))"),
                  kSqliteOk);
    }
    std::vector<std::string> names;
    for (const auto& account : LoadRememberedAccounts(db)) names.push_back(account.name);
    // "delta" is marked for auto-login, but nothing it could send is remembered.
    EXPECT_EQ(names, (std::vector<std::string>{"beta", "delta", "gamma", "alpha"}));
    EXPECT_FALSE(FindRememberedAccount(db, "delta")->autoLogin);

    const LoginForm beta = FormForAccount(LoadRememberedAccounts(db).front());
    EXPECT_EQ(beta.userName, "beta");
    EXPECT_EQ(beta.password, kStoredPasswordPlaceholder);
    EXPECT_EQ(beta.storedHash, hash);
    EXPECT_TRUE(beta.rememberPassword);
    EXPECT_TRUE(beta.autoLogin);
    const LoginForm gamma = FormForAccount(FindRememberedAccount(db, "gamma"));
    EXPECT_EQ(gamma.password, "");
    EXPECT_FALSE(gamma.rememberPassword);

    // The auto-login box is saved at once, and only for a stored account.
    EXPECT_TRUE(SetAutoLogin(db, "alpha", true));
    EXPECT_TRUE(FindRememberedAccount(db, "alpha")->autoLogin);
    EXPECT_FALSE(SetAutoLogin(db, "nobody", true));
    EXPECT_FALSE(FindRememberedAccount(db, "nobody").has_value());
}

TEST(LoginUrls, AccountHostPaths) {
    HostConfig hosts;
    hosts.accountHost = "127.0.0.1:8080/";
    EXPECT_EQ(LoginUrl(hosts), "http://127.0.0.1:8080/clientlogin/");
    EXPECT_EQ(RegisterPageUrl(hosts), "http://127.0.0.1:8080/index.php?act=register&fromid=");
    hosts.accountHost = "https://account.example.com";
    EXPECT_EQ(LostPasswordPageUrl(hosts), "https://account.example.com/index.php?act=lostpassword");
}

}  // namespace
}  // namespace velquist
