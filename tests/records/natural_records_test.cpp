#include "records/natural_records.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "records/site_records.h"
#include "records_test_support.h"

namespace velquist {
namespace {

using testing::RecordingNotifier;
using testing::RecordsTest;

using NaturalRecords = RecordsTest;

const char* const kPartly = "您添加的内容包含已有的或重复的项，其余项已添加完毕";

TEST_F(NaturalRecords, AddSkipsAnExistingKeywordAndKeepsItsIdUnused) {
    exec("INSERT INTO seokeyword (keyword,keywordId) VALUES ('乙',7)");
    RecordingNotifier notifier;
    std::vector<std::string> events;
    const auto outcome = addNaturalKeywords(dbPath(), {"甲", "乙", "丙"}, notifier, [&](int added) {
        events.push_back("committed " + std::to_string(added) + " after " +
                         std::to_string(notifier.messages.size()) + " messages");
    });

    EXPECT_TRUE(outcome.committed);
    EXPECT_EQ(outcome.requested, 3);
    EXPECT_EQ(outcome.added, 2);
    EXPECT_EQ(outcome.skipped, 1);
    EXPECT_EQ(rows("SELECT keyword,keywordId FROM seokeyword ORDER BY keywordId"),
              (std::vector<std::vector<std::string>>{{"乙", "7"}, {"甲", "8"}, {"丙", "10"}}));
    // The page reloads before the final message appears.
    EXPECT_EQ(events, std::vector<std::string>{"committed 2 after 0 messages"});
    EXPECT_EQ(notifier.messages, std::vector<std::string>{kPartly});
    EXPECT_EQ(notifier.captions, std::vector<std::string>{"提示"});
}

TEST_F(NaturalRecords, FirstKeywordOfAnEmptyTableGetsIdOne) {
    RecordingNotifier notifier;
    const auto outcome = addNaturalKeywords(dbPath(), {"first", "second"}, notifier);
    EXPECT_EQ(outcome.added, 2);
    EXPECT_EQ(column("SELECT keywordId FROM seokeyword ORDER BY id"),
              (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"添加完毕"});
}

TEST_F(NaturalRecords, KeywordRepeatedInOneBatchIsStoredOnce) {
    RecordingNotifier notifier;
    const auto outcome = addNaturalKeywords(dbPath(), {"x", "x", "y"}, notifier);
    EXPECT_EQ(outcome.added, 2);
    EXPECT_EQ(outcome.skipped, 1);
    EXPECT_EQ(rows("SELECT keyword,keywordId FROM seokeyword ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"x", "1"}, {"y", "3"}}));
    EXPECT_EQ(notifier.messages, std::vector<std::string>{kPartly});
}

TEST_F(NaturalRecords, BlankKeywordsAreDroppedAndNotCounted) {
    RecordingNotifier notifier;
    const auto outcome =
        addNaturalKeywords(dbPath(), {"", "   ", "\t\r\n", "real", " \v\f "}, notifier);
    EXPECT_TRUE(outcome.committed);
    EXPECT_EQ(outcome.requested, 1);
    EXPECT_EQ(outcome.added, 1);
    EXPECT_EQ(outcome.skipped, 0);
    EXPECT_EQ(rows("SELECT keyword,keywordId FROM seokeyword"),
              (std::vector<std::vector<std::string>>{{"real", "1"}}));
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"添加完毕"});
}

TEST_F(NaturalRecords, UnusualKeywordsRoundTripExactly) {
    std::string longChinese;
    for (int i = 0; i < 500; ++i) longChinese += "词";
    const std::vector<std::string> keywords = {
        "it's \"quoted\"",     "a; DROP TABLE seokeyword; --",
        "' OR 1=1 --",         "SELECT * FROM website",
        "表情🙂👍🏽",  longChinese,
        std::string(500, 'k'), " padded\tinside ",
        "%s {0} \\n",
    };
    RecordingNotifier notifier;
    const auto outcome = addNaturalKeywords(dbPath(), keywords, notifier);
    ASSERT_EQ(outcome.added, static_cast<int>(keywords.size()));

    const auto list = loadNaturalList(dbPath(), {"a.com"});
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->rows.size(), keywords.size());
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        EXPECT_EQ(list->rows[i].keyword, keywords[i]);
        EXPECT_EQ(list->rows[i].keywordId, static_cast<int>(i) + 1);
    }
    EXPECT_EQ(count("website"), 0);
}

TEST_F(NaturalRecords, FailedInsertRollsTheWholeBatchBack) {
    exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON seokeyword WHEN NEW.keyword='boom' "
        "BEGIN SELECT RAISE(ABORT,'refused'); END");
    RecordingNotifier notifier;
    bool committedCalled = false;
    const auto outcome = addNaturalKeywords(dbPath(), {"a", "boom", "c"}, notifier,
                                            [&](int) { committedCalled = true; });
    EXPECT_FALSE(outcome.committed);
    EXPECT_FALSE(committedCalled);
    EXPECT_EQ(count("seokeyword"), 0);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"添加失败"});
}

class NaturalListLoad : public RecordsTest {
  protected:
    void SetUp() override {
        RecordsTest::SetUp();
        exec(
            "INSERT INTO seokeyword (keyword,keywordId,time) VALUES "
            "('queried',1,'2024-05-01 10:00:00'),('never',2,NULL),('stray',3,'2024-05-01 "
            "11:00:00')");
        exec(
            "INSERT INTO seorank (rank,rankNum,url,keywordId) VALUES "
            "('第3名，第1页',3,'a.com',1),('第14名，第2页',14,'b.com',1),"
            "('无',1000,'gone.com',3)");
    }
};

TEST_F(NaturalListLoad, ResultsLandUnderTheirHeadingsAndAKeywordCountsOnce) {
    const auto list = loadNaturalList(dbPath(), {"b.com", "a.com"});
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->rows.size(), 3u);
    EXPECT_EQ(list->queriedCount, 2);  // 'queried' once despite two results, and 'stray'

    const auto& queried = list->rows[0];
    EXPECT_EQ(queried.keyword, "queried");
    EXPECT_EQ(queried.time, "2024-05-01 10:00:00");
    ASSERT_EQ(queried.sites.size(), 2u);
    EXPECT_EQ(queried.sites[0].url, "b.com");
    EXPECT_EQ(queried.sites[0].rankText, "第14名，第2页");
    EXPECT_EQ(queried.sites[0].rankNum, 14);
    EXPECT_EQ(queried.sites[1].url, "a.com");
    EXPECT_EQ(queried.sites[1].rankNum, 3);

    const auto& never = list->rows[1];
    EXPECT_EQ(never.keywordId, 2);
    EXPECT_EQ(never.time, "");
    ASSERT_EQ(never.sites.size(), 2u);
    // The join's NULL url lands in the first column as an empty result.
    EXPECT_EQ(never.sites[0].url, "");
    EXPECT_EQ(never.sites[0].rankText, "");
    EXPECT_EQ(never.sites[1].url, "");

    // A result for a site that has no column is not shown; the keyword was still queried.
    const auto& stray = list->rows[2];
    EXPECT_EQ(stray.time, "2024-05-01 11:00:00");
    for (const auto& site : stray.sites) {
        EXPECT_EQ(site.url, "");
        EXPECT_EQ(site.rankText, "");
        EXPECT_EQ(site.rankNum, 0);
    }
}

TEST_F(NaturalListLoad, WithoutSiteColumnsRowsCarryNoResults) {
    const auto list = loadNaturalList(dbPath(), {});
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->rows.size(), 3u);
    for (const auto& row : list->rows) EXPECT_TRUE(row.sites.empty());
    EXPECT_EQ(list->queriedCount, 2);
}

TEST_F(NaturalListLoad, LongRankTextIsCutOnACharacterBoundary) {
    // Eleven three-byte characters: 33 bytes, cut to the ten that fit in 31.
    exec("UPDATE seorank SET rank='一二三四五六七八九十壹' WHERE url='a.com'");
    const auto list = loadNaturalList(dbPath(), {"a.com", "b.com"});
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->rows[0].sites[0].rankText, "一二三四五六七八九十");
}

TEST_F(NaturalListLoad, SortsByTheGivenColumnAndRefusesComposedSql) {
    const auto descending = loadNaturalList(dbPath(), {"a.com"}, "a.keywordId", "desc");
    ASSERT_TRUE(descending.has_value());
    ASSERT_EQ(descending->rows.size(), 3u);
    EXPECT_EQ(descending->rows[0].keywordId, 3);
    EXPECT_EQ(descending->rows[2].keywordId, 1);

    EXPECT_FALSE(loadNaturalList(dbPath(), {}, "id; DROP TABLE seokeyword", "ASC").has_value());
    EXPECT_FALSE(loadNaturalList(dbPath(), {}, "id", "ASC; DELETE FROM seorank").has_value());
    // A column the statement cannot use is a failed read, not an empty list.
    EXPECT_FALSE(loadNaturalList(dbPath(), {}, "keywordId", "ASC").has_value());
    EXPECT_EQ(count("seokeyword"), 3);
    EXPECT_EQ(count("seorank"), 3);
}

TEST_F(RecordsTest, EmptyKeywordTableLoadsAsAnEmptyList) {
    const auto list = loadNaturalList(dbPath(), {"a.com"});
    ASSERT_TRUE(list.has_value());
    EXPECT_TRUE(list->rows.empty());
    EXPECT_EQ(list->queriedCount, 0);
}

TEST_F(NaturalListLoad, DeleteRemovesKeywordsWithTheirResults) {
    RecordingNotifier notifier;
    EXPECT_TRUE(deleteNaturalKeywords(dbPath(), {{1, "queried"}, {3, "stray"}}, notifier));
    EXPECT_TRUE(notifier.messages.empty());
    EXPECT_EQ(column("SELECT keyword FROM seokeyword"), std::vector<std::string>{"never"});
    EXPECT_EQ(count("seorank"), 0);
}

TEST_F(NaturalListLoad, FailedDeleteLeavesEverything) {
    exec(
        "CREATE TRIGGER keep BEFORE DELETE ON seorank WHEN OLD.keywordId=3 "
        "BEGIN SELECT RAISE(ABORT,'kept'); END");
    RecordingNotifier notifier;
    EXPECT_FALSE(deleteNaturalKeywords(dbPath(), {{1, "queried"}, {3, "stray"}}, notifier));
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"删除关键词失败！"});
    EXPECT_EQ(count("seokeyword"), 3);
    EXPECT_EQ(count("seorank"), 3);
}

TEST_F(NaturalListLoad, ClearingResetsResultsAndCountsEverySite) {
    exec("INSERT INTO semrank (rank,rankNum,url,keywordId) VALUES ('左1',1,'a.com',1)");
    exec(
        "INSERT INTO website (urlid,url,selected) VALUES "
        "(0,'z.com',1),(1,'a.com',0),(2,'m.com',1)");
    clearResults(dbPath());
    EXPECT_EQ(Process().siteColumnCount.load(), 3);
    const auto sites = Process().promotionSites();
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0].url, "a.com");
    EXPECT_EQ(sites[0].selected, 0);
    EXPECT_EQ(sites[2].url, "z.com");
    EXPECT_EQ(count("seorank"), 0);
    EXPECT_EQ(count("semrank"), 0);
    EXPECT_EQ(count("seokeyword"), 3);

    exec("INSERT INTO seorank (rank,rankNum,url,keywordId) VALUES ('第1名，第1页',1,'a.com',1)");
    EXPECT_TRUE(clearNaturalResults(dbPath()));
    EXPECT_EQ(count("seorank"), 0);
}

// Two processes add at the same time into one database: each batch is one transaction and the
// highest id is read under the write lock, so no id is handed out twice.
TEST_F(RecordsTest, TwoProcessesAddingAtOnceNeverShareAnId) {
    constexpr int kPerProcess = 5000;
    const auto batch = [](int first) {
        std::vector<std::string> keywords;
        for (int i = first; i < first + kPerProcess; ++i)
            keywords.push_back("词" + std::to_string(i));
        return keywords;
    };
    // Overlapping halves: 2500 keywords are in both batches.
    const std::vector<std::vector<std::string>> batches = {batch(0), batch(2500)};

    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);
    std::vector<pid_t> children;
    for (const auto& keywords : batches) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipes[0]);
            alarm(120);  // never outlive a stuck test
            SilentNotifier silent;
            const auto outcome = addNaturalKeywords(dbPath(), keywords, silent);
            const int added = outcome.committed ? outcome.added : -1;
            const ssize_t written = write(pipes[1], &added, sizeof added);
            _exit(written == sizeof added ? 0 : 2);
        }
        children.push_back(pid);
    }
    close(pipes[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
    for (const pid_t pid : children) {
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "child " << pid << " did not finish";
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int totalAdded = 0;
    for (int added = 0; read(pipes[0], &added, sizeof added) == sizeof added;) {
        EXPECT_GE(added, 2500);
        totalAdded += added;
    }
    close(pipes[0]);

    EXPECT_EQ(totalAdded, 7500);
    EXPECT_EQ(count("seokeyword"), 7500);
    EXPECT_EQ(rows("SELECT COUNT(DISTINCT keywordId), COUNT(DISTINCT keyword) FROM seokeyword"),
              (std::vector<std::vector<std::string>>{{"7500", "7500"}}));
}

}  // namespace
}  // namespace velquist
