#include "services/account_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "services/envelope.h"

namespace velquist {

std::string AccountLock::LockFilePath(const std::string& dataFolder, const std::string& userName) {
    return dataFolder + "/login_" + Md5HexUpper(userName) + ".lock";
}

AccountLock AccountLock::Acquire(const std::string& dataFolder, const std::string& userName) {
    const std::string path = LockFilePath(dataFolder, userName);
    UniqueFd fd = AdoptFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return AccountLock(State::Unavailable, nullptr);
    // flock belongs to the open file, so two objects in one process also exclude each other.
    if (::flock(fd.get().fd, LOCK_EX | LOCK_NB) != 0) {
        return AccountLock(errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable,
                           nullptr);
    }
    return AccountLock(State::Held, std::move(fd));
}

}  // namespace velquist
