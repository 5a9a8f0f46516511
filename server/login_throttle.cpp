#include "server/login_throttle.h"

#include <algorithm>

namespace velquist::service {

LoginThrottle::LoginThrottle(Settings settings, std::function<Clock::time_point()> now)
    : m_settings(settings), m_now(std::move(now)) {}

std::chrono::milliseconds LoginThrottle::delayAfter(int failures) const {
    const int over = failures - m_settings.freeFailures;
    if (over < 0) return std::chrono::milliseconds(0);
    std::chrono::milliseconds delay = m_settings.firstDelay;
    for (int i = 0; i < over && delay < m_settings.maxDelay; ++i) delay *= 2;
    return std::min(delay, m_settings.maxDelay);
}

bool LoginThrottle::mayTry(const std::string& address) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(address);
    if (it == m_entries.end()) return true;
    const Clock::time_point now = m_now();
    if (now - it->second.lastFailure >= m_settings.forgetAfter) {
        m_entries.erase(it);
        return true;
    }
    return now - it->second.lastFailure >= delayAfter(it->second.failures);
}

void LoginThrottle::recordFailure(const std::string& address) {
    const std::lock_guard lock(m_mutex);
    const Clock::time_point now = m_now();
    auto it = m_entries.find(address);
    if (it == m_entries.end()) {
        if (m_entries.size() >= m_settings.maxAddresses) forgetOld(now);
        it = m_entries.emplace(address, Entry{}).first;
    } else if (now - it->second.lastFailure >= m_settings.forgetAfter) {
        it->second.failures = 0;
    }
    ++it->second.failures;
    it->second.lastFailure = now;
}

void LoginThrottle::recordSuccess(const std::string& address) {
    const std::lock_guard lock(m_mutex);
    m_entries.erase(address);
}

void LoginThrottle::forgetOld(Clock::time_point now) {
    std::erase_if(m_entries, [&](const auto& item) {
        return now - item.second.lastFailure >= m_settings.forgetAfter;
    });
    while (m_entries.size() >= m_settings.maxAddresses) {
        const auto oldest =
            std::min_element(m_entries.begin(), m_entries.end(), [](const auto& a, const auto& b) {
                return a.second.lastFailure < b.second.lastFailure;
            });
        m_entries.erase(oldest);
    }
}

}  // namespace velquist::service
