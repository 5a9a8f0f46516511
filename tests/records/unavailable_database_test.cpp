#include <fstream>

#include "records/natural_records.h"
#include "records/paid_records.h"
#include "records/site_records.h"
#include "records_test_support.h"

namespace velquist {
namespace {

using testing::RecordingNotifier;
using testing::RecordsTest;

// A database path inside a "folder" that is really a regular file can never be opened.
class UnavailableDatabase : public RecordsTest {
  protected:
    void SetUp() override {
        RecordsTest::SetUp();
        m_blocker = folder() + "/not-a-folder";
        std::ofstream(m_blocker) << "plain file";
        m_badPath = m_blocker + "/database/main_360.db";
        Process().setPromotionSites({{"kept.com", 1}});
        Process().setTreeItems({{1, "kept", 0, ""}});
        Process().siteColumnCount = 7;
    }

    void expectNothingWritten() const {
        std::ifstream in(m_blocker);
        std::string content;
        std::getline(in, content);
        EXPECT_EQ(content, "plain file");
        EXPECT_EQ(Process().promotionSites().at(0).url, "kept.com");
        EXPECT_EQ(Process().treeItems().at(0).plan, "kept");
    }

    const std::string& badPath() const { return m_badPath; }

  private:
    std::string m_blocker;
    std::string m_badPath;
};

TEST_F(UnavailableDatabase, ReadsFailWithTheirTextsAndLeaveStateAlone) {
    RecordingNotifier notifier;
    EXPECT_EQ(ReloadSiteList(badPath()), 0);
    EXPECT_FALSE(LoadSitesForSettings(badPath()).has_value());
    EXPECT_FALSE(loadNaturalList(badPath(), {"a.com"}).has_value());
    EXPECT_FALSE(listPaidKeywords(badPath(), {1}, {}, {}, {"a.com"}).has_value());
    EXPECT_FALSE(loadTree(badPath(), notifier).has_value());
    EXPECT_FALSE(loadPlanChoices(badPath(), notifier).has_value());
    EXPECT_FALSE(loadUnitChoices(badPath(), 1, notifier).has_value());
    EXPECT_EQ(notifier.messages, (std::vector<std::string>{"连接数据失败，账户树未能读取成功！",
                                                           "连接数据失败，账户树未能读取成功！",
                                                           "连接单元数据失败，未能读取成功！"}));
    EXPECT_EQ(notifier.captions, (std::vector<std::string>(3, "提示")));
    expectNothingWritten();
}

TEST_F(UnavailableDatabase, WritesFailCleanlyAndSaySo) {
    RecordingNotifier notifier;
    EXPECT_FALSE(addNaturalKeywords(badPath(), {"a"}, notifier).committed);
    EXPECT_FALSE(addPaidKeywords(badPath(), {{"a", "u", "p"}}, notifier).committed);
    EXPECT_FALSE(deleteNaturalKeywords(badPath(), {{1, "a"}}, notifier));
    EXPECT_FALSE(deletePaidKeywords(badPath(), {{1, "a", "u", "p"}}, notifier));
    EXPECT_FALSE(deleteUnit(badPath(), 1, notifier));
    EXPECT_FALSE(deletePlan(badPath(), 1, notifier));
    EXPECT_FALSE(SaveSites(badPath(), {{"a.com", 1}}));
    EXPECT_EQ(AddSite(badPath(), "a.com", notifier), SiteEditStatus::SaveFailed);
    EXPECT_FALSE(clearNaturalResults(badPath()));
    EXPECT_FALSE(clearPaidResults(badPath()));
    EXPECT_EQ(notifier.messages, (std::vector<std::string>{
                                     "添加失败", "添加失败", "删除关键词失败！", "删除关键词失败！",
                                     "删除失败！", "删除失败！", "网址设置失败，请重试！"}));
    expectNothingWritten();
    EXPECT_EQ(Process().firstNewKeywordId.load(), -1);
}

// The address alone decides these refusals, so they need no database at all.
TEST_F(UnavailableDatabase, AddressRefusalsNeedNoDatabase) {
    RecordingNotifier notifier;
    EXPECT_EQ(AddSite(badPath(), " ", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(AddSite(badPath(), "oops", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(ModifySite(badPath(), "1", "", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(notifier.messages, (std::vector<std::string>{"网址为空，请输入正确的网址！",
                                                           "您输入的 【 oops 】 不是正确的网址 ！",
                                                           "网址为空，请输入正确的网址！"}));
    // A refusal opens nothing, so it creates no database file either.
    const std::string absent = folder() + "/absent.db";
    EXPECT_EQ(AddSite(absent, "", notifier), SiteEditStatus::Refused);
    EXPECT_FALSE(std::filesystem::exists(absent));
    expectNothingWritten();
}

TEST_F(UnavailableDatabase, ClearingKeepsTheSiteListButSetsItsCount) {
    clearResults(badPath());
    EXPECT_EQ(Process().siteColumnCount.load(), 0);
    expectNothingWritten();
}

}  // namespace
}  // namespace velquist
