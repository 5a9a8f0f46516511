#pragma once

#include <string>

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

}  // namespace velquist
