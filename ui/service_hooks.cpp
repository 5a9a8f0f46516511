#include "ui/service_hooks.h"

#include "ui/dialog_feedback.h"
#include "ui/dialog_login.h"

namespace velquist::ui {

ServiceSession::ServiceSession(const MainWindowSettings& settings)
    : m_loginSettings{settings.hosts, settings.paths.dataFolder, settings.paths.databasePath},
      m_reporter(settings.hosts, settings.paths.settingsPath) {}

std::optional<std::string> ServiceSession::login(QWidget* parent) {
    CLoginDialog dialog(m_loginSettings, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::optional<LoginResult> result = dialog.takeResult();
    if (!result) return std::nullopt;
    m_account = result->account;
    m_lock = std::move(result->lock);
    return m_account.userName;
}

void ServiceSession::sendStartupReport() { m_reporter.sendLoginReport(); }

void ServiceSession::startExitReport(std::function<void()> done) {
    m_reporter.startExitReport(std::move(done));
}

std::shared_ptr<ServiceSession> PlugServiceHooks(MainWindowHooks& hooks,
                                                 const MainWindowSettings& settings) {
    auto session = std::make_shared<ServiceSession>(settings);
    if (!hooks.login) hooks.login = [session](QWidget* parent) { return session->login(parent); };
    if (!hooks.startupReport) hooks.startupReport = [session] { session->sendStartupReport(); };
    if (!hooks.exitReport)
        hooks.exitReport = [session](std::function<void()> done) {
            session->startExitReport(std::move(done));
        };
    if (!hooks.feedback) hooks.feedback = FeedbackHook(settings);
    return session;
}

std::function<void(QWidget*)> FeedbackHook(const MainWindowSettings& settings) {
    return [hosts = settings.hosts, settingsPath = settings.paths.settingsPath](QWidget* parent) {
        CDialogFeedback dialog(hosts, settingsPath, parent);
        dialog.exec();
    };
}

}  // namespace velquist::ui
