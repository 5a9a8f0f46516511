#pragma once

#include <optional>
#include <string>

#include "engine/query_run.h"

namespace velquist {

// Keeps a second run of the same kind from starting, in this process or in another copy of the
// program on the same data folder: each run first clears its kind's stored results, which would
// wipe what the running one has stored. An advisory lock (flock) on a file in the data folder;
// the system releases it when the holder ends, however it ends.
class QueryRunLock {
  public:
    // The lock for `kind`, or nothing when another run of that kind holds it (or the lock file
    // cannot be made).
    static std::optional<QueryRunLock> tryAcquire(const std::string& dataFolder, QueryKind kind);

    QueryRunLock(QueryRunLock&& other) noexcept;
    QueryRunLock& operator=(QueryRunLock&& other) noexcept;
    QueryRunLock(const QueryRunLock&) = delete;
    QueryRunLock& operator=(const QueryRunLock&) = delete;
    ~QueryRunLock();

    static std::string lockFilePath(const std::string& dataFolder, QueryKind kind);

  private:
    explicit QueryRunLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

}  // namespace velquist
