#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace velquist::service {

// Slows down guessing: after a few failed logins from one address, each further attempt from it
// has to wait, twice as long after every failure up to a limit, and attempts made during the
// wait are refused unchecked. A success or a quiet spell forgets the address. Thread-safe.
class LoginThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        int freeFailures = 5;
        std::chrono::milliseconds firstDelay{1000};
        std::chrono::milliseconds maxDelay{60000};
        std::chrono::milliseconds forgetAfter{15 * 60 * 1000};
        // Addresses tracked at most; the longest quiet ones go first.
        std::size_t maxAddresses = 10000;
    };

    explicit LoginThrottle(Settings settings, std::function<Clock::time_point()> now = Clock::now);

    // False while `address` has to wait.
    bool mayTry(const std::string& address);
    void recordFailure(const std::string& address);
    void recordSuccess(const std::string& address);

  private:
    struct Entry {
        int failures = 0;
        Clock::time_point lastFailure;
    };
    std::chrono::milliseconds delayAfter(int failures) const;
    void forgetOld(Clock::time_point now);  // m_mutex held

    const Settings m_settings;
    const std::function<Clock::time_point()> m_now;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;  // guarded by m_mutex
};

}  // namespace velquist::service
