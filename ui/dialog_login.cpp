#include "ui/dialog_login.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <exception>
#include <functional>

#include "services/account_store.h"
#include "ui/hyperlink.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

constexpr int kDialogWidth = 360;
constexpr int kDialogHeight = 290;
constexpr int kFieldLeft = 92;
constexpr int kFieldWidth = 176;

// Hands what a login shows to two callables; the dialog's re-post them to its own thread.
class RelayListener final : public LoginListener {
  public:
    using Relay = std::function<void(const std::string&)>;
    RelayListener(Relay status, Relay message)
        : m_status(std::move(status)), m_message(std::move(message)) {}
    void status(const std::string& text) override { m_status(text); }
    void message(const std::string& text) override { m_message(text); }

  private:
    Relay m_status;
    Relay m_message;
};

}  // namespace

CLoginDialog::CLoginDialog(LoginSettings settings, QWidget* parent)
    : CYUiEntity(parent), m_settings(std::move(settings)) {
    setObjectName(QStringLiteral("loginDialog"));
    setFixedSize(kDialogWidth, kDialogHeight);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("用户登录"));
    buildControls();
    loadRememberedAccounts();
    // Offered even for an account whose password was not kept: most people want it kept.
    m_remember->setChecked(true);
}

CLoginDialog::~CLoginDialog() {
    // The worker posts to this object; it must be done before the object goes.
    if (m_worker.joinable()) m_worker.join();
}

void CLoginDialog::buildControls() {
    m_close = addCloseButton();

    const auto label = [this](const QString& text, int y) {
        auto* made = new QLabel(text, this);
        made->setFont(SkinFont(13));
        made->setGeometry(30, y, kFieldLeft - 34, 28);
        made->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return made;
    };
    m_userLabel = label(QStringLiteral("账  号："), 56);
    m_userLabel->setObjectName(QStringLiteral("control1068"));
    m_passwordLabel = label(QStringLiteral("密  码："), 96);
    m_passwordLabel->setObjectName(QStringLiteral("control1069"));

    m_userName = new QComboBox(this);
    m_userName->setObjectName(QStringLiteral("userNameBox"));
    m_userName->setEditable(true);
    m_userName->setInsertPolicy(QComboBox::NoInsert);
    m_userName->setFont(SkinFont(13));
    m_userName->setGeometry(kFieldLeft, 56, kFieldWidth, 28);
    m_userName->lineEdit()->setMaxLength(int(kUserNameMaxChars));
    // Remembered names are offered by the list only; completing a typed name would pick an
    // account the user did not choose.
    m_userName->setCompleter(nullptr);

    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("passwordEdit"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setFont(SkinFont(13));
    m_password->setGeometry(kFieldLeft, 96, kFieldWidth, 28);

    m_register =
        new CHyperLink(QStringLiteral("用户注册"), Q(RegisterPageUrl(m_settings.hosts)), this);
    m_register->setObjectName(QStringLiteral("registerLink"));
    m_register->setGeometry(kFieldLeft + kFieldWidth + 12, 56, 70, 28);
    m_lostPassword = new CHyperLink(QStringLiteral("忘记密码？"),
                                    Q(LostPasswordPageUrl(m_settings.hosts)), this);
    m_lostPassword->setObjectName(QStringLiteral("lostPasswordLink"));
    m_lostPassword->setGeometry(kFieldLeft + kFieldWidth + 12, 96, 70, 28);

    m_remember = new QCheckBox(QStringLiteral("记住密码"), this);
    m_remember->setObjectName(QStringLiteral("rememberBox"));
    m_remember->setFont(SkinFont(12));
    m_remember->setGeometry(kFieldLeft, 134, 84, 22);
    m_autoLogin = new QCheckBox(QStringLiteral("自动登录"), this);
    m_autoLogin->setObjectName(QStringLiteral("autoLoginBox"));
    m_autoLogin->setFont(SkinFont(12));
    m_autoLogin->setGeometry(kFieldLeft + 96, 134, 84, 22);

    m_login = new CYButton(this);
    m_login->setObjectName(QStringLiteral("loginButton"));
    m_login->setText(QStringLiteral("登录"));
    m_login->setImage(QStringLiteral("zql_login_button.png"), 4, true);
    m_login->setBold(true);
    m_login->setTextColors(QColor(255, 255, 255), QColor(230, 238, 245));
    if (m_login->width() < 40) m_login->resize(250, 36);  // the image is missing
    m_login->move((kDialogWidth - m_login->width()) / 2, 174);

    m_status = new QLabel(Q(kLoginStatusWaiting), this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setFont(SkinFont(12));
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setStyleSheet(QStringLiteral("color: rgb(12, 91, 132);"));
    m_status->setGeometry(10, 228, kDialogWidth - 20, 24);

    connect(m_login, &CYButton::clicked, this, &CLoginDialog::onLogin);
    // The edit text changes only after the choice has been handled; read it a moment later.
    connect(m_userName, &QComboBox::activated, this,
            [this] { QTimer::singleShot(0, this, &CLoginDialog::onAccountChosen); });
    connect(m_userName->lineEdit(), &QLineEdit::textEdited, this, &CLoginDialog::onUserNameEdited);
    connect(m_autoLogin, &QCheckBox::clicked, this, &CLoginDialog::onAutoLoginClicked);
}

QWidget* CLoginDialog::control(int id) const {
    switch (id) {
        case kLoginButton:
            return m_login;
        case kUserName:
            return m_userName;
        case kRememberPassword:
            return m_remember;
        case kAutoLogin:
            return m_autoLogin;
        case kStatus:
            return m_status;
        case kPassword:
            return m_password;
        case kLostPasswordLink:
            return m_lostPassword;
        case kRegisterLink:
            return m_register;
        case kCloseButton:
            return m_close;
        case 1068:
            return m_userLabel;
        case 1069:
            return m_passwordLabel;
        default:
            return nullptr;
    }
}

void CLoginDialog::loadRememberedAccounts() {
    const std::vector<RememberedAccount> accounts = LoadRememberedAccounts(m_settings.databasePath);
    for (const RememberedAccount& account : accounts) m_userName->addItem(Q(account.name));
    // The auto-login account, else the one used last.
    if (!accounts.empty()) {
        m_current.userName = accounts.front().name;
        m_current.passwordHash = accounts.front().passwordHash;
        m_current.autoLogin = accounts.front().autoLogin;
    }
    refreshFromAccount();
}

void CLoginDialog::refreshFromAccount() {
    m_userName->setEditText(Q(m_current.userName));
    const bool remembered = !m_current.passwordHash.empty();
    m_password->setText(remembered ? Q(kStoredPasswordPlaceholder) : QString());
    m_remember->setChecked(remembered);
    m_autoLogin->setChecked(m_current.autoLogin);
}

void CLoginDialog::onAccountChosen() {
    if (m_password->text() == Q(kStoredPasswordPlaceholder)) m_password->clear();
    const std::string name = U8(m_userName->currentText());
    const std::optional<RememberedAccount> row =
        FindRememberedAccount(m_settings.databasePath, name);
    m_current.userName = name;
    m_current.passwordHash = row ? row->passwordHash : std::string();
    m_current.autoLogin = row && row->autoLogin;
    refreshFromAccount();
}

void CLoginDialog::onUserNameEdited() {
    // Another name: the remembered password was someone else's.
    if (m_password->text() == Q(kStoredPasswordPlaceholder)) m_password->clear();
}

void CLoginDialog::onAutoLoginClicked(bool checked) {
    // Saved at once, before any login; a name not remembered yet takes it with its first login.
    SetAutoLogin(m_settings.databasePath, U8(m_userName->currentText()), checked);
    // Logging in by itself needs the password kept.
    if (checked) m_remember->setChecked(true);
}

LoginForm CLoginDialog::readForm() const {
    LoginForm form;
    form.userName = U8(m_userName->currentText());
    form.password = U8(m_password->text());
    // The placeholder stands for the hash of the account it was shown for, not of a name typed
    // since (typing clears it, but the user may type the placeholder itself).
    if (form.userName == m_current.userName) form.storedHash = m_current.passwordHash;
    form.rememberPassword = m_remember->isChecked();
    form.autoLogin = m_autoLogin->isChecked();
    return form;
}

void CLoginDialog::onLogin() {
    if (m_loggingIn) return;
    const LoginForm form = readForm();
    if (form.userName.empty()) {
        Notifier().showMessage(kLoginEmptyName);
        return;
    }
    if (form.password.empty()) {
        Notifier().showMessage(kLoginEmptyPassword);
        return;
    }
    m_loggingIn = true;
    m_login->setEnabled(false);
    if (m_worker.joinable()) m_worker.join();  // the last attempt has already handed over
    m_worker = std::thread([this, settings = m_settings, form] {
        // On the worker: the dialog is reached only through calls queued to its thread.
        const auto post = [this](std::function<void()> call) {
            QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
        };
        RelayListener listener(
            [this, &post](const std::string& text) { post([this, text] { showStatus(text); }); },
            [&post](const std::string& text) { post([text] { Notifier().showMessage(text); }); });
        auto result = std::make_shared<LoginResult>();
        try {
            *result = RunLogin(settings, form, listener);
        } catch (const std::exception&) {
            result = std::make_shared<LoginResult>();
            result->outcome = LoginOutcome::NetworkFailure;
            listener.status(kLoginStatusNetworkFailed);
        }
        post([this, result] { onLoginAnswer(result); });
    });
}

void CLoginDialog::showStatus(const std::string& text) {
    m_status->setText(Q(text));
    m_status->repaint();
    emit statusShown(m_status->text());
}

void CLoginDialog::onLoginAnswer(const std::shared_ptr<LoginResult>& result) {
    if (m_worker.joinable()) m_worker.join();  // it has nothing left to do but return
    m_loggingIn = false;
    if (!result->account.userName.empty()) {
        m_current.userName = result->account.userName;
        m_current.passwordHash = result->account.passwordHash;
    }
    if (result->outcome != LoginOutcome::LoggedIn) {
        m_login->setEnabled(true);
        return;
    }
    m_current.autoLogin = result->account.autoLogin;
    m_current.fields = result->account.fields;
    m_result = std::move(*result);
    accept();
}

std::optional<LoginResult> CLoginDialog::takeResult() {
    std::optional<LoginResult> taken = std::move(m_result);
    m_result.reset();
    return taken;
}

void CLoginDialog::reject() {
    if (m_loggingIn) {
        Notifier().showMessage(kLoginBusyOnClose);
        return;
    }
    CYUiEntity::reject();
}

void CLoginDialog::showEvent(QShowEvent* event) {
    CYUiEntity::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    m_userName->setFocus();
    // Once per opening: an account that logs in by itself does so as soon as it is shown.
    QTimer::singleShot(1, this, [this] {
        if (m_current.autoLogin) onLogin();
    });
}

void CLoginDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (m_login->isEnabled()) onLogin();
        return;
    }
    CYUiEntity::keyPressEvent(event);
}

}  // namespace velquist::ui
