#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/process_state.h"
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
    ScanEnvironment scan;
    std::atomic<bool>* running = nullptr;   // null: the process-wide query-running flag
    std::atomic<bool>* finished = nullptr;  // null: the process-wide query-finished flag

    std::atomic<bool>& runningFlag() { return running ? *running : Process().queryRunning; }
    std::atomic<bool>& finishedFlag() { return finished ? *finished : Process().queryFinished; }

  private:
    QueryKind m_kind;
    QueryRunListener& m_listener;
};

using WorkerProc = void (*)(QueryPage* page);

// Starts up to five detached workers, never more than there are queued items. The caller has
// filled the queue, set the running flag and cleared the finished flag. Returns how many started.
int StartWorkers(QueryPage& page, WorkerProc worker);

void NaturalWorker(QueryPage* page);
void PaidWorker(QueryPage* page);

// Stores one finished keyword's results: its old rows and the new ones change in one
// transaction, so a failure keeps the old results. False when the inserts were rolled back.
bool StoreNaturalResults(const std::string& databasePath, const STRUCT_WORD& item);
bool StorePaidResults(const std::string& databasePath, const STRUCT_WORD& item);

// Fills the queue and the flags and starts the workers: the page's side of a start.
int BeginQueryRun(QueryPage& page, std::vector<std::unique_ptr<STRUCT_WORD>> items);

// Asks a run to stop: every fetch ends at its next attempt.
void RequestStop(QueryPage& page);

}  // namespace velquist
