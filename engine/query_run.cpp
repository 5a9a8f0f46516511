#include "engine/query_run.h"

#include <algorithm>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/database.h"
#include "core/text.h"
#include "engine/http_client.h"
#include "engine/natural_scan.h"
#include "engine/paid_scan.h"
#include "records/rank_history.h"

namespace velquist {

namespace {

constexpr auto kNaturalKeywordWait = std::chrono::milliseconds(4000);
constexpr auto kPaidKeywordWait = std::chrono::milliseconds(1000);

std::unique_ptr<CHttpClient> MakeWorkerClient(const QueryPage& page) {
    auto client = std::make_unique<CHttpClient>();
    client->noCookieSave = true;
    client->cookieJarPath = "cookie.txt";
    client->cookieLines.clear();
    if (!page.userAgent.empty()) client->userAgent = page.userAgent;
    client->connectTimeoutSeconds = page.httpTimeoutSeconds;
    client->timeoutSeconds = page.httpTimeoutSeconds;
    client->maxBodyBytes = page.maxPageBytes;
    return client;
}

std::vector<STRUCT_SITE> EnabledSiteCopies(const std::vector<PromotionSite>& sites) {
    std::vector<STRUCT_SITE> copies;
    for (const auto& site : sites) {
        if (!site.selected) continue;
        STRUCT_SITE copy;
        copy.index = static_cast<int>(copies.size());
        copy.selected = site.selected;
        copy.url = site.url;
        copies.push_back(std::move(copy));
    }
    return copies;
}

// The pause between keywords; a stop cuts it short, since the worker leaves its loop anyway.
void WaitBetweenKeywords(QueryPage& page, std::chrono::milliseconds total) {
    if (page.scan.sleep) {
        page.scan.sleep(total);
        return;
    }
    constexpr auto kSlice = std::chrono::milliseconds(50);
    const auto until = std::chrono::steady_clock::now() + total;
    while (page.runningFlag().load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) break;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kSlice, until - now));
    }
}

// Gives back one worker's place in the count. Exactly one caller sees it reach zero: it ends
// the run. Everything it needs is taken from the page first, since the owner may free the page
// as soon as "run ended" is delivered; the finished flag is set only after the event returned,
// so an owner waiting on the flag never frees the page under a running callback.
void ReleaseWorker(QueryPage& page) {
    std::atomic<bool>& running = page.runningFlag();
    std::atomic<bool>& finished = page.finishedFlag();
    QueryRunListener& listener = page.listener();
    const QueryKind kind = page.kind();
    if (page.liveWorkers.fetch_sub(1) != 1) return;
    running.store(false);
    listener.runEnded(kind);
    finished.store(true);
}

bool ScanKeyword(CHttpClient& client, STRUCT_WORD& item, const ScanEnvironment& env, bool natural) {
    try {
        return natural ? ScanNatural(&client, item.keyword, item.sites, env)
                       : ScanPaid(&client, item.keyword, item.sites, env);
    } catch (const std::exception& e) {
        // A page that cannot be read is a failed check of this keyword, never a lost one.
        std::cerr << "query worker: " << e.what() << '\n';
        return false;
    }
}

void RunWorker(QueryPage* page) {
    try {
        const bool natural = page->kind() == QueryKind::Natural;
        auto client = MakeWorkerClient(*page);
        if (!natural) client->referer = page->scan.endpoints.firstReferer();
        ScanEnvironment env = page->scan;
        env.running = &page->runningFlag();

        const auto enabled = EnabledSiteCopies(page->sites);
        if (enabled.empty()) {
            while (page->queue.popFront()) {
            }
        }
        while (!enabled.empty() && page->runningFlag().load()) {
            auto next = page->queue.popFront();
            if (!next) break;
            std::unique_ptr<STRUCT_WORD> item = std::move(*next);
            item->sites = enabled;
            if (!ScanKeyword(*client, *item, env, natural)) MarkUnfoundSitesFailed(item->sites);
            item->stored = natural ? StoreNaturalResults(page->databasePath, *item)
                                   : StorePaidResults(page->databasePath, *item);
            page->listener().keywordFinished(page->kind(), std::move(item));
            if (page->runningFlag().load())
                WaitBetweenKeywords(*page, natural ? kNaturalKeywordWait : kPaidKeywordWait);
        }
    } catch (const std::exception& e) {
        // Nothing may leave a thread's entry function; the run still has to end.
        std::cerr << "query worker: " << e.what() << '\n';
    }
    ReleaseWorker(*page);
}

RankState HistoryState(const STRUCT_SITE& site) {
    if (!site.rankText.empty()) return RankState::Ranked;
    return site.failed ? RankState::Failed : RankState::NotFound;
}

// The check as the history keeps it: by the keyword's name, every site's shown text.
bool AppendHistory(DbConnection& db, const STRUCT_WORD& item, bool natural, std::int64_t time) {
    HistoryKey key;
    key.kind = natural ? RankKind::Natural : RankKind::Paid;
    key.keyword = item.keyword;
    if (!natural) {
        key.plan = item.plan;
        key.unit = item.unit;
    }
    std::vector<std::string> texts;
    texts.reserve(item.sites.size());
    for (const auto& site : item.sites) texts.push_back(site.resultText());
    std::vector<HistoryResult> results;
    results.reserve(item.sites.size());
    for (std::size_t i = 0; i < item.sites.size(); ++i)
        results.push_back(
            {item.sites[i].url, texts[i], item.sites[i].rankNum, HistoryState(item.sites[i])});
    return RankHistoryAppender(db).append(key, time, results);
}

bool StoreResults(DbConnection& db, const STRUCT_WORD& item, bool natural) {
    // The time, the old rows' removal, the new rows and the history change together or not at
    // all; without the transaction nothing is written.
    WriteTransaction tx(db);
    if (!tx.begun()) {
        std::cerr << ">>>>>添加失败<<<<<\n";
        return false;
    }
    // A keyword deleted while it was being checked gets no results: its number may be reused
    // by the next keyword added, which would then show these ranks.
    {
        DbStatement exists(db, natural ? "SELECT 1 FROM seokeyword WHERE keywordId = ?"
                                       : "SELECT 1 FROM keyword WHERE keywordId = ?");
        exists.bindInt(1, item.id);
        const int rc = exists.step();
        if (rc == kSqliteDone) return true;  // nothing to store; the rollback ends the transaction
        if (rc != kSqliteRow) {
            tx.rollback();
            std::cerr << ">>>>>添加失败<<<<<\n";
            return false;
        }
    }
    bool failed = false;
    // One clock reading for the live time and the history, so both name the same second.
    const std::int64_t now = std::time(nullptr);
    {
        DbStatement update(db, natural ? "UPDATE seokeyword SET time=? WHERE keyword=?"
                                       : "UPDATE keyword SET time=? WHERE keyword=? AND unit=? "
                                         "AND plan=?");
        update.bindText(1, FormatLocalTime(now));
        update.bindText(2, item.keyword);
        if (!natural) {
            update.bindText(3, item.unit);
            update.bindText(4, item.plan);
        }
        if (!StepSucceeded(update.step())) failed = true;
    }
    {
        DbStatement remove(db, natural ? "DELETE FROM seorank WHERE keywordId = ?"
                                       : "DELETE FROM semrank WHERE keywordId = ?");
        remove.bindInt(1, item.id);
        if (!StepSucceeded(remove.step())) failed = true;
    }
    DbStatement insert(
        db, natural ? "INSERT INTO seorank (rank,url,keywordId,rankNum) VALUES (?,?,?,?)"
                    : "INSERT INTO semrank (rank,url,keywordId,rankNum) VALUES (?,?,?,?)");
    for (const auto& site : item.sites) {
        if (failed) break;
        insert.bindText(1, site.resultText());
        insert.bindText(2, site.url);
        insert.bindInt(3, item.id);
        insert.bindInt(4, site.rankNum);
        if (!StepSucceeded(insert.step())) failed = true;
        insert.reset();
    }
    if (!failed && !AppendHistory(db, item, natural, now)) failed = true;
    if (failed) {
        tx.rollback();
        std::cerr << ">>>>>添加失败<<<<<\n";
        return false;
    }
    return tx.commit();
}

// The workers are not joined by the run: it ends when the last one lets go of its page. They are
// kept here instead of being detached, so that a program can wait for the ended ones to have
// left before it exits; a thread still finishing while the process tears down its libraries
// (OpenSSL frees its per-thread state at exit, and so does the thread) is a double free.
class WorkerThreads {
  public:
    void start(WorkerProc worker, QueryPage* page) {
        auto ended = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([worker, page, ended] {
            worker(page);
            ended->store(true);
        });
        std::lock_guard lock(m_mutex);
        m_threads.push_back({std::move(thread), std::move(ended)});
    }

    bool allEnded() {
        std::lock_guard lock(m_mutex);
        return std::all_of(m_threads.begin(), m_threads.end(),
                           [](const Worker& worker) { return worker.ended->load(); });
    }

    void joinEnded() {
        std::vector<std::thread> done;
        {
            std::lock_guard lock(m_mutex);
            for (auto it = m_threads.begin(); it != m_threads.end();) {
                if (it->ended->load()) {
                    done.push_back(std::move(it->thread));
                    it = m_threads.erase(it);
                } else {
                    ++it;
                }
            }
        }
        // Their work is over; what remains is the thread's own exit.
        for (std::thread& thread : done) thread.join();
    }

  private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    std::mutex m_mutex;
    std::vector<Worker> m_threads;  // guarded by m_mutex
};

WorkerThreads& Workers() {
    // Never destroyed: a worker of a run cut short at exit may still be running then.
    static auto* threads = new WorkerThreads;
    return *threads;
}

}  // namespace

void JoinEndedWorkers() { Workers().joinEnded(); }

bool JoinWorkers(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!Workers().allEnded() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Workers().joinEnded();
    return Workers().allEnded();
}

int StartWorkers(QueryPage& page, WorkerProc worker) {
    // libcurl's global set-up is not thread-safe: it must be done before the workers exist.
    CHttpClient::GlobalInit();
    const int planned =
        static_cast<int>(std::min<std::size_t>(QueryPage::kMaxWorkers, page.queue.count()));
    if (planned == 0) return 0;
    // Every planned worker is counted before the first one starts: a worker that ends at once
    // (a stop, an empty queue) must never see the count reach zero while others are to come.
    page.liveWorkers.store(planned);
    const auto afterStart = page.afterWorkerStart;
    JoinEndedWorkers();  // the workers of earlier runs
    int started = 0;
    for (int i = 0; i < planned; ++i) {
        try {
            Workers().start(worker, &page);
            ++started;
        } catch (const std::system_error&) {
            // This place was counted and is not there to give back; the last release ends the run.
            ReleaseWorker(page);
        }
        if (afterStart) afterStart(started);
    }
    return started;
}

void NaturalWorker(QueryPage* page) { RunWorker(page); }
void PaidWorker(QueryPage* page) { RunWorker(page); }

bool StoreNaturalResults(DbConnection& db, const STRUCT_WORD& item) {
    return StoreResults(db, item, true);
}

bool StorePaidResults(DbConnection& db, const STRUCT_WORD& item) {
    return StoreResults(db, item, false);
}

bool StoreNaturalResults(const std::string& databasePath, const STRUCT_WORD& item) {
    DbConnection db;
    return db.open(databasePath) && StoreResults(db, item, true);
}

bool StorePaidResults(const std::string& databasePath, const STRUCT_WORD& item) {
    DbConnection db;
    return db.open(databasePath) && StoreResults(db, item, false);
}

int BeginQueryRun(QueryPage& page, std::vector<std::unique_ptr<STRUCT_WORD>> items) {
    for (auto& item : items) {
        item->pending = true;
        page.queue.pushBack(std::move(item));
    }
    page.runningFlag().store(true);
    page.finishedFlag().store(false);
    if (page.queue.count() == 0) {
        // Nothing to do: the run ends at once, as a run would.
        page.runningFlag().store(false);
        page.listener().runEnded(page.kind());
        page.finishedFlag().store(true);
        return 0;
    }
    // When no thread could start, the last failed start has ended the run already.
    return StartWorkers(page, page.kind() == QueryKind::Natural ? &NaturalWorker : &PaidWorker);
}

void RequestStop(QueryPage& page) { page.runningFlag().store(false); }

}  // namespace velquist
