#include "engine/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace velquist {

std::string QueryRunLock::lockFilePath(const std::string& dataFolder, QueryKind kind) {
    return dataFolder + (kind == QueryKind::Natural ? "/natural_query.lock" : "/paid_query.lock");
}

std::optional<QueryRunLock> QueryRunLock::tryAcquire(const std::string& dataFolder,
                                                     QueryKind kind) {
    const std::string path = lockFilePath(dataFolder, kind);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return std::nullopt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return QueryRunLock(fd);
}

QueryRunLock::QueryRunLock(QueryRunLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

QueryRunLock& QueryRunLock::operator=(QueryRunLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

QueryRunLock::~QueryRunLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing the last descriptor releases the lock
}

}  // namespace velquist
