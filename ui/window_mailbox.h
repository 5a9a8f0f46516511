#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace velquist::ui {

// Carries a worker thread's message to a window on the GUI thread. The worker holds a shared
// pointer; the window closes the mailbox before it goes, after which posts are dropped, so a
// worker that outlives the window never reaches it.
class WindowMailbox {
  public:
    using Delivery = std::function<void(int wParam, const std::string& text)>;

    WindowMailbox(QObject* window, Delivery deliver)
        : m_window(window), m_deliver(std::move(deliver)) {}

    // Any thread: queues the message for the window's thread.
    void post(int wParam, std::string text = {}) {
        std::lock_guard lock(m_mutex);
        if (!m_window) return;
        QMetaObject::invokeMethod(
            m_window,
            [deliver = m_deliver, wParam, text = std::move(text)] { deliver(wParam, text); },
            Qt::QueuedConnection);
    }

    // GUI thread, when the window is closing.
    void close() {
        std::lock_guard lock(m_mutex);
        m_window = nullptr;
    }

  private:
    std::mutex m_mutex;
    QObject* m_window;  // guarded by m_mutex
    Delivery m_deliver;
};

}  // namespace velquist::ui
