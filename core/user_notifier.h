#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velquist {

inline constexpr const char* kDefaultCaption = "提示";

// What the libraries need of whoever talks to the user: the window shows message boxes, the
// command line writes to its streams, tests record the texts. Called on any thread; an
// implementation that must show things on one thread re-posts.
class UserNotifier {
  public:
    virtual ~UserNotifier() = default;
    virtual void showMessage(const std::string& text, const std::string& caption) = 0;
    void showMessage(const std::string& text) { showMessage(text, kDefaultCaption); }
    virtual bool askYesNo(const std::string& text, const std::string& caption) = 0;
};

// Keeps nothing; for callers that have no one to tell.
class SilentNotifier final : public UserNotifier {
  public:
    using UserNotifier::showMessage;
    void showMessage(const std::string&, const std::string&) override {}
    bool askYesNo(const std::string&, const std::string&) override { return false; }
};

// Keeps the texts a worker thread wants to show, so the GUI thread can show them once the worker
// is done and no worker ever waits on a message box. Questions are answered "no".
class CollectingNotifier final : public UserNotifier {
  public:
    using UserNotifier::showMessage;
    void showMessage(const std::string& text, const std::string&) override {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(text);
    }
    bool askYesNo(const std::string&, const std::string&) override { return false; }
    std::vector<std::string> take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_messages, {});
    }

  private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;  // guarded by m_mutex
};

}  // namespace velquist
