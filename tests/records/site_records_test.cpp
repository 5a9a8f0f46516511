#include "records/site_records.h"

#include "records/natural_records.h"
#include "records/paid_records.h"
#include "records_test_support.h"

namespace velquist {
namespace {

using testing::RecordingNotifier;
using testing::RecordsTest;

TEST(SiteAddress, AcceptsHostsWithKnownOrLowerCaseCountryEndings) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"www.example.com", true},
        {"example.COM", true},  // the named endings ignore case
        {"Shop.Example.Info", true},
        {"example.cn", true},
        {"example.CN", false},  // the two-letter ending is case-sensitive
        {"example.Cn", false},
        {"a-b.example.org/path/x?q=1", true},
        {"example.com/first\nsecond", true},  // the path may span lines
        {"example", false},                   // a single word
        {"example.c", false},
        {"-bad.com", false},
        {"bad-.com", false},
        {"a..com", false},
        {"exa mple.com", false},
        {"例子.com", false},
        {"http://example.com", false},  // the prefix is removed before the check
        {"", false},
        {std::string(5000, 'a') + "!", false},  // long, failing text ends in time
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidSiteAddress(c.text), c.valid) << c.text.substr(0, 40);
}

TEST(SiteCheck, CleansValidatesAndRefusesByteEqualDuplicates) {
    const std::vector<PromotionSite> current = {{"www.a.com", 1}, {"b.cn", 0}};
    const struct {
        std::string typed;
        bool accepted;
        std::string urlOrMessage;
    } cases[] = {
        {"  Http://www.new.com \t", true, "www.new.com"},
        {"HTTP://http://c.net", true, "c.net"},
        {"WWW.A.COM", true, "WWW.A.COM"},  // differs in case only: a new site
        {"", false, "网址为空，请输入正确的网址！"},
        {" \t ", false, "网址为空，请输入正确的网址！"},
        {" localhost ", false, "您输入的 【 localhost 】 不是正确的网址 ！"},
        {"http://EXAMPLE.CN", false, "您输入的 【 http://EXAMPLE.CN 】 不是正确的网址 ！"},
        {"hTTp://a.com", false, "您输入的 【 hTTp://a.com 】 不是正确的网址 ！"},
        {" http://www.a.com", false, "您输入的 【 http://www.a.com 】 已经存在表中 ！"},
        {"b.cn", false, "您输入的 【 b.cn 】 已经存在表中 ！"},
    };
    for (const auto& c : cases) {
        const auto result = CheckNewSite(c.typed, current);
        EXPECT_EQ(result.accepted, c.accepted) << c.typed;
        EXPECT_EQ(c.accepted ? result.url : result.message, c.urlOrMessage) << c.typed;
    }
}

TEST(SiteLookup, FindsBySiteOrOneBasedPosition) {
    const std::vector<PromotionSite> sites = {{"a.com", 1}, {"b.com", 1}};
    const struct {
        std::string ref;
        std::optional<std::size_t> index;
    } cases[] = {{"a.com", 0},
                 {"b.com", 1},
                 {"1", 0},
                 {"2", 1},
                 {"0", {}},
                 {"3", {}},
                 {"1a", {}},
                 {"-1", {}},
                 {"", {}},
                 {"c.com", {}},
                 {"99999999999999999999", {}}};
    for (const auto& c : cases) EXPECT_EQ(FindSite(sites, c.ref), c.index) << c.ref;
}

using SiteRecords = RecordsTest;

TEST_F(SiteRecords, SaveNumbersSitesInListOrderAndReloadSortsByUrl) {
    ASSERT_TRUE(SaveSites(dbPath(), {{"z.com", 1}, {"a.com", 0}, {"m.com", 1}}));
    EXPECT_EQ(rows("SELECT urlid,url,selected FROM website ORDER BY urlid"),
              (std::vector<std::vector<std::string>>{
                  {"0", "z.com", "1"}, {"1", "a.com", "0"}, {"2", "m.com", "1"}}));

    const auto settings = LoadSitesForSettings(dbPath());
    ASSERT_TRUE(settings.has_value());
    ASSERT_EQ(settings->size(), 3u);
    EXPECT_EQ((*settings)[0].url, "z.com");
    EXPECT_EQ((*settings)[1].selected, 0);

    exec("INSERT INTO website (urlid,url,selected) VALUES (3,NULL,1)");
    EXPECT_EQ(ReloadSiteList(dbPath()), 4);  // counted, but not listed
    const auto sites = Process().promotionSites();
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0].url, "a.com");
    EXPECT_EQ(sites[1].url, "m.com");
    EXPECT_EQ(sites[2].url, "z.com");
}

TEST_F(SiteRecords, FailedSaveKeepsTheOldListWhole) {
    ASSERT_TRUE(SaveSites(dbPath(), {{"old1.com", 1}, {"old2.com", 0}}));
    exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON website WHEN NEW.url='bad.com' "
        "BEGIN SELECT RAISE(ABORT,'refused'); END");
    EXPECT_FALSE(SaveSites(dbPath(), {{"new.com", 1}, {"bad.com", 1}}));
    EXPECT_EQ(
        rows("SELECT urlid,url,selected FROM website ORDER BY urlid"),
        (std::vector<std::vector<std::string>>{{"0", "old1.com", "1"}, {"1", "old2.com", "0"}}));
}

TEST_F(SiteRecords, AddEnableModifyAndRemoveSaveTheList) {
    RecordingNotifier notifier;
    EXPECT_EQ(AddSite(dbPath(), " Http://www.first.com ", notifier), SiteEditStatus::Saved);
    EXPECT_EQ(AddSite(dbPath(), "second.cn", notifier), SiteEditStatus::Saved);
    EXPECT_EQ(notifier.messages, (std::vector<std::string>{"添加成功！", "添加成功！"}));
    EXPECT_EQ(notifier.captions, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Process().siteColumnCount.load(), 2);
    EXPECT_EQ(Process().promotionSites().size(), 2u);

    notifier.messages.clear();
    EXPECT_EQ(AddSite(dbPath(), "www.first.com", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(SetSiteEnabled(dbPath(), "2", false, notifier), SiteEditStatus::Saved);
    EXPECT_EQ(ModifySite(dbPath(), "second.cn", "http://third.net", notifier),
              SiteEditStatus::Saved);
    EXPECT_EQ(notifier.messages,
              std::vector<std::string>{"您输入的 【 www.first.com 】 已经存在表中 ！"});
    EXPECT_EQ(rows("SELECT urlid,url,selected FROM website ORDER BY urlid"),
              (std::vector<std::vector<std::string>>{{"0", "www.first.com", "1"},
                                                     {"1", "third.net", "0"}}));
    EXPECT_EQ(Process().promotionSites().at(0).url, "third.net");  // by url

    notifier.messages.clear();
    EXPECT_EQ(ModifySite(dbPath(), "1", " ", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(ModifySite(dbPath(), "1", "third.net", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(ModifySite(dbPath(), "1", "oops", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(ModifySite(dbPath(), "1", "www.first.com", notifier), SiteEditStatus::Saved);
    EXPECT_EQ(notifier.messages, (std::vector<std::string>{
                                     "网址为空，请输入正确的网址！",
                                     "您输入的 【 third.net 】 已经存在表中 ！",
                                     "您输入的 【 oops 】 不是正确的网址 ！",
                                 }));

    EXPECT_EQ(SetSiteEnabled(dbPath(), "3", true, notifier), SiteEditStatus::NotFound);
    EXPECT_EQ(RemoveSite(dbPath(), "nosuch.com", notifier), SiteEditStatus::NotFound);
    EXPECT_EQ(RemoveSite(dbPath(), "www.first.com", notifier), SiteEditStatus::Saved);
    EXPECT_EQ(rows("SELECT urlid,url,selected FROM website"),
              (std::vector<std::vector<std::string>>{{"0", "third.net", "0"}}));
    EXPECT_EQ(Process().siteColumnCount.load(), 1);
    EXPECT_EQ(notifier.messages.size(), 3u);  // nothing new after the refusals
}

// Results stay stored after their site is edited away; shown in the first column they would
// pass for the rank of a site that was never checked.
TEST_F(SiteRecords, ResultsOfAnEditedOrRemovedSiteAreNotShown) {
    RecordingNotifier notifier;
    ASSERT_TRUE(SaveSites(dbPath(), {{"x.com", 1}, {"y.com", 1}, {"z.com", 1}}));
    exec("INSERT INTO seokeyword (keyword,keywordId,time) VALUES ('n',1,'2024-05-01 10:00:00')");
    exec("INSERT INTO plan (plan,planid) VALUES ('p',1)");
    exec("INSERT INTO unit (unit,unitid,planid) VALUES ('u',1,1)");
    exec("INSERT INTO keyword (keyword,unit,plan,keywordId,unitid) VALUES ('k','u','p',1,1)");
    for (const char* table : {"seorank", "semrank"})
        exec(std::string("INSERT INTO ") + table +
             " (rank,rankNum,url,keywordId) VALUES ('第2名，第1页',2,'x.com',1),"
             "('第5名，第1页',5,'y.com',1),('第9名，第1页',9,'z.com',1)");
    // y.com becomes a.com, which sorts first; z.com goes.
    ASSERT_EQ(ModifySite(dbPath(), "y.com", "a.com", notifier), SiteEditStatus::Saved);
    ASSERT_EQ(RemoveSite(dbPath(), "z.com", notifier), SiteEditStatus::Saved);
    std::vector<std::string> columns;
    for (const auto& site : Process().promotionSites()) columns.push_back(site.url);
    ASSERT_EQ(columns, (std::vector<std::string>{"a.com", "x.com"}));

    const auto natural = loadNaturalList(dbPath(), columns);
    const auto paid = listPaidKeywords(dbPath(), {1}, {}, {}, columns);
    ASSERT_TRUE(natural && paid);
    ASSERT_EQ(natural->rows.size(), 1u);
    ASSERT_EQ(paid->rows.size(), 1u);
    for (const auto* sites : {&natural->rows[0].sites, &paid->rows[0].sites}) {
        ASSERT_EQ(sites->size(), 2u);
        EXPECT_EQ((*sites)[0].url, "");
        EXPECT_EQ((*sites)[0].rankText, "");
        EXPECT_EQ((*sites)[0].rankNum, 0);
        EXPECT_EQ((*sites)[1].url, "x.com");
        EXPECT_EQ((*sites)[1].rankText, "第2名，第1页");
        EXPECT_EQ((*sites)[1].rankNum, 2);
    }
}

TEST_F(SiteRecords, FailedAddSaveReportsFailureNotSuccess) {
    exec("CREATE TRIGGER refuse BEFORE INSERT ON website BEGIN SELECT RAISE(ABORT,'refused'); END");
    RecordingNotifier notifier;
    EXPECT_EQ(AddSite(dbPath(), "www.new.com", notifier), SiteEditStatus::SaveFailed);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"网址设置失败，请重试！"});
    EXPECT_EQ(count("website"), 0);
}

}  // namespace
}  // namespace velquist
