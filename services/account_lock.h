#pragma once

#include <string>

#include "services/unique_fd.h"

namespace velquist {

// Marks an account as logged in by this copy of the program, so that another copy on the same
// data folder refuses to log in with it again. An advisory lock (flock) on a file per account in
// the data folder, held for as long as the object lives; the system drops it when the holder
// ends, however it ends. Movable, not copyable; any thread.
class AccountLock {
  public:
    enum class State {
        Held,           // this object holds the account
        HeldElsewhere,  // another copy (or another object here) is logged in with it
        Unavailable,    // the lock file cannot be made: nobody can be detected either way
    };

    static AccountLock Acquire(const std::string& dataFolder, const std::string& userName);

    // "login_<MD5 of the name>.lock": any name maps to a short, safe file name.
    static std::string LockFilePath(const std::string& dataFolder, const std::string& userName);

    State state() const { return m_state; }
    bool held() const { return m_state == State::Held; }

  private:
    AccountLock(State state, UniqueFd fd) : m_state(state), m_fd(std::move(fd)) {}
    State m_state;
    UniqueFd m_fd;
};

}  // namespace velquist
