#pragma once

#include <memory>
#include <string>

#include "core/user_notifier.h"

class QGuiApplication;

namespace velquist::updater {

// The updater's messages: always a line on stderr, and a small box with an OK button when a
// display can be reached (DISPLAY or WAYLAND_DISPLAY set and the window system answering).
// Drawn with Qt's GUI module alone, so the updater needs no widget toolkit. Main thread only.
class MessageNotifier final : public UserNotifier {
  public:
    MessageNotifier(int& argc, char** argv);
    ~MessageNotifier() override;
    MessageNotifier(const MessageNotifier&) = delete;
    MessageNotifier& operator=(const MessageNotifier&) = delete;

    using UserNotifier::showMessage;
    void showMessage(const std::string& text, const std::string& caption) override;
    // The updater asks nothing.
    bool askYesNo(const std::string&, const std::string&) override { return false; }

  private:
    int& m_argc;
    char** m_argv;
    std::unique_ptr<QGuiApplication> m_application;  // made for the first box
};

}  // namespace velquist::updater
