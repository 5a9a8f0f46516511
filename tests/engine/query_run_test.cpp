#include "engine/query_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <thread>

#include "core/database.h"
#include "engine/run_lock.h"
#include "engine_test_support.h"

namespace velquist {
namespace {

using testing::FillerPage;
using testing::RecordingSleeper;
using testing::StandinFixture;
using testing::TempDatabase;
using testing::TempFolder;

// Collects the run's events in arrival order; "run ended" wakes the waiting test.
class RecordingListener final : public QueryRunListener {
  public:
    void keywordFinished(QueryKind, std::unique_ptr<STRUCT_WORD> item) override {
        std::lock_guard lock(m_mutex);
        events.push_back("keyword");
        items.push_back(std::move(item));
    }
    void runEnded(QueryKind) override {
        std::lock_guard lock(m_mutex);
        events.push_back("end");
        m_cv.notify_all();
    }
    bool waitForEnd(std::chrono::seconds limit) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, limit, [this] {
            return std::find(events.begin(), events.end(), "end") != events.end();
        });
    }
    int keywordEvents() {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(items.size());
    }

    std::vector<std::string> events;
    std::vector<std::unique_ptr<STRUCT_WORD>> items;

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

std::string World(int keywords, int delayMs) {
    std::string world = R"({"planted_sites": [], "keywords": {)";
    for (int i = 0; i < keywords; ++i) {
        world += std::string(i ? "," : "") + "\"kw" + std::to_string(i) + "\": {\"pages\": [" +
                 (i % 2 ? FillerPage("k") : std::string(R"(["a.cn","www.mine.com/x"])")) +
                 "], \"ads\": {\"right\": [\"mine.com\"]}" +
                 (delayMs ? ", \"delay_ms\": " + std::to_string(delayMs) : std::string()) + "}";
    }
    return world + "}}";
}

std::vector<std::unique_ptr<STRUCT_WORD>> Items(int count) {
    std::vector<std::unique_ptr<STRUCT_WORD>> items;
    for (int i = 0; i < count; ++i) {
        auto item = std::make_unique<STRUCT_WORD>();
        item->id = i + 1;
        item->keyword = "kw" + std::to_string(i);
        items.push_back(std::move(item));
    }
    return items;
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

int Count(const std::string& db, const std::string& sql) {
    DbConnection c(db);
    return ReadSingleInt(c, sql);
}

class QueryRunTest : public ::testing::Test {
  protected:
    void configure(QueryPage& page, const StandinFixture& standin) {
        page.databasePath = db.path();
        page.sites = {{"other.com", 1}, {"www.mine.com", 1}, {"disabled.com", 0}};
        page.scan.endpoints = standin.endpoints();
        page.scan.pageCount = &pages;
        page.scan.sleep = sleeper.sleeper();
        page.running = &running;
        page.finished = &finished;
        page.httpTimeoutSeconds = 20;
    }

    // The last worker sets the finished flag after its "run ended" has returned, so a test that
    // waited only for that event could free the flag under it.
    void TearDown() override {
        for (int i = 0; i < 3000 && !finished.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // And no worker thread outlives the test, so none is still exiting when the program
        // does.
        EXPECT_TRUE(JoinWorkers(std::chrono::seconds(30)));
    }

    TempDatabase db;
    std::atomic<int> pages{1};
    std::atomic<bool> running{false};
    std::atomic<bool> finished{true};
    RecordingSleeper sleeper;
};

TEST_F(QueryRunTest, SevenKeywordsGiveSevenEventsThenOneEndAndStoreEveryResult) {
    StandinFixture standin(World(7, 0));
    InsertKeywords(db.path(), 7, false);
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);

    EXPECT_EQ(BeginQueryRun(page, Items(7)), 5);
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(60)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a late event would show here
    ASSERT_EQ(listener.events.size(), 8u);
    EXPECT_EQ(listener.events.back(), "end");
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(running.load());
    for (const auto& item : listener.items) {
        ASSERT_EQ(item->siteCount(), 2);  // enabled sites only
        const bool planted = (item->id - 1) % 2 == 0;
        EXPECT_EQ(item->sites[1].rankText, planted ? "第2名，第1页" : "") << item->keyword;
        EXPECT_EQ(item->sites[0].rankText, "");
    }
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank"), 14);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE rank='无'"), 7 + 3);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seokeyword WHERE time IS NOT NULL"), 7);
    // Four seconds between the keywords of one worker, as long as the run goes.
    const auto waits = sleeper.waits();
    EXPECT_GE(std::count(waits.begin(), waits.end(), 4000), 2);
}

int ThreadCount() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator{}));
}

// A program that exits right after a run's end must not have a worker still leaving its thread:
// the thread's own clean-up would run against libraries the exit is tearing down.
TEST_F(QueryRunTest, AfterTheEndNoWorkerThreadIsLeftOnceJoined) {
    StandinFixture standin(World(5, 0));
    InsertKeywords(db.path(), 5, false);
    const int before = ThreadCount();
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    ASSERT_EQ(BeginQueryRun(page, Items(5)), 5);
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(60)));
    EXPECT_TRUE(JoinWorkers(std::chrono::seconds(10)));
    EXPECT_EQ(ThreadCount(), before);
}

TEST_F(QueryRunTest, PaidRunStoresSlotsAndUsesTheShortPause) {
    StandinFixture standin(World(2, 0));
    InsertKeywords(db.path(), 2, true);
    RecordingListener listener;
    QueryPage page(QueryKind::Paid, listener);
    configure(page, standin);
    auto items = Items(2);
    for (auto& item : items) {
        item->unit = "u";
        item->plan = "p";
    }
    BeginQueryRun(page, std::move(items));
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(60)));
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM semrank WHERE rank='右1' AND rankNum=51"), 2);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM keyword WHERE time IS NOT NULL"), 2);
    for (const auto w : sleeper.waits()) EXPECT_NE(w, 4000);
}

TEST_F(QueryRunTest, StopWithFiveInFlightGivesAtMostFiveMoreThenOneEnd) {
    StandinFixture standin(World(12, 800));
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    BeginQueryRun(page, Items(12));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // five requests are stalled now
    RequestStop(page);
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(30)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(listener.keywordEvents(), 5);
    EXPECT_GE(listener.keywordEvents(), 1);
    EXPECT_EQ(listener.events.back(), "end");
    EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "end"), 1);
    // The rest stays queued for the page to free.
    EXPECT_EQ(static_cast<std::size_t>(listener.keywordEvents()) + page.queue.count(), 12u);
    EXPECT_LE(standin.server.requestCount(), 5);
}

TEST_F(QueryRunTest, NoEnabledSiteEmptiesTheQueueAndEnds) {
    StandinFixture standin(World(3, 0));
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    page.sites = {{"off.com", 0}};
    BeginQueryRun(page, Items(3));
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(10)));
    EXPECT_EQ(listener.events, std::vector<std::string>{"end"});
    EXPECT_EQ(standin.server.requestCount(), 0);
}

TEST_F(QueryRunTest, FailedInsertKeepsTheKeywordsOldResultsAndQueryTime) {
    InsertKeywords(db.path(), 1, false);
    {
        DbConnection c(db.path());
        DbStatement old(
            c,
            "INSERT INTO seorank (rank,url,keywordId,rankNum) VALUES ('第1名，第1页','a.com',1,1)");
        ASSERT_EQ(old.step(), kSqliteDone);
        DbStatement trigger(c,
                            "CREATE TRIGGER refuse BEFORE INSERT ON seorank WHEN NEW.url='bad.com' "
                            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        ASSERT_EQ(trigger.step(), kSqliteDone);
    }
    STRUCT_WORD item;
    item.id = 1;
    item.keyword = "k";
    item.sites.resize(2);
    item.sites[0].url = "good.com";
    item.sites[1].url = "bad.com";
    item.keyword = "kw0";
    EXPECT_FALSE(StoreNaturalResults(db.path(), item));
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE keywordId=1 AND url='a.com'"),
              1);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE url='good.com'"), 0);
    // The query time belongs to the same change: a keyword never shows a time without results.
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seokeyword WHERE time IS NOT NULL"), 0);

    item.sites.pop_back();
    EXPECT_TRUE(StoreNaturalResults(db.path(), item));
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE keywordId=1"), 1);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE rank='无' AND url='good.com'"),
              1);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seokeyword WHERE time IS NOT NULL"), 1);
}

TEST_F(QueryRunTest, StoreWritesNothingWhenItsTransactionCannotBegin) {
    for (const bool paid : {false, true}) {
        TempDatabase fresh;
        InsertKeywords(fresh.path(), 1, paid);
        STRUCT_WORD item;
        item.id = 1;
        item.keyword = "kw0";
        item.unit = "u";
        item.plan = "p";
        item.sites.resize(1);
        item.sites[0].url = "good.com";
        DbConnection c(fresh.path());
        // A transaction already open on the connection makes "BEGIN IMMEDIATE" fail.
        ASSERT_EQ(c.execute("BEGIN"), kSqliteOk);
        EXPECT_FALSE(paid ? StorePaidResults(c, item) : StoreNaturalResults(c, item));
        ASSERT_EQ(c.execute("COMMIT"), kSqliteOk);
        const std::string table = paid ? "semrank" : "seorank";
        EXPECT_EQ(Count(fresh.path(), "SELECT COUNT(*) FROM " + table), 0) << table;
        EXPECT_EQ(
            Count(fresh.path(), std::string("SELECT COUNT(*) FROM ") +
                                    (paid ? "keyword" : "seokeyword") + " WHERE time IS NOT NULL"),
            0)
            << table;
    }
}

TEST_F(QueryRunTest, ResultsOfAKeywordDeletedDuringItsCheckAreDropped) {
    InsertKeywords(db.path(), 2, false);
    STRUCT_WORD item;
    item.id = 2;
    item.keyword = "kw1";
    item.sites.resize(1);
    item.sites[0].url = "a.com";
    item.sites[0].rankText = "第3名，第1页";
    {
        DbConnection c(db.path());
        ASSERT_EQ(c.execute("DELETE FROM seokeyword WHERE keywordId=2"), kSqliteOk);
    }
    EXPECT_TRUE(StoreNaturalResults(db.path(), item));  // nothing was due
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank"), 0);
    item.id = 1;
    item.keyword = "kw0";
    EXPECT_TRUE(StoreNaturalResults(db.path(), item));
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE keywordId=1"), 1);
}

TEST_F(QueryRunTest, WorkersStoreWhileAnotherProcessReads) {
    StandinFixture standin(World(10, 0));
    InsertKeywords(db.path(), 10, false);
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        // The child reads the joined list over and over until the run is surely over.
        int failures = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < until) {
            DbConnection c;
            if (!c.open(db.path())) ++failures;
            DbStatement s(
                c,
                "SELECT a.keywordId,a.keyword,a.time,b.rank,b.url,b.rankNum FROM seokeyword "
                "AS a LEFT JOIN seorank AS b ON a.keywordId=b.keywordId ORDER BY id, url ASC");
            int rc;
            while ((rc = s.step()) == kSqliteRow) {
            }
            if (rc != kSqliteDone) ++failures;
        }
        _exit(failures == 0 ? 0 : 1);
    }
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    BeginQueryRun(page, Items(10));
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(60)));
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank"), 20);
}

TEST_F(QueryRunTest, StopDuringAStalledFetchEndsWhenTheTransferReturns) {
    StandinFixture standin(World(1, 1500));
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    page.httpTimeoutSeconds = 5;
    const auto start = std::chrono::steady_clock::now();
    BeginQueryRun(page, Items(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RequestStop(page);
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(20)));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1400));  // the transfer was not cut
    EXPECT_EQ(standin.server.requestCount(), 1);       // and no further attempt followed
    ASSERT_EQ(listener.items.size(), 1u);
    EXPECT_EQ(listener.items[0]->sites[1].rankText, "第2名，第1页");
}

// A check that could not be finished is stored and shown as failed, never as "not found".
TEST_F(QueryRunTest, UnfinishedChecksAreFailedNotAbsent) {
    const std::string world = R"({"planted_sites": [], "keywords": {
        "kw0": {"verify": true},
        "kw1": {"pages": [["www.mine.com/x"]], "ads": {"right": ["mine.com"]}},
        "kw2": {"pages": [["a.cn"]], "fail_times": 20}}})";
    for (const auto kind : {QueryKind::Natural, QueryKind::Paid}) {
        StandinFixture standin(world);
        TempDatabase fresh;
        InsertKeywords(fresh.path(), 3, kind == QueryKind::Paid);
        RecordingListener listener;
        QueryPage page(kind, listener);
        configure(page, standin);
        page.databasePath = fresh.path();
        auto items = Items(3);
        for (auto& item : items) {
            item->unit = "u";
            item->plan = "p";
        }
        BeginQueryRun(page, std::move(items));
        ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(60)));
        ASSERT_EQ(listener.items.size(), 3u);
        for (const auto& item : listener.items) {
            const bool good = item->keyword == "kw1";
            EXPECT_EQ(item->checkFailed(), !good) << item->keyword;
            EXPECT_TRUE(item->stored) << item->keyword;
            EXPECT_EQ(item->sites[0].resultText(), good ? "无" : "查询失败") << item->keyword;
        }
        const std::string table = kind == QueryKind::Paid ? "semrank" : "seorank";
        EXPECT_EQ(Count(fresh.path(), "SELECT COUNT(*) FROM " + table + " WHERE rank='查询失败'"),
                  4)
            << table;
        // The verification page ends its keyword after one request.
        EXPECT_EQ(standin.server.requestCountFor("kw0"), 1);
    }
}

TEST_F(QueryRunTest, StopInTheMiddleOfAKeywordIsAFailedCheck) {
    StandinFixture standin(World(1, 600));
    InsertKeywords(db.path(), 1, false);
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    page.sites = {{"absent.com", 1}, {"a.cn", 1}};
    pages = 3;
    BeginQueryRun(page, Items(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // page 1 is on its way
    RequestStop(page);
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(20)));
    ASSERT_EQ(listener.items.size(), 1u);
    const auto& sites = listener.items[0]->sites;
    EXPECT_EQ(sites[0].resultText(), "查询失败");      // not found on page 1, pages 2-3 never read
    EXPECT_EQ(sites[1].resultText(), "第1名，第1页");  // found before the stop: a real rank
    EXPECT_EQ(Count(db.path(), "SELECT COUNT(*) FROM seorank WHERE rank='查询失败'"), 1);
}

TEST_F(QueryRunTest, OversizedPageIsAFailedCheckWithoutRetries) {
    StandinFixture standin(World(2, 0));
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    page.maxPageBytes = 16 * 1024;  // every stand-in page is larger
    BeginQueryRun(page, Items(2));
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(30)));
    ASSERT_EQ(listener.items.size(), 2u);
    for (const auto& item : listener.items) EXPECT_TRUE(item->checkFailed()) << item->keyword;
    EXPECT_EQ(standin.server.requestCount(), 2);
}

// The end of a run comes exactly once, and only after the last worker let go of the page, even
// when a stop lands between two worker starts. The page is freed as soon as the end arrives, so
// a worker still reading it shows under the sanitizers.
TEST_F(QueryRunTest, StopBetweenWorkerStartsEndsTheRunOnce) {
    StandinFixture standin(World(7, 0));
    for (int round = 0; round < 40; ++round) {
        RecordingListener listener;
        std::atomic<int> endsSeenWhileFinished{0};
        auto page = std::make_unique<QueryPage>(QueryKind::Natural, listener);
        configure(*page, standin);
        QueryPage* raw = page.get();
        page->afterWorkerStart = [raw, round](int started) {
            if (started == 1 + round % 3) {
                RequestStop(*raw);
                std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
            }
        };
        BeginQueryRun(*page, Items(7));
        ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(30))) << round;
        page.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a late end would show
        EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "end"), 1) << round;
        EXPECT_TRUE(finished.load()) << round;
        finished = true;
    }
}

// An owner that frees the page when the finished flag is set must not free it under the
// run-end callback.
TEST_F(QueryRunTest, FinishedFlagIsSetAfterTheRunEndReturns) {
    StandinFixture standin(World(1, 0));
    class CheckingListener final : public QueryRunListener {
      public:
        explicit CheckingListener(std::atomic<bool>& finished) : m_finished(finished) {}
        void keywordFinished(QueryKind, std::unique_ptr<STRUCT_WORD>) override {}
        void runEnded(QueryKind) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            finishedDuringEnd = m_finished.load();
            ended = true;
        }
        std::atomic<bool> ended{false};
        std::atomic<bool> finishedDuringEnd{true};

      private:
        std::atomic<bool>& m_finished;
    } listener(finished);
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    BeginQueryRun(page, Items(1));
    for (int i = 0; i < 3000 && !finished.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(finished.load());
    EXPECT_TRUE(listener.ended.load());
    EXPECT_FALSE(listener.finishedDuringEnd.load());
}

TEST_F(QueryRunTest, RealWaitsEndToEnd) {
    // The product's own pauses: 200 ms between pages, 4 s after each keyword of a worker.
    StandinFixture standin(World(2, 0));
    RecordingListener listener;
    QueryPage page(QueryKind::Natural, listener);
    configure(page, standin);
    page.scan.sleep = {};
    page.sites = {{"absent.com", 1}};
    pages = 2;
    const auto start = std::chrono::steady_clock::now();
    BeginQueryRun(page, Items(2));
    ASSERT_TRUE(listener.waitForEnd(std::chrono::seconds(30)));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(4200));
    EXPECT_EQ(listener.keywordEvents(), 2);
    EXPECT_EQ(standin.server.requestCount(), 4);
}

TEST(QueryRunLockTest, OneRunPerKindAcrossProcesses) {
    TempFolder folder;
    auto natural = QueryRunLock::tryAcquire(folder.path(), QueryKind::Natural);
    ASSERT_TRUE(natural);
    EXPECT_FALSE(QueryRunLock::tryAcquire(folder.path(), QueryKind::Natural));
    EXPECT_TRUE(QueryRunLock::tryAcquire(folder.path(), QueryKind::Paid));

    // Another process sees the lock too, and gets it once the holder lets go.
    const auto childCanTake = [&folder] {
        const pid_t child = fork();
        if (child == 0) _exit(QueryRunLock::tryAcquire(folder.path(), QueryKind::Natural) ? 0 : 1);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_FALSE(childCanTake());
    natural.reset();
    EXPECT_TRUE(childCanTake());
    EXPECT_FALSE(QueryRunLock::tryAcquire(folder.path() + "/missing/folder", QueryKind::Paid));
}

}  // namespace
}  // namespace velquist
