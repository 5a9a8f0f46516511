#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/database.h"
#include "core/process_state.h"
#include "engine/http_client.h"
#include "engine/rank_types.h"
#include "engine/scan_environment.h"
#include "engine/sync_list.h"

namespace velquist {

enum class QueryKind { Natural, Paid };

// Events of a run. Both are called on worker threads: a window re-posts them to its own thread.
// "keyword finished" hands the item over; "run ended" comes once, after every keyword event.
class QueryRunListener {
  public:
    virtual ~QueryRunListener() = default;
    virtual void keywordFinished(QueryKind kind, std::unique_ptr<STRUCT_WORD> item) = 0;
    virtual void runEnded(QueryKind kind) = 0;
};

// What a page owns for its runs: the work queue, the live-worker count and the settings the
// workers read. It must outlive the run (until "run ended").
class QueryPage {
  public:
    static constexpr int kMaxWorkers = 5;

    QueryPage(QueryKind kind, QueryRunListener& listener) : m_kind(kind), m_listener(listener) {}

    QueryKind kind() const { return m_kind; }
    QueryRunListener& listener() { return m_listener; }

    CSyncList<std::unique_ptr<STRUCT_WORD>> queue;
    std::atomic<int> liveWorkers{0};

    std::string databasePath;
    std::vector<PromotionSite> sites;  // the promotion-site list, read by the workers
    std::string userAgent;             // empty: the client's own default
    long httpTimeoutSeconds = 120;
    std::size_t maxPageBytes = CHttpClient::kDefaultMaxBodyBytes;
    ScanEnvironment scan;
    std::atomic<bool>* running = nullptr;   // null: the process-wide query-running flag
    std::atomic<bool>* finished = nullptr;  // null: the process-wide query-finished flag

    // Called on the starting thread after each worker start attempt, with the number started
    // so far; tests use it to land a stop between two starts.
    std::function<void(int)> afterWorkerStart;

    std::atomic<bool>& runningFlag() { return running ? *running : Process().queryRunning; }
    std::atomic<bool>& finishedFlag() { return finished ? *finished : Process().queryFinished; }

  private:
    QueryKind m_kind;
    QueryRunListener& m_listener;
};

using WorkerProc = void (*)(QueryPage* page);

// Starts up to five workers, never more than there are queued items; nobody joins them for the
// run (see JoinEndedWorkers). The caller has
// filled the queue, set the running flag and cleared the finished flag. Returns how many started.
// "Run ended" is delivered exactly once, by the last worker to stop touching the page (or by the
// last failed start), and the finished flag is set after that event has returned.
int StartWorkers(QueryPage& page, WorkerProc worker);

// Waits for the workers whose work is over (their run may have ended) to have left their
// threads. A program calls it before it exits; workers still working are left alone.
void JoinEndedWorkers();
// Waits at most `limit` for every worker to end its work, then as JoinEndedWorkers. True when
// none is left working.
bool JoinWorkers(std::chrono::milliseconds limit);

void NaturalWorker(QueryPage* page);
void PaidWorker(QueryPage* page);

// Stores one finished keyword's results: its query time, its old rows and the new ones change
// in one transaction, so a failure keeps the old results; nothing is written when the
// transaction cannot begin, and nothing for a keyword that no longer exists (true: nothing was
// due). False when nothing could be stored.
bool StoreNaturalResults(const std::string& databasePath, const STRUCT_WORD& item);
bool StorePaidResults(const std::string& databasePath, const STRUCT_WORD& item);
// The same on a connection the caller opened.
bool StoreNaturalResults(DbConnection& db, const STRUCT_WORD& item);
bool StorePaidResults(DbConnection& db, const STRUCT_WORD& item);

// Fills the queue and the flags and starts the workers: the page's side of a start.
int BeginQueryRun(QueryPage& page, std::vector<std::unique_ptr<STRUCT_WORD>> items);

// Asks a run to stop: every fetch ends at its next attempt.
void RequestStop(QueryPage& page);

}  // namespace velquist
