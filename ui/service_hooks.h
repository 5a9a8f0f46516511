#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "services/login.h"
#include "services/usage_report.h"
#include "ui/velquist_dlg.h"

class QWidget;

namespace velquist::ui {

// What the window does with the vendor's services during one run: who is logged in, with the
// account lock that keeps other copies from logging in with the same account for as long as
// this run lasts, and the two usage reports. The hooks share it; a report thread that outlives
// the window keeps it alive. login() and account() belong to the GUI thread, the reports may
// be sent from any thread.
class ServiceSession {
  public:
    explicit ServiceSession(const MainWindowSettings& settings);

    // The login dialog, modal: the user name after a login, nothing when it was closed.
    std::optional<std::string> login(QWidget* parent);
    // The start-up usage report; blocks for its request.
    void sendStartupReport();
    // The exit usage report on a thread of its own; `done` is called from that thread when the
    // request has ended, also when the network is down.
    void startExitReport(std::function<void()> done);

    const CurrentAccount& account() const { return m_account; }
    bool holdsAccountLock() const { return m_lock && m_lock->held(); }
    const UsageReporter& reporter() const { return m_reporter; }

  private:
    LoginSettings m_loginSettings;
    UsageReporter m_reporter;
    CurrentAccount m_account;           // GUI thread
    std::optional<AccountLock> m_lock;  // GUI thread; kept until the run ends
};

// Plugs the login, the start-up and exit reports and the feedback dialog into `hooks`, leaving
// any of them that is already set. The session is returned for whoever wants to look at it.
std::shared_ptr<ServiceSession> PlugServiceHooks(MainWindowHooks& hooks,
                                                 const MainWindowSettings& settings);

// The feedback dialog alone, for windows that must not log in or report (pictures).
std::function<void(QWidget*)> FeedbackHook(const MainWindowSettings& settings);

}  // namespace velquist::ui
