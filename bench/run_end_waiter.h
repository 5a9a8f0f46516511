#pragma once

// The benchmarks' listener of a query run: counts the keywords and wakes the bench at the end.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "engine/query_run.h"

namespace velquist::bench {

class RunEndWaiter final : public QueryRunListener {
  public:
    void keywordFinished(QueryKind, std::unique_ptr<STRUCT_WORD>) override {
        std::lock_guard lock(m_mutex);
        ++m_finished;
    }
    void runEnded(QueryKind) override {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_cv.notify_all();
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_ended; });
    }
    int finished() {
        std::lock_guard lock(m_mutex);
        return m_finished;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_finished = 0;    // guarded by m_mutex
    bool m_ended = false;  // guarded by m_mutex
};

}  // namespace velquist::bench
