#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "core/database.h"
#include "core/schema.h"
#include "records/export_history.h"
#include "records/rank_history.h"
#include "records/report_export.h"
#include "records_test_support.h"
#include "workbook_test_support.h"

namespace velquist {
namespace {

using testing::FileText;
using testing::ReadXlsx;
using testing::RecordingNotifier;
using testing::WriteFile;

using Rows = std::vector<std::vector<std::string>>;

class ReportExport : public testing::RecordsTest {
  protected:
    std::string path(const std::string& name) const { return folder() + "/" + name; }

    // The exported sheet as openpyxl reads it, each row cut or padded to the heading row.
    Rows exported(const std::string& file) const {
        Rows rows = ReadXlsx(folder(), file).rows;
        for (auto& row : rows) row.resize(rows.front().size());
        return rows;
    }

    std::vector<std::string> filesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder()))
            names.push_back(entry.path().filename().string());
        return names;
    }
};

const std::vector<PromotionSite> kSites = {{"www.a.com", 1}, {"www.b.com", 0}, {"www.c.com", 1}};

TEST_F(ReportExport, NaturalWorkbookHoldsExactlyTheListsTextsForEachChoice) {
    exec(R"(INSERT INTO seokeyword (keyword,keywordId,time) VALUES
              ('鲜花',1,'2024-05-01 10:00:00'), ('玫瑰',2,NULL), ('12345',3,NULL);
            INSERT INTO seorank (keywordId,url,rank,rankNum) VALUES
              (1,'www.a.com','第1名，第1页',1), (1,'www.b.com','左4',4), (1,'www.c.com','无',1001);)");
    const std::vector<std::string> headings = {"关键词", "查询时间", "www.a.com", "www.c.com"};
    const std::vector<std::string> queried = {"鲜花", "2024-05-01 10:00:00", "第1名，第1页", "无"};
    // A keyword of digits stays text: the sheet must show it as the list does.
    const Rows unqueried = {{"玫瑰", "", "", ""}, {"12345", "", "", ""}};
    const std::pair<ExportChoice, Rows> cases[] = {
        {ExportChoice::All, {headings, queried, unqueried[0], unqueried[1]}},
        {ExportChoice::Finished, {headings, queried}},
        {ExportChoice::Unqueried, {headings, unqueried[0], unqueried[1]}},
    };
    for (const auto& [choice, expected] : cases) {
        RecordingNotifier notifier;
        const auto table = LoadExportTable(dbPath(), ExportKind::Natural, choice, kSites, notifier);
        ASSERT_TRUE(table);
        const std::string file = path("natural.xlsx");
        const ExportResult result = WriteExportWorkbook(*table, file);
        ASSERT_TRUE(result.written) << result.reason;
        EXPECT_EQ(exported(file), expected) << static_cast<int>(choice);
        EXPECT_TRUE(notifier.messages.empty());
    }
}

TEST_F(ReportExport, PaidWorkbookHasPlanAndUnitBeforeTheTime) {
    RecordingNotifier notifier;
    addPaidKeywords(dbPath(), {{"鲜花", "单元甲", "计划一"}, {"玫瑰", "", ""}}, notifier);
    exec(R"(UPDATE keyword SET time='2024-05-01 10:00:00' WHERE keyword='鲜花';
            INSERT INTO semrank (keywordId,url,rank,rankNum)
              SELECT keywordId,'www.c.com','右2',2 FROM keyword WHERE keyword='鲜花';)");
    const auto table =
        LoadExportTable(dbPath(), ExportKind::Paid, ExportChoice::All, kSites, notifier);
    ASSERT_TRUE(table);
    ASSERT_TRUE(WriteExportWorkbook(*table, path("paid.xlsx")).written);
    EXPECT_EQ(exported(path("paid.xlsx")),
              (Rows{{"关键词", "推广计划", "推广单元", "查询时间", "www.a.com", "www.c.com"},
                    {"鲜花", "计划一", "单元甲", "2024-05-01 10:00:00", "", "右2"},
                    {"玫瑰", "默认", "默认", "", "", ""}}));
}

TEST_F(ReportExport, SiteColumnsRunToAZAndNoFurther) {
    EXPECT_EQ(ExportColumnLetters(0), "A");
    EXPECT_EQ(ExportColumnLetters(25), "Z");
    EXPECT_EQ(ExportColumnLetters(26), "AA");
    EXPECT_EQ(ExportColumnLetters(51), "AZ");
    EXPECT_EQ(ExportColumnLetters(52), std::nullopt);

    WriteFile(path("kept.xlsx"), "an earlier export");
    struct Case {
        ExportKind kind;
        int sites;
        std::string lastHeading;  // empty: refused
    } cases[] = {
        {ExportKind::Paid, 23, "AA1"},    {ExportKind::Paid, 48, "AZ1"}, {ExportKind::Paid, 49, ""},
        {ExportKind::Natural, 50, "AZ1"}, {ExportKind::Natural, 51, ""},
    };
    for (const auto& c : cases) {
        ExportTable table;
        table.kind = c.kind;
        for (int s = 0; s < c.sites; ++s)
            table.sites.push_back("www.site" + std::to_string(s) + ".com");
        table.rows.push_back({"鲜花", "P", "U", "", std::vector<std::string>(c.sites, "左1")});
        const std::string file = c.lastHeading.empty() ? path("kept.xlsx") : path("wide.xlsx");
        const ExportResult result = WriteExportWorkbook(table, file);
        const std::string what = std::to_string(c.sites) + " sites";
        if (c.lastHeading.empty()) {
            EXPECT_FALSE(result.written) << what;
            EXPECT_EQ(result.message, kExportTooManySites) << what;
            EXPECT_EQ(FileText(file), "an earlier export") << what;
            continue;
        }
        ASSERT_TRUE(result.written) << what << ": " << result.reason;
        const auto back = ReadXlsx(folder(), file);
        EXPECT_EQ(back.lastHeadingCell, c.lastHeading) << what;
        EXPECT_EQ(back.rows.at(0).back(), table.sites.back()) << what;
        EXPECT_EQ(back.rows.at(1).back(), "左1") << what;
    }
}

TEST_F(ReportExport, AFailedWriteLeavesNoFileAndASuccessfulOneReplacesTheOld) {
    ExportTable table;
    table.sites = {"www.a.com"};
    table.rows = {{"鲜花", "", "", "2024-05-01 10:00:00", {"第2名，第1页"}}};

    const ExportResult missingFolder = WriteExportWorkbook(table, path("no/such/folder/x.xlsx"));
    EXPECT_FALSE(missingFolder.written);
    EXPECT_EQ(missingFolder.message, kExportWriteFailed);

    WriteFile(path("report.xlsx"), "an earlier export");
    ASSERT_TRUE(WriteExportWorkbook(table, path("report.xlsx")).written);
    EXPECT_EQ(exported(path("report.xlsx")),
              (Rows{{"关键词", "查询时间", "www.a.com"},
                    {"鲜花", "2024-05-01 10:00:00", "第2名，第1页"}}));
    // Nothing half-written stays beside the target.
    for (const auto& name : filesInFolder())
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

// Checks of one keyword at one time, as a run appends them: (site, rank text, rank number, state).
void AppendHistory(const std::string& db, const HistoryKey& key, const std::string& when,
                   const std::vector<std::tuple<std::string, std::string, int, RankState>>& sites) {
    std::vector<HistoryResult> results;
    for (const auto& [url, text, number, state] : sites)
        results.push_back({url, text, number, state});
    DbConnection connection(db);
    WriteTransaction transaction(connection);
    ASSERT_TRUE(transaction.begun());
    ASSERT_TRUE(RankHistoryAppender(connection).append(key, *ParseLocalTime(when), results));
    ASSERT_TRUE(transaction.commit());
}

TEST_F(ReportExport, TheHistorySheetHoldsEveryCheckOfTheExportedKeywordsAndSites) {
    ASSERT_TRUE(EnsureRankHistoryTables(dbPath()));
    exec(R"(INSERT INTO seokeyword (keyword,keywordId,time) VALUES
              ('鲜花',1,'2026-03-02 09:00:00'), ('玫瑰',2,'2026-03-02 09:00:05'), ('未查',3,NULL);
            INSERT INTO seorank (keywordId,url,rank,rankNum) VALUES
              (1,'www.a.com','查询失败',10), (2,'www.a.com','无',1050);)");
    RecordingNotifier notifier;
    addPaidKeywords(dbPath(), {{"鲜花", "单元甲", "计划一"}, {"鲜花", "单元乙", "计划二"}},
                    notifier);
    const std::string t1 = "2026-03-01 08:00:00";
    const std::string t2 = "2026-03-02 09:00:00";
    const auto natural = [](const char* keyword) {
        return HistoryKey{RankKind::Natural, keyword, "", ""};
    };
    AppendHistory(dbPath(), natural("鲜花"), t1,
                  {{"www.a.com", "第3名，第1页", 3, RankState::Ranked},
                   {"www.b.com", "第1名，第1页", 1, RankState::Ranked},
                   {"www.c.com", "无", 50, RankState::NotFound}});
    AppendHistory(dbPath(), natural("鲜花"), t2,
                  {{"www.a.com", "查询失败", 10, RankState::Failed},
                   {"www.c.com", "第12名，第2页", 12, RankState::Ranked}});
    AppendHistory(dbPath(), natural("玫瑰"), t1, {{"www.a.com", "无", 50, RankState::NotFound}});
    // Keywords the export leaves out keep their history out of it too.
    AppendHistory(dbPath(), natural("未查"), t1,
                  {{"www.a.com", "第5名，第1页", 5, RankState::Ranked}});
    AppendHistory(dbPath(), natural("已删除"), t1,
                  {{"www.a.com", "第6名，第1页", 6, RankState::Ranked}});
    AppendHistory(dbPath(), {RankKind::Paid, "鲜花", "计划一", "单元甲"}, t1,
                  {{"www.a.com", "右1", 51, RankState::Ranked}});
    AppendHistory(dbPath(), {RankKind::Paid, "鲜花", "计划一", "单元甲"}, t2,
                  {{"www.a.com", "左2", 2, RankState::Ranked}});
    AppendHistory(dbPath(), {RankKind::Paid, "鲜花", "计划二", "单元乙"}, t2,
                  {{"www.c.com", "无", 100, RankState::NotFound}});

    struct Case {
        ExportKind kind;
        ExportChoice choice;
        Rows history;
    } cases[] = {
        {ExportKind::Natural,
         ExportChoice::Finished,
         {{"关键词", "网址", "查询时间", "排名"},
          {"鲜花", "www.a.com", t1, "第3名，第1页"},
          {"鲜花", "www.c.com", t1, "无"},
          {"鲜花", "www.a.com", t2, "查询失败"},
          {"鲜花", "www.c.com", t2, "第12名，第2页"},
          {"玫瑰", "www.a.com", t1, "无"}}},
        {ExportKind::Paid,
         ExportChoice::All,
         {{"关键词", "推广计划", "推广单元", "网址", "查询时间", "排名"},
          {"鲜花", "计划一", "单元甲", "www.a.com", t1, "右1"},
          {"鲜花", "计划一", "单元甲", "www.a.com", t2, "左2"},
          {"鲜花", "计划二", "单元乙", "www.c.com", t2, "无"}}},
    };
    for (const auto& c : cases) {
        const std::string what = c.kind == ExportKind::Paid ? "paid" : "natural";
        const auto table = LoadExportTable(dbPath(), c.kind, c.choice, kSites, notifier);
        ASSERT_TRUE(table) << what;
        const std::string file = path(what + ".xlsx");
        const ExportResult result = WriteExportWorkbook(*table, file, {true, dbPath()});
        ASSERT_TRUE(result.written) << what << ": " << result.reason;
        const auto list = ReadXlsx(folder(), file, 0);
        EXPECT_EQ(list.sheets, (std::vector<std::string>{"Sheet1", "排名历史"})) << what;
        EXPECT_EQ(list.rows.size(), table->rows.size() + 1) << what;
        EXPECT_EQ(ReadXlsx(folder(), file, 1).rows, c.history) << what;
        const auto loaded = LoadHistorySheet(dbPath(), ExportHistoryKeys(*table), table->sites);
        ASSERT_TRUE(loaded) << what;
        EXPECT_EQ(loaded->size() + 1, c.history.size()) << what;

        // Without it the workbook is the list alone.
        ASSERT_TRUE(WriteExportWorkbook(*table, file).written) << what;
        EXPECT_EQ(ReadXlsx(folder(), file).sheets, std::vector<std::string>{"Sheet1"}) << what;
    }

    // A history that cannot be read fails the whole export and keeps the earlier file.
    exec("DROP TABLE rankhistory");
    WriteFile(path("kept.xlsx"), "an earlier export");
    const auto table =
        LoadExportTable(dbPath(), ExportKind::Natural, ExportChoice::All, kSites, notifier);
    ASSERT_TRUE(table);
    const ExportResult refused = WriteExportWorkbook(*table, path("kept.xlsx"), {true, dbPath()});
    EXPECT_FALSE(refused.written);
    EXPECT_EQ(refused.message, kExportWriteFailed);
    EXPECT_EQ(refused.reason, "the rank history could not be read");
    EXPECT_EQ(FileText(path("kept.xlsx")), "an earlier export");
    for (const auto& name : filesInFolder())
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST(ExportNames, DefaultFileNameAndTheQuestionAfterwards) {
    std::tm local{};
    local.tm_year = 2015 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 1;
    local.tm_hour = 8;
    local.tm_min = 5;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    EXPECT_EQ(DefaultExportFileName(ExportKind::Natural, when), "2015-03-01_08-05-09SEO");
    EXPECT_EQ(DefaultExportFileName(ExportKind::Paid, when), "2015-03-01_08-05-09SEM");
    EXPECT_EQ(ExportOpenQuestion("/home/user/2015-03-01_08-05-09SEO.xlsx"),
              "成功导出文件 [ 2015-03-01_08-05-09SEO.xlsx ] \r\n到 [ /home/user ] \r\n"
              "需要现在打开该文件吗 ？");
}

}  // namespace
}  // namespace velquist
