#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <thread>

#include "core/database.h"
#include "engine/query_run.h"
#include "engine_test_support.h"
#include "records/natural_records.h"
#include "records/paid_records.h"
#include "records/rank_history.h"

namespace velquist {
namespace {

using testing::StandinFixture;
using testing::TempDatabase;

class EndListener final : public QueryRunListener {
  public:
    void keywordFinished(QueryKind, std::unique_ptr<STRUCT_WORD>) override {}
    void runEnded(QueryKind) override {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_cv.notify_all();
    }
    bool waitForEnd() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(60), [this] { return m_ended; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_ended = false;
};

std::vector<std::vector<std::string>> Rows(const std::string& db, const std::string& sql,
                                           int columns) {
    DbConnection c(db);
    DbStatement s(c, sql);
    std::vector<std::vector<std::string>> rows;
    int rc;
    while ((rc = s.step()) == kSqliteRow) {
        auto& row = rows.emplace_back();
        for (int i = 0; i < columns; ++i) row.push_back(s.columnText(i));
    }
    EXPECT_EQ(rc, kSqliteDone) << sql;
    return rows;
}

int Count(const std::string& db, const std::string& sql) {
    DbConnection c(db);
    return ReadSingleInt(c, sql);
}

void InsertKeywords(const std::string& db, int count, bool paid) {
    DbConnection c(db);
    for (int i = 0; i < count; ++i) {
        DbStatement s(c, paid ? "INSERT INTO keyword (keyword,unit,plan,keywordId,unitid) VALUES "
                                "(?,'u','p',?,1)"
                              : "INSERT INTO seokeyword (keyword,keywordId) VALUES (?,?)");
        s.bindText(1, "kw" + std::to_string(i));
        s.bindInt(2, i + 1);
        ASSERT_EQ(s.step(), kSqliteDone);
    }
}

// Live rows and history rows of one kind joined on keyword, site, text and number; plus the
// keyword's query time next to its history time.
constexpr const char* kJoinedNatural =
    "SELECT a.keyword, b.url, b.rank, a.time, h.time FROM seokeyword a JOIN seorank b ON "
    "b.keywordId=a.keywordId JOIN historykeyword k ON k.kind=0 AND k.keyword=a.keyword JOIN "
    "historysite s ON s.url=b.url JOIN rankhistory h ON h.historyKeywordId=k.id AND "
    "h.siteId=s.id JOIN historyrank r ON r.id=h.rankId AND r.rank=b.rank WHERE "
    "h.rankNum=b.rankNum";
constexpr const char* kJoinedPaid =
    "SELECT a.keyword, b.url, b.rank, a.time, h.time FROM keyword a JOIN semrank b ON "
    "b.keywordId=a.keywordId JOIN historykeyword k ON k.kind=1 AND k.keyword=a.keyword AND "
    "k.plan=a.plan AND k.unit=a.unit JOIN historysite s ON s.url=b.url JOIN rankhistory h ON "
    "h.historyKeywordId=k.id AND h.siteId=s.id JOIN historyrank r ON r.id=h.rankId AND "
    "r.rank=b.rank WHERE h.rankNum=b.rankNum";

TEST(RankHistoryStoreTest, RunAppendsOneHistoryRowPerKeywordAndEnabledSiteWithTheLiveRows) {
    StandinFixture standin(R"({"planted_sites": [], "keywords": {
        "kw0": {"pages": [["a.cn","www.mine.com/x"]], "ads": {"right": ["mine.com"]}},
        "kw1": {"pages": [["a.cn"]]},
        "kw2": {"pages": [["www.mine.com"]], "ads": {"top": ["mine.com"]}}}})");
    TempDatabase db;
    testing::RecordingSleeper sleeper;
    for (const bool paid : {false, true}) {
        InsertKeywords(db.path(), 3, paid);
        std::atomic<int> pages{1};
        std::atomic<bool> running{false};
        std::atomic<bool> finished{true};
        EndListener listener;
        QueryPage page(paid ? QueryKind::Paid : QueryKind::Natural, listener);
        page.databasePath = db.path();
        page.sites = {{"other.com", 1}, {"www.mine.com", 1}, {"disabled.com", 0}};
        page.scan.endpoints = standin.endpoints();
        page.scan.pageCount = &pages;
        page.scan.sleep = sleeper.sleeper();
        page.running = &running;
        page.finished = &finished;
        std::vector<std::unique_ptr<STRUCT_WORD>> items;
        for (int i = 0; i < 3; ++i) {
            auto item = std::make_unique<STRUCT_WORD>();
            item->id = i + 1;
            item->keyword = "kw" + std::to_string(i);
            item->unit = "u";
            item->plan = "p";
            items.push_back(std::move(item));
        }
        BeginQueryRun(page, std::move(items));
        ASSERT_TRUE(listener.waitForEnd());
        // The last worker sets `finished` after the end event: it must be done before the flag
        // goes out of scope.
        ASSERT_TRUE(JoinWorkers(std::chrono::seconds(30)));
    }
    // Each run's keywords have their checks once per enabled site, equal to the live rows.
    for (const bool paid : {false, true}) {
        const std::string kind = paid ? "1" : "0";
        EXPECT_EQ(Count(db.path(),
                        "SELECT COUNT(*) FROM rankhistory h JOIN historykeyword k ON "
                        "k.id=h.historyKeywordId WHERE k.kind=" +
                            kind),
                  6);
        const auto joined = Rows(db.path(), paid ? kJoinedPaid : kJoinedNatural, 5);
        ASSERT_EQ(joined.size(), 6u) << kind;
        for (const auto& row : joined)
            EXPECT_EQ(row.at(3), FormatLocalTime(std::stoll(row.at(4)))) << row.at(0);
    }
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM historysite WHERE url='disabled.com'"), 0);
    const auto series = LoadRankSeries(db.path(), {RankKind::Natural, "kw2", "", ""});
    ASSERT_TRUE(series);
    ASSERT_EQ(series->size(), 2u);
    EXPECT_EQ((*series)[1].url, "www.mine.com");
    EXPECT_EQ((*series)[1].points.at(0).rankText, "第1名，第1页");
    const auto paid = LoadRankSeries(db.path(), {RankKind::Paid, "kw0", "p", "u"});
    ASSERT_TRUE(paid);
    EXPECT_EQ(paid->at(1).points.at(0).rankText, "右1");
}

// One stored check of "kw0" (keyword 1): a ranked site, an absent one and a failed one.
STRUCT_WORD CheckedItem() {
    STRUCT_WORD item;
    item.id = 1;
    item.keyword = "kw0";
    item.unit = "u";
    item.plan = "p";
    item.sites.resize(3);
    item.sites[0].url = "good.com";
    item.sites[0].rankText = "第3名，第1页";
    item.sites[0].rankNum = 3;
    item.sites[1].url = "absent.com";
    item.sites[1].rankNum = 50;
    item.sites[2].url = "bad.com";
    item.sites[2].failed = true;
    item.sites[2].rankNum = 7;
    return item;
}

TEST(RankHistoryStoreTest, HistoryIsWrittenExactlyWhenTheLiveRowsAre) {
    struct Case {
        const char* name;
        const char* setup;  // run before the store
        bool stored;
        int historyRows;
    };
    const Case cases[] = {
        {"stored", "", true, 3},
        {"history refused",
         "CREATE TRIGGER refuse BEFORE INSERT ON rankhistory BEGIN SELECT RAISE(ABORT, 'x'); END",
         false, 0},
        {"live row refused",
         "CREATE TRIGGER refuse BEFORE INSERT ON seorank WHEN NEW.url='bad.com' BEGIN SELECT "
         "RAISE(ABORT, 'x'); END",
         false, 0},
        {"keyword deleted meanwhile", "DELETE FROM seokeyword", true, 0},
    };
    for (const auto& c : cases) {
        TempDatabase db;
        InsertKeywords(db.path(), 1, false);
        {
            DbConnection conn(db.path());
            ASSERT_EQ(conn.execute("INSERT INTO seorank (rank,url,keywordId,rankNum) VALUES "
                                   "('第1名，第1页','old.com',1,1)"),
                      kSqliteOk);
            if (*c.setup) {
                ASSERT_EQ(conn.execute(c.setup), kSqliteOk) << c.name;
            }
        }
        EXPECT_EQ(StoreNaturalResults(db.path(), CheckedItem()), c.stored) << c.name;
        EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM rankhistory"), c.historyRows) << c.name;
        const bool replaced = c.historyRows > 0;
        // The old live row goes exactly when the new check is kept.
        EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE url='old.com'"),
                  replaced ? 0 : 1)
            << c.name;
        if (!c.stored) {
            EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seokeyword WHERE time IS NOT NULL"), 0)
                << c.name;
        }
        if (replaced) {
            EXPECT_EQ(
                Rows(db.path(),
                     "SELECT s.url, h.state, h.rankNum FROM rankhistory h JOIN historysite s "
                     "ON s.id=h.siteId ORDER BY s.url",
                     3),
                (std::vector<std::vector<std::string>>{
                    {"absent.com", "1", "50"}, {"bad.com", "2", "7"}, {"good.com", "0", "3"}}))
                << c.name;
        }
    }
}

// Live rows of keyword `id` by url, and the latest history check of "kw{id-1}" by url; with the
// keyword's query time and the latest check's time.
struct Agreement {
    std::map<std::string, std::string> live;
    std::map<std::string, std::string> latest;
    std::string liveTime;
    std::string latestTime;
};

Agreement Compare(const std::string& db, int id) {
    Agreement a;
    for (const auto& row : Rows(db,
                                "SELECT url, rank || '/' || rankNum FROM seorank WHERE keywordId=" +
                                    std::to_string(id),
                                2))
        a.live[row.at(0)] = row.at(1);
    const auto time =
        Rows(db, "SELECT time FROM seokeyword WHERE keywordId=" + std::to_string(id), 1);
    a.liveTime = time.empty() ? "" : time[0][0];
    const auto checks =
        LoadLatestChecks(db, {{RankKind::Natural, "kw" + std::to_string(id - 1), "", ""}});
    EXPECT_TRUE(checks);
    if (checks && checks->at(0).time != 0) {
        a.latestTime = FormatLocalTime(checks->at(0).time);
        for (const auto& site : checks->at(0).sites)
            a.latest[site.url] = site.latest.rankText + "/" + std::to_string(site.latest.rankNum);
    }
    return a;
}

TEST(RankHistoryStoreTest, KillDuringStoresLeavesLiveRowsAndHistoryInAgreement) {
    TempDatabase db;
    constexpr int kKeywords = 4;
    InsertKeywords(db.path(), kKeywords, false);
    const std::string journal = db.path() + "-journal";
    int killedInsideTransaction = 0;
    int rounds = 0;
    for (; rounds < 20 && killedInsideTransaction < 3; ++rounds) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Stores until killed; every check differs from the one before.
            for (int i = rounds * 100000 + 1;; ++i)
                for (int k = 1; k <= kKeywords; ++k) {
                    STRUCT_WORD item = CheckedItem();
                    item.id = k;
                    item.keyword = "kw" + std::to_string(k - 1);
                    item.sites[0].rankNum = i % 97 + 1;
                    item.sites[0].rankText = "第" + std::to_string(item.sites[0].rankNum) + "名";
                    item.sites[1].rankNum = i;
                    item.sites[2].failed = i % 3 == 0;
                    StoreNaturalResults(db.path(), item);
                }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + 23 * rounds));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        // A journal left behind means the kill landed inside a transaction.
        std::error_code ec;
        if (std::filesystem::file_size(journal, ec) > 0 && !ec) ++killedInsideTransaction;

        for (int k = 1; k <= kKeywords; ++k) {
            const Agreement a = Compare(db.path(), k);
            EXPECT_EQ(a.live, a.latest) << "round " << rounds << " keyword " << k;
            EXPECT_EQ(a.liveTime, a.latestTime) << "round " << rounds << " keyword " << k;
        }
        // No check was kept in part.
        EXPECT_EQ(Count(db.path(),
                        "SELECT COUNT(*) FROM (SELECT 1 FROM rankhistory GROUP BY "
                        "historyKeywordId, time HAVING COUNT(*) <> 3)"),
                  0)
            << "round " << rounds;
    }
    EXPECT_GE(killedInsideTransaction, 3) << "after " << rounds << " rounds";
    EXPECT_GT(Count(db.path(), "SELECT COUNT(*) FROM rankhistory"), 0);
}

TEST(RankHistoryStoreTest, RestartAndRunsClearTheLiveResultsButKeepTheHistory) {
    TempDatabase db;
    InsertKeywords(db.path(), 1, false);
    InsertKeywords(db.path(), 1, true);
    ASSERT_TRUE(StoreNaturalResults(db.path(), CheckedItem()));
    ASSERT_TRUE(StorePaidResults(db.path(), CheckedItem()));
    ASSERT_EQ(Count(db.path(), "SELECT COUNT(*) FROM rankhistory"), 6);

    // What a start does: the schema step, then the window clears both kinds of results; each
    // run clears its own kind first.
    const std::filesystem::path path = db.path();
    SilentNotifier quiet;
    ASSERT_TRUE(PrepareDatabase(path.parent_path().parent_path().string(),
                                path.parent_path().string(), db.path(), quiet));
    clearResults(db.path());
    ASSERT_TRUE(clearNaturalResults(db.path()));
    ASSERT_TRUE(clearPaidResults(db.path()));

    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank"), 0);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM semrank"), 0);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM rankhistory"), 6);
    const auto checks = LoadLatestChecks(
        db.path(), {{RankKind::Natural, "kw0", "", ""}, {RankKind::Paid, "kw0", "p", "u"}});
    ASSERT_TRUE(checks);
    for (const auto& check : *checks) {
        ASSERT_EQ(check.sites.size(), 3u) << check.key.plan;
        EXPECT_EQ(check.sites[2].latest.rankText, "第3名，第1页");
    }
}

}  // namespace
}  // namespace velquist
