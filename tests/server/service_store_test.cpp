#include "server/service_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/database.h"
#include "server/account_pages.h"
#include "server/login_throttle.h"
#include "service_process.h"
#include "services/envelope.h"
#include "temp_folder.h"

namespace velquist::service {
namespace {

namespace fs = std::filesystem;
using velquist::testing::TempFolder;

ServiceStore OpenStore(const std::string& folder) {
    std::string error;
    auto store = ServiceStore::Open(folder, error);
    EXPECT_TRUE(store.has_value()) << error;
    return std::move(*store);
}

// Every byte the service keeps on disk for its data.
std::string StoredBytes(const std::string& folder) {
    std::string bytes;
    for (const char* name : {"service.db", "service.db-wal", "service.db-shm"})
        bytes += velquist::testing::ReadFileText(folder + "/" + name);
    return bytes;
}

TEST(ServiceStore, AccountsKeepTheProtocolHashSealedNeverThePassword) {
    TempFolder folder;
    ServiceStore store = OpenStore(folder.path());
    AccountProfile profile;
    profile.trueName = "张三";
    ASSERT_EQ(store.addAccount("zhang", "s3cret-pass", profile), ServiceStore::Write::Done);
    ASSERT_EQ(store.addAccount("li", "s3cret-pass", {}), ServiceStore::Write::Done);
    EXPECT_EQ(store.addAccount("zhang", "other-pass", {}), ServiceStore::Write::Exists);

    const auto zhang = store.findAccount("zhang");
    ASSERT_TRUE(zhang.has_value());
    EXPECT_EQ(zhang->protocolHash, Md5HexUpper("s3cret-pass"));
    EXPECT_EQ(zhang->profile.trueName, "张三");
    EXPECT_EQ(zhang->profile.score, "0");
    EXPECT_EQ(zhang->profile.joinTime.size(), 19u);
    EXPECT_FALSE(store.findAccount("nobody").has_value());

    const std::string bytes = StoredBytes(folder.path());
    ASSERT_NE(bytes.find("zhang"), std::string::npos);  // the scan does see the data
    EXPECT_EQ(bytes.find("s3cret-pass"), std::string::npos);
    EXPECT_EQ(bytes.find(Md5HexUpper("s3cret-pass")), std::string::npos);
    {
        // Same password, different salts: nothing tells that two accounts share it.
        DbConnection db(store.databasePath());
        DbStatement rows(db, "SELECT sealed FROM account ORDER BY name");
        ASSERT_EQ(rows.step(), kSqliteRow);
        const std::string first = rows.columnText(0);
        ASSERT_EQ(rows.step(), kSqliteRow);
        EXPECT_NE(first, rows.columnText(0));
        // A sealed hash moved to another account does not open there.
        ASSERT_EQ(db.execute("UPDATE account SET salt=(SELECT salt FROM account WHERE name='li'),"
                             " sealed=(SELECT sealed FROM account WHERE name='li')"
                             " WHERE name='zhang'"),
                  kSqliteOk);
    }
    EXPECT_FALSE(store.findAccount("zhang").has_value());
    EXPECT_TRUE(store.findAccount("li").has_value());

    EXPECT_EQ(store.setPassword("zhang", "new-password"), ServiceStore::Write::Done);
    EXPECT_EQ(store.findAccount("zhang")->protocolHash, Md5HexUpper("new-password"));
    EXPECT_EQ(store.setPassword("nobody", "new-password"), ServiceStore::Write::Missing);

    // Without its own key file the database opens nothing.
    TempFolder other;
    fs::copy_file(store.databasePath(), other.file("service.db"));
    EXPECT_FALSE(OpenStore(other.path()).findAccount("li").has_value());
    fs::create_directories(other.file("bad"));
    std::ofstream(other.file("bad/service.key")) << "short";
    std::string error;
    EXPECT_FALSE(ServiceStore::Open(other.file("bad"), error).has_value());
    EXPECT_NE(error.find("service.key"), std::string::npos) << error;
}

TEST(ServiceStore, NamesAndPasswordsAreChecked) {
    struct Case {
        std::string text;
        AccountTextProblem asName;
        AccountTextProblem asPassword;
    };
    using P = AccountTextProblem;
    std::string chinese64;
    for (int i = 0; i < 64; ++i) chinese64 += "名";
    const Case cases[] = {
        {"", P::Empty, P::Empty},
        {"abc", P::None, P::TooShort},
        {"abcdef", P::None, P::None},
        {chinese64, P::None, P::None},
        {chinese64 + "x", P::TooLong, P::TooLong},
        {" padded ", P::EdgeBlanks, P::None},
        {"tab\there", P::NotText, P::NotText},
        {"bad\xFFutf8", P::NotText, P::NotText},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckAccountName(c.text), c.asName) << c.text;
        EXPECT_EQ(CheckPassword(c.text), c.asPassword) << c.text;
    }
    TempFolder folder;
    ServiceStore store = OpenStore(folder.path());
    EXPECT_EQ(store.addAccount(" x", "secret1", {}), ServiceStore::Write::Refused);
    EXPECT_EQ(store.addAccount("x", "short", {}), ServiceStore::Write::Refused);
    EXPECT_TRUE(store.listAccounts().empty());
}

TEST(ServiceStore, TimeHashesAreClaimedOncePerScopeAndName) {
    TempFolder folder;
    ServiceStore store = OpenStore(folder.path());
    const std::string hash = Md5HexUpper("2015-03-01 08:05:09");
    EXPECT_EQ(store.claimTimeHash("login", "zhang", hash), ServiceStore::Claim::Fresh);
    EXPECT_EQ(store.claimTimeHash("login", "zhang", hash), ServiceStore::Claim::Replayed);
    EXPECT_EQ(store.claimTimeHash("login", "li", hash), ServiceStore::Claim::Fresh);
    EXPECT_EQ(store.claimTimeHash("feedback", "zhang", hash), ServiceStore::Claim::Fresh);
    // Remembered across restarts.
    EXPECT_EQ(OpenStore(folder.path()).claimTimeHash("login", "zhang", hash),
              ServiceStore::Claim::Replayed);
}

TEST(ServiceStore, AnExitReportIsTiedToItsStartOnlyByBothIds) {
    TempFolder folder;
    ServiceStore store = OpenStore(folder.path());
    const auto start = store.addLoginReport("127.0.0.1", "001A2B3C4D5E", "Debian 12 64");
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(start->ranklogid, std::to_string(start->id));
    EXPECT_EQ(start->accinfo.size(), 32u);
    EXPECT_NE(store.addLoginReport("127.0.0.1", "X", "Y")->accinfo, start->accinfo);

    struct Case {
        std::string ranklogid;
        std::string accinfo;
        std::int64_t loginId;
    };
    const Case cases[] = {
        {start->ranklogid, start->accinfo, start->id},
        {start->ranklogid, "", 0},
        {start->ranklogid, "0123456789ABCDEF0123456789ABCDEF", 0},
        {"", "", 0},
        {"1 OR 1=1", start->accinfo, 0},
    };
    for (const Case& c : cases) {
        const auto exit = store.addExitReport("127.0.0.1", "Debian 12 64", c.ranklogid, c.accinfo);
        ASSERT_TRUE(exit.has_value());
        EXPECT_EQ(exit->loginId, c.loginId) << c.ranklogid << "/" << c.accinfo;
        EXPECT_EQ(exit->machine, c.loginId ? "001A2B3C4D5E" : "");
    }
    const auto usage = store.listUsage();
    ASSERT_EQ(usage.size(), 7u);
    EXPECT_EQ(usage[0].kind, "login");
    EXPECT_EQ(usage[2].kind, "exit");
    EXPECT_EQ(usage[2].loginId, start->id);
    EXPECT_EQ(usage[3].loginId, 0);
}

TEST(LoginThrottle, WaitsGrowAfterTheFreeFailuresAndSuccessForgets) {
    using namespace std::chrono_literals;
    LoginThrottle::Clock::time_point now{};
    LoginThrottle::Settings settings;
    settings.freeFailures = 3;
    settings.firstDelay = 1s;
    settings.maxDelay = 4s;
    settings.forgetAfter = 60s;
    settings.maxAddresses = 3;
    LoginThrottle throttle(settings, [&now] { return now; });

    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(throttle.mayTry("10.0.0.1"));
        throttle.recordFailure("10.0.0.1");
    }
    // After the free failures each attempt waits: 1 s, then 2 s, 4 s, and never more than 4 s.
    for (const auto wait : {1s, 2s, 4s, 4s}) {
        EXPECT_FALSE(throttle.mayTry("10.0.0.1"));
        EXPECT_TRUE(throttle.mayTry("10.0.0.2"));  // other addresses are not held up
        now += wait - 1ms;
        EXPECT_FALSE(throttle.mayTry("10.0.0.1"));
        now += 1ms;
        EXPECT_TRUE(throttle.mayTry("10.0.0.1"));
        throttle.recordFailure("10.0.0.1");
    }
    throttle.recordSuccess("10.0.0.1");
    EXPECT_TRUE(throttle.mayTry("10.0.0.1"));

    for (int i = 0; i < 4; ++i) throttle.recordFailure("10.0.0.3");
    EXPECT_FALSE(throttle.mayTry("10.0.0.3"));
    now += 60s;  // a quiet spell forgets
    EXPECT_TRUE(throttle.mayTry("10.0.0.3"));

    // Only so many addresses are kept: the longest quiet one goes first.
    for (int i = 0; i < 4; ++i) throttle.recordFailure("10.0.1.1");
    now += 1ms;
    for (const char* address : {"10.0.1.2", "10.0.1.3", "10.0.1.4"})
        throttle.recordFailure(address);
    EXPECT_TRUE(throttle.mayTry("10.0.1.1"));
}

TEST(AccountPages, FormFieldsDecodeAndPagesEscape) {
    const FormFields fields = ParseFormFields(
        "accname=%E5%BC%A0+%E4%B8%89&password=a%26b%3Dc&bad=%G1&accname=second&"
        "&empty=&flag");
    EXPECT_EQ(fields.at("accname"), "张 三");
    EXPECT_EQ(fields.at("password"), "a&b=c");
    EXPECT_FALSE(fields.count("bad"));
    EXPECT_EQ(fields.at("empty"), "");
    EXPECT_EQ(fields.at("flag"), "");
    EXPECT_EQ(UrlDecodeForm("%7c%7C+"), std::optional<std::string>("|| "));
    for (const char* broken : {"%", "%4", "abc%"}) EXPECT_EQ(UrlDecodeForm(broken), std::nullopt);

    const std::string page = RegisterPage({{"accname", "<script>\"x'&"}}, "<b>");
    EXPECT_NE(page.find("value=\"&lt;script&gt;&quot;x&#39;&amp;\""), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
}

}  // namespace
}  // namespace velquist::service
