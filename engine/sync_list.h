#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace velquist {

// A list guarded by its own mutex; every operation holds the lock for its whole duration.
template <typename T>
class CSyncList {
  public:
    void pushBack(T item) {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
    }
    std::optional<T> popFront() {
        std::lock_guard lock(m_mutex);
        if (m_items.empty()) return std::nullopt;
        T item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }
    std::size_t count() const {
        std::lock_guard lock(m_mutex);
        return m_items.size();
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_items.clear();
    }

  private:
    mutable std::mutex m_mutex;
    std::deque<T> m_items;  // guarded by m_mutex
};

}  // namespace velquist
