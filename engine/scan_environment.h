#pragma once

#include <atomic>

#include "engine/search_endpoints.h"
#include "engine/sleeper.h"

namespace velquist {

// What a scan reads besides its client and sites: where the engine is, how many pages to walk,
// whether the run still goes, and how to wait. Defaults are the process-wide values.
struct ScanEnvironment {
    SearchEndpoints endpoints;
    const std::atomic<int>* pageCount = nullptr;  // null: the process-wide page count
    const std::atomic<bool>* running = nullptr;   // null: the process-wide query-running flag
    Sleeper sleep;                                // empty: real sleeps

    int currentPageCount() const;
    bool isRunning() const;
    void wait(std::chrono::milliseconds duration) const;
};

}  // namespace velquist
