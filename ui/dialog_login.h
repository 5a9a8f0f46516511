#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "services/login.h"
#include "ui/yui_entity.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace velquist::ui {

class CHyperLink;
class CYButton;

// "用户登录": offers the remembered accounts, logs in on a worker thread and, on success, keeps
// the result (with the account lock that tells other copies this account is in use) for the
// caller to take. An auto-login account logs in by itself right after the dialog opens. Every
// widget lives on the GUI thread; the worker only posts back to it.
class CLoginDialog : public CYUiEntity {
    Q_OBJECT

  public:
    // Control ids as the commands name them.
    enum ControlId {
        kLoginButton = 1,
        kUserName = 1064,
        kRememberPassword = 1066,
        kAutoLogin = 1067,
        kStatus = 1070,
        kPassword = 1071,
        kLostPasswordLink = 1072,
        kRegisterLink = 1073,
        kCloseButton = 32776,
    };

    explicit CLoginDialog(LoginSettings settings, QWidget* parent = nullptr);
    // Waits for a login still on its way (the dialog refuses to close while one is).
    ~CLoginDialog() override;

    QWidget* control(int id) const;
    QComboBox* userNameBox() const { return m_userName; }
    QLineEdit* passwordEdit() const { return m_password; }
    QCheckBox* rememberBox() const { return m_remember; }
    QCheckBox* autoLoginBox() const { return m_autoLogin; }
    QLabel* statusLabel() const { return m_status; }
    CYButton* loginButton() const { return m_login; }
    CHyperLink* lostPasswordLink() const { return m_lostPassword; }
    CHyperLink* registerLink() const { return m_register; }

    // The account the dialog offers or last tried; after OK the logged-in one with its fields.
    const CurrentAccount& currentAccount() const { return m_current; }
    bool loggingIn() const { return m_loggingIn; }
    // After OK: the login, holding the account lock. Empty before, and after it was taken.
    std::optional<LoginResult> takeResult();

  public slots:
    // The login button (and Enter).
    void onLogin();
    // The close button, Escape and the window's close: refused while a login is on its way.
    void reject() override;

  signals:
    // Every status text as it is shown, in order.
    void statusShown(const QString& text);

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildControls();
    void loadRememberedAccounts();
    void refreshFromAccount();
    void onAccountChosen();
    void onUserNameEdited();
    void onAutoLoginClicked(bool checked);
    LoginForm readForm() const;
    // On the dialog's thread, in the order the worker reported them.
    void showStatus(const std::string& text);
    void onLoginAnswer(const std::shared_ptr<LoginResult>& result);

    LoginSettings m_settings;
    CurrentAccount m_current;
    std::optional<LoginResult> m_result;
    bool m_loggingIn = false;
    bool m_opened = false;
    std::thread m_worker;

    QComboBox* m_userName = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_remember = nullptr;
    QCheckBox* m_autoLogin = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_userLabel = nullptr;
    QLabel* m_passwordLabel = nullptr;
    CYButton* m_login = nullptr;
    CYButton* m_close = nullptr;
    CHyperLink* m_lostPassword = nullptr;
    CHyperLink* m_register = nullptr;
};

}  // namespace velquist::ui
