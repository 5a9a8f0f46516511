// The login dialog against the vendor service on loopback: remembered accounts, the status
// texts and messages of every outcome, auto-login, the duplicate-login lock, and what the main
// window gets from it (the title, the lock kept while logged in, the usage reports).

#include "ui/dialog_login.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>
#include <atomic>
#include <thread>

#include "../server/service_process.h"
#include "closed_port.h"
#include "services/account_lock.h"
#include "services/account_store.h"
#include "services/envelope.h"
#include "services/login.h"
#include "services/machine_facts.h"
#include "ui/hyperlink.h"
#include "ui/qt_text.h"
#include "ui/service_hooks.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using namespace velquist;
using velquist::testing::DataFolder;
using velquist::testing::ScriptedNotifier;
using velquist::ui::CLoginDialog;

namespace {

constexpr const char* kPassword = "secret123";
constexpr const char* kTrueName = "测试用户";

// Accounts of the test service; each test that logs in successfully has its own, since the
// service refuses a second login of one account within the same second.
const char* const kAccounts[] = {"张三",    "lisi",     "wangwu",  "stored1",   "stored2",
                                 "stored3", "autouser", "dupuser", "titleuser", "wrongpw"};

// A loopback host that answers every request with one fixed body, or never answers when
// `answer` is false (the connection is accepted by the system and left waiting). At most
// 20 requests and 60 seconds.
class FixedAnswerHost {
  public:
    explicit FixedAnswerHost(std::string body, bool answer = true)
        : m_body(std::move(body)), m_answer(answer) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::listen(m_fd, 8) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
        if (m_answer) m_thread = std::thread([this] { serve(); });
    }
    ~FixedAnswerHost() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        ::close(m_fd);
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    int requests() const { return m_requests; }

  private:
    void serve() {
        QElapsedTimer clock;
        clock.start();
        while (!m_stop && m_requests < 20 && clock.elapsed() < 60000) {
            pollfd waiting{m_fd, POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0) continue;
            const int client = ::accept(m_fd, nullptr, nullptr);
            if (client < 0) continue;
            readRequest(client);
            const std::string response =
                "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                "Connection: close\r\nContent-Length: " +
                std::to_string(m_body.size()) + "\r\n\r\n" + m_body;
            ssize_t sent = 0;
            while (sent < ssize_t(response.size())) {
                const ssize_t n = ::send(client, response.data() + sent,
                                         response.size() - std::size_t(sent), MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += n;
            }
            ::close(client);
            ++m_requests;
        }
    }

    // The head and a Content-Length body, within 5 seconds.
    static void readRequest(int client) {
        std::string request;
        char buffer[4096];
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            const std::size_t headEnd = request.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                std::size_t bodyLength = 0;
                const std::size_t field = request.find("Content-Length:");
                if (field != std::string::npos && field < headEnd)
                    bodyLength = std::stoul(request.substr(field + 15));
                if (request.size() >= headEnd + 4 + bodyLength) return;
            }
            pollfd readable{client, POLLIN, 0};
            if (::poll(&readable, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0) return;
            request.append(buffer, std::size_t(n));
        }
    }

    std::string m_body;
    bool m_answer;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

std::string LoginAnswer(const std::string& json) { return EncipherToHex(kLoginKey, json); }

// Types `text` key by key, as a person would; QTest::keyClicks knows only ASCII.
void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

QStringList Texts(const QSignalSpy& spy) {
    QStringList texts;
    for (const auto& arguments : spy) texts << arguments.at(0).toString();
    return texts;
}

QStringList Q8(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts) list << QString::fromUtf8(text);
    return list;
}

}  // namespace

class DialogLoginTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        ui::SetProgramFolder(QStringLiteral(VELQUIST_PROGRAM_DIR));
        for (const char* name : kAccounts) {
            const auto added = velquist::testing::RunServiceCommand(
                m_serviceData.path(), {"--data", m_serviceData.path(), "account", "add", name,
                                       kPassword, "--truename", kTrueName});
            QVERIFY2(added.exitCode == 0, added.err.c_str());
        }
        m_service = std::make_unique<velquist::testing::ServiceProcess>(m_serviceData.path(),
                                                                        m_scratch.path(), 300);
        QVERIFY2(m_service->started(), m_service->log().c_str());
    }

    void init() {
        velquist::testing::ResetProcessFlags();
        m_data = std::make_unique<DataFolder>();
        m_notifier = std::make_unique<ScriptedNotifier>();
    }
    void cleanup() {
        m_notifier.reset();
        m_data.reset();
    }

    void withoutAccountsTheFormIsEmptyAndNothingStarts() {
        CLoginDialog dialog(settings(m_service->host()));
        QCOMPARE(dialog.captionText(), QStringLiteral("用户登录"));
        QCOMPARE(dialog.userNameBox()->count(), 0);
        QCOMPARE(dialog.userNameBox()->currentText(), QString());
        QCOMPARE(dialog.passwordEdit()->text(), QString());
        QCOMPARE(dialog.passwordEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(dialog.rememberBox()->isChecked());
        QVERIFY(!dialog.autoLoginBox()->isChecked());
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("等待登录"));
        dialog.show();
        QTest::qWait(100);
        QVERIFY(!dialog.loggingIn());
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("等待登录"));
    }

    void rememberedAccountsAreOfferedAutoLoginFirstThenLatest() {
        const std::string hashOld = Md5HexUpper("old-password");
        const std::string hashAuto = Md5HexUpper("auto-password");
        QVERIFY(remember("old", hashOld, 0, "2015-01-01 10:00:00"));
        QVERIFY(remember("recent", "", 0, "2016-01-01 10:00:00"));
        QVERIFY(remember("auto", hashAuto, 1, "2014-01-01 10:00:00"));
        QVERIFY(remember("", "", 0, "2017-01-01 10:00:00"));  // a nameless row is not offered

        // Not shown: an auto-login account would log in by itself.
        CLoginDialog dialog(settings(m_service->host()));
        QComboBox* names = dialog.userNameBox();
        QCOMPARE(names->count(), 3);
        QCOMPARE(names->itemText(0), QStringLiteral("auto"));
        QCOMPARE(names->itemText(1), QStringLiteral("recent"));
        QCOMPARE(names->itemText(2), QStringLiteral("old"));
        QCOMPARE(names->currentText(), QStringLiteral("auto"));
        QCOMPARE(dialog.passwordEdit()->text(), QStringLiteral("******"));
        QVERIFY(dialog.rememberBox()->isChecked());
        QVERIFY(dialog.autoLoginBox()->isChecked());
        QCOMPARE(dialog.currentAccount().passwordHash, hashAuto);

        // The next name of the list, chosen with the arrow key.
        const auto chooseNext = [names] {
            QTest::keyClick(names, Qt::Key_Down);
            QTest::qWait(20);
        };
        chooseNext();
        QCOMPARE(names->currentText(), QStringLiteral("recent"));
        QCOMPARE(dialog.passwordEdit()->text(), QString());
        QVERIFY(!dialog.rememberBox()->isChecked());
        QVERIFY(!dialog.autoLoginBox()->isChecked());

        chooseNext();
        QCOMPARE(dialog.passwordEdit()->text(), QStringLiteral("******"));
        QVERIFY(dialog.rememberBox()->isChecked());
        QCOMPARE(dialog.currentAccount().userName, std::string("old"));
        QCOMPARE(dialog.currentAccount().passwordHash, hashOld);

        // Typing another name drops the placeholder of the remembered one.
        Type(names->lineEdit(), QStringLiteral("x"));
        QCOMPARE(dialog.passwordEdit()->text(), QString());
        QVERIFY(m_notifier->messages.empty());
    }

    void aSuccessfulLoginSavesTheChoices_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("autoLogin");
        QTest::newRow("remembered") << QStringLiteral("张三") << true << false;
        QTest::newRow("password not kept") << QStringLiteral("lisi") << false << false;
        QTest::newRow("auto-login") << QStringLiteral("wangwu") << true << true;
    }

    void aSuccessfulLoginSavesTheChoices() {
        QFETCH(QString, name);
        QFETCH(bool, remember);
        QFETCH(bool, autoLogin);
        CLoginDialog dialog(settings(m_service->host()));
        dialog.show();
        Type(dialog.userNameBox()->lineEdit(), name);
        Type(dialog.passwordEdit(), QString::fromUtf8(kPassword));
        if (dialog.rememberBox()->isChecked() != remember) dialog.rememberBox()->click();
        if (autoLogin) dialog.autoLoginBox()->click();
        QSignalSpy statuses(&dialog, &CLoginDialog::statusShown);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
        QVERIFY(!dialog.loginButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QCOMPARE(Texts(statuses), Q8({"正在登录......", "正在登录..."}));
        QVERIFY(m_notifier->messages.empty());

        const std::string user = ui::U8(name);
        QCOMPARE(dialog.currentAccount().fields.trueName, std::string(kTrueName));
        std::optional<LoginResult> result = dialog.takeResult();
        QVERIFY(result && result->lock && result->lock->held());
        QCOMPARE(result->account.userName, user);

        const auto row = FindRememberedAccount(m_data->paths.databasePath, user);
        QVERIFY(row);
        QCOMPARE(row->passwordHash, remember ? Md5HexUpper(kPassword) : std::string());
        QCOMPARE(row->autoLogin, autoLogin);
    }

    void everyFailureShowsItsStatusAndMessage_data() {
        QTest::addColumn<QString>("where");  // service, closed, or a fixed answer's body
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("messages");
        const QString service = QStringLiteral("service");
        const QString wrongpw = QStringLiteral("wrongpw");
        const QString x = QStringLiteral("x");
        const auto sent = [](const char* last) {
            return Q8({"正在登录......", "正在登录...", last});
        };
        const auto fixed = [](const std::string& json) { return ui::Q(LoginAnswer(json)); };
        QTest::newRow("empty name")
            << service << QString() << x << QStringList() << Q8({"用户名不能为空!"});
        QTest::newRow("empty password")
            << service << wrongpw << QString() << QStringList() << Q8({"密码不能为空!"});
        QTest::newRow("network down") << QStringLiteral("closed") << wrongpw << x
                                      << sent("登录失败，请检查网络!") << QStringList();
        QTest::newRow("wrong password")
            << service << wrongpw << QStringLiteral("not-it-at-all")
            << sent("登录失败，请检查网络!") << Q8({"登录失败，请检查您的用户名和密码是否正确!"});
        QTest::newRow("unknown name")
            << service << QStringLiteral("nobody") << QStringLiteral("whatever1")
            << sent("登录失败，请检查网络!") << Q8({"登录失败，请检查您的用户名和密码是否正确!"});
        QTest::newRow("answer without servertime")
            << fixed("{\"time\":\"0123456789ABCDEF\"}") << wrongpw << x
            << sent("登录失败，请检查网络是否正常") << QStringList();
        QTest::newRow("answer not enciphered")
            << QStringLiteral("<html>servertime</html>") << wrongpw << x
            << sent("登录失败，请检查网络是否正常") << QStringList();
        QTest::newRow("answer without time")
            << fixed("{\"servertime\":\"2015-03-01 08:05:10\",\"truename\":\"x\"}") << wrongpw << x
            << sent("登录失败!") << QStringList();
        QTest::newRow("answer for another request")
            << fixed("{\"servertime\":\"2015-03-01 08:05:10\",\"time\":\"" +
                     EncipherToHex(kAnswerCheckKey, Md5HexUpper("other")) + "\"}")
            << wrongpw << x << sent("登录失败!") << QStringList();
    }

    void everyFailureShowsItsStatusAndMessage() {
        QFETCH(QString, where);
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, messages);
        std::unique_ptr<FixedAnswerHost> fixed;
        std::string host = m_service->host();
        if (where == QStringLiteral("closed")) {
            host = "127.0.0.1:" + std::to_string(velquist::testing::ClosedPort());
        } else if (where != QStringLiteral("service")) {
            fixed = std::make_unique<FixedAnswerHost>(ui::U8(where));
            host = fixed->host();
        }
        CLoginDialog dialog(settings(host));
        dialog.show();
        Type(dialog.userNameBox()->lineEdit(), name);
        Type(dialog.passwordEdit(), password);
        QSignalSpy shown(&dialog, &CLoginDialog::statusShown);
        QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.loggingIn(), 15000);
        QTest::qWait(20);  // anything posted after the answer would show up now

        QCOMPARE(Texts(shown), statuses);
        QStringList shownMessages;
        for (const auto& text : m_notifier->messages) shownMessages << ui::Q(text);
        QCOMPARE(shownMessages, messages);
        if (!statuses.isEmpty()) QCOMPARE(dialog.statusLabel()->text(), statuses.last());
        QVERIFY(dialog.loginButton()->isEnabled());
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.takeResult());
        QCOMPARE(m_data->count("SELECT COUNT(*) FROM ZQLaccount"), 0);
        if (fixed) QCOMPARE(fixed->requests(), 1);
    }

    void thePlaceholderSendsTheStoredHashAndTypingSendsANewOne_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("storedPassword");
        QTest::addColumn<QString>("typed");  // empty: the placeholder is left as it is
        QTest::addColumn<bool>("loggedIn");
        const QString password = QString::fromUtf8(kPassword);
        const QString stale = QStringLiteral("old-password");
        QTest::newRow("placeholder, right hash")
            << QStringLiteral("stored1") << password << QString() << true;
        QTest::newRow("typed over a stale hash")
            << QStringLiteral("stored2") << stale << password << true;
        QTest::newRow("placeholder, stale hash")
            << QStringLiteral("stored3") << stale << QString() << false;
    }

    void thePlaceholderSendsTheStoredHashAndTypingSendsANewOne() {
        QFETCH(QString, name);
        QFETCH(QString, storedPassword);
        QFETCH(QString, typed);
        QFETCH(bool, loggedIn);
        QVERIFY(
            remember(ui::U8(name), Md5HexUpper(ui::U8(storedPassword)), 0, "2015-01-01 10:00:00"));
        CLoginDialog dialog(settings(m_service->host()));
        dialog.show();
        QCOMPARE(dialog.passwordEdit()->text(), QStringLiteral("******"));
        if (!typed.isEmpty()) {
            dialog.passwordEdit()->clear();
            Type(dialog.passwordEdit(), typed);
        }
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.loggingIn(), 15000);
        QCOMPARE(accepted.count(), loggedIn ? 1 : 0);
        const auto row = FindRememberedAccount(m_data->paths.databasePath, ui::U8(name));
        QVERIFY(row);
        // A success keeps the hash that worked; a refusal leaves the row alone.
        QCOMPARE(row->passwordHash,
                 Md5HexUpper(ui::U8(loggedIn ? QString::fromUtf8(kPassword) : storedPassword)));
    }

    void autoLoginIsSavedAtOnceAndKeepsThePassword() {
        QVERIFY(remember("stored1", Md5HexUpper("anything"), 0, "2015-01-01 10:00:00"));
        CLoginDialog dialog(settings(m_service->host()));
        dialog.show();
        dialog.rememberBox()->click();
        QVERIFY(!dialog.rememberBox()->isChecked());
        QTest::mouseClick(dialog.autoLoginBox(), Qt::LeftButton);
        QVERIFY(dialog.rememberBox()->isChecked());
        QCOMPARE(m_data->count("SELECT autologin FROM ZQLaccount WHERE accname='stored1'"), 1);
        QTest::mouseClick(dialog.autoLoginBox(), Qt::LeftButton);
        QCOMPARE(m_data->count("SELECT autologin FROM ZQLaccount WHERE accname='stored1'"), 0);
        QVERIFY(!dialog.loggingIn());
    }

    void anAutoLoginAccountLogsInByItself() {
        QVERIFY(remember("autouser", Md5HexUpper(kPassword), 1, "2015-01-01 10:00:00"));
        QVERIFY(remember("recent", Md5HexUpper("x"), 0, "2016-01-01 10:00:00"));
        CLoginDialog dialog(settings(m_service->host()));
        QSignalSpy statuses(&dialog, &CLoginDialog::statusShown);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QCOMPARE(Texts(statuses), Q8({"正在登录......", "正在登录..."}));
        QCOMPARE(dialog.currentAccount().userName, std::string("autouser"));
        QVERIFY(m_notifier->messages.empty());
    }

    void aSecondCopyCannotLogInWithAnAccountInUse() {
        // Another copy of the program holds the account.
        FixedAnswerHost untouched("err");
        std::optional<AccountLock> other =
            AccountLock::Acquire(m_data->paths.dataFolder, "dupuser");
        QVERIFY(other->held());
        {
            CLoginDialog dialog(settings(untouched.host()));
            dialog.show();
            Type(dialog.userNameBox()->lineEdit(), QStringLiteral("dupuser"));
            Type(dialog.passwordEdit(), QString::fromUtf8(kPassword));
            QSignalSpy statuses(&dialog, &CLoginDialog::statusShown);
            QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.loggingIn(), 15000);
            QCOMPARE(Texts(statuses), Q8({"重复登录"}));
            QCOMPARE(m_notifier->messages,
                     std::vector<std::string>{"您的账户【dupuser】已经登录，请不要重复登录！"});
            QVERIFY(dialog.loginButton()->isEnabled());
            QVERIFY(dialog.isVisible());
            QCOMPARE(untouched.requests(), 0);
        }

        // Once the other copy has gone the login goes through, and this one holds the account.
        other.reset();
        CLoginDialog dialog(settings(m_service->host()));
        dialog.show();
        Type(dialog.userNameBox()->lineEdit(), QStringLiteral("dupuser"));
        Type(dialog.passwordEdit(), QString::fromUtf8(kPassword));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        std::optional<LoginResult> result = dialog.takeResult();
        QVERIFY(result && result->lock);
        QCOMPARE(AccountLock::Acquire(m_data->paths.dataFolder, "dupuser").state(),
                 AccountLock::State::HeldElsewhere);
        result.reset();
        QVERIFY(AccountLock::Acquire(m_data->paths.dataFolder, "dupuser").held());
    }

    void closingWhileLoggingInIsRefused() {
        // A host that takes the connection and never answers: the login waits for its limit.
        FixedAnswerHost silent("", false);
        LoginSettings slow = settings(silent.host());
        slow.hosts.httpTimeoutSeconds = 2;
        CLoginDialog dialog(slow);
        dialog.show();
        Type(dialog.userNameBox()->lineEdit(), QStringLiteral("wrongpw"));
        Type(dialog.passwordEdit(), QStringLiteral("x"));
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        // Enter in the password box logs in as the button does.
        QTest::keyClick(dialog.passwordEdit(), Qt::Key_Return);
        QVERIFY(dialog.loggingIn());
        QVERIFY(!dialog.loginButton()->isEnabled());
        QTest::mouseClick(dialog.findChild<ui::CYButton*>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(m_notifier->messages,
                 (std::vector<std::string>{"正在登录中，请勿关闭!", "正在登录中，请勿关闭!"}));
        QVERIFY(dialog.isVisible());
        QCOMPARE(rejected.count(), 0);

        QTRY_VERIFY_WITH_TIMEOUT(!dialog.loggingIn(), 15000);
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("登录失败，请检查网络!"));
        QTest::mouseClick(dialog.findChild<ui::CYButton*>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
    }

    void theLinksOpenTheAccountPages() {
        velquist::testing::RecordingOpener opener;
        LoginSettings where = settings("accounts.example.com");
        CLoginDialog dialog(where);
        dialog.show();
        QCOMPARE(dialog.lostPasswordLink()->text(), QStringLiteral("忘记密码？"));
        QCOMPARE(dialog.registerLink()->text(), QStringLiteral("用户注册"));
        QTest::mouseClick(dialog.lostPasswordLink(), Qt::LeftButton);
        QTest::mouseClick(dialog.registerLink(), Qt::LeftButton);
        QCOMPARE(
            opener.opened,
            (std::vector<QString>{
                QStringLiteral("http://accounts.example.com/index.php?act=lostpassword"),
                QStringLiteral("http://accounts.example.com/index.php?act=register&fromid=")}));
        QVERIFY(m_notifier->messages.empty());
    }

    void theWindowTakesTheTitleAndKeepsTheAccountWhileLoggedIn() {
        velquist::testing::RecordedDiscovery discovery;
        ui::MainWindowSettings windowSettings = velquist::testing::FastSettings(m_data->paths);
        windowSettings.hosts = hosts(m_service->host());
        ui::MainWindowHooks hooks = velquist::testing::QuietHooks(discovery);
        hooks.startupReport = [] {};
        const auto session = ui::PlugServiceHooks(hooks, windowSettings);
        ui::CVelquistDlg window(windowSettings, hooks);
        bool filled = false;
        velquist::testing::WhenModalShown<CLoginDialog>([&filled](CLoginDialog* dialog) {
            Type(dialog->userNameBox()->lineEdit(), QStringLiteral("titleuser"));
            Type(dialog->passwordEdit(), QString::fromUtf8(kPassword));
            QTest::mouseClick(dialog->loginButton(), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 15000);
            filled = true;
        });
        window.openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(window.loggedIn(), 20000);
        QVERIFY(filled);
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("titleuser-Zanquil关键词排名查询软件（360版-永久免费）"));
        QCOMPARE(session->account().userName, std::string("titleuser"));
        QCOMPARE(session->account().fields.trueName, std::string(kTrueName));
        QVERIFY(session->holdsAccountLock());
        QCOMPARE(AccountLock::Acquire(m_data->paths.dataFolder, "titleuser").state(),
                 AccountLock::State::HeldElsewhere);
        QVERIFY(m_notifier->messages.empty());
    }

    void usageReportsAreSentAtStartAndExit() {
        ui::MainWindowSettings windowSettings = velquist::testing::FastSettings(m_data->paths);
        windowSettings.hosts = hosts(m_service->host());
        const auto before = usageRows();
        bool exited = false;
        {
            velquist::testing::RecordedDiscovery discovery;
            ui::MainWindowHooks hooks = velquist::testing::QuietHooks(discovery);
            hooks.login = [](QWidget*) { return std::optional<std::string>("demo"); };
            const auto session = ui::PlugServiceHooks(hooks, windowSettings);
            ui::CVelquistDlg window(windowSettings, hooks);
            QSignalSpy finished(&window, &ui::CVelquistDlg::exitFinished);
            window.openWindow();
            QTRY_VERIFY_WITH_TIMEOUT(!session->reporter().ids().ranklogid.empty(), 15000);
            const std::string ranklogid = session->reporter().ids().ranklogid;
            QCOMPARE(session->reporter().osText(), OsText(GatherMachineFacts()));

            m_notifier->answers = {true};
            window.requestExit();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 15000);
            QVERIFY(session->reporter().exitReportDone());
            const auto rows = usageRows();
            QCOMPARE(rows.size(), before.size() + 2);
            QCOMPARE(rows[rows.size() - 2].value(1), QStringLiteral("login"));
            QCOMPARE(rows.back().value(1), QStringLiteral("exit"));
            QCOMPARE(rows.back().value(6), ui::Q(ranklogid));
            exited = true;
        }
        QVERIFY(exited);
    }

    void theExitIsNotHeldWhenTheNetworkIsDown() {
        ui::MainWindowSettings windowSettings = velquist::testing::FastSettings(m_data->paths);
        windowSettings.hosts =
            hosts("127.0.0.1:" + std::to_string(velquist::testing::ClosedPort()));
        windowSettings.exitWaitLimit = std::chrono::milliseconds(20000);
        velquist::testing::RecordedDiscovery discovery;
        ui::MainWindowHooks hooks = velquist::testing::QuietHooks(discovery);
        hooks.login = [](QWidget*) { return std::optional<std::string>("demo"); };
        const auto session = ui::PlugServiceHooks(hooks, windowSettings);
        ui::CVelquistDlg window(windowSettings, hooks);
        QSignalSpy finished(&window, &ui::CVelquistDlg::exitFinished);
        window.openWindow();
        QTest::qWait(300);  // the start-up report has failed by now
        QVERIFY(session->reporter().ids().ranklogid.empty());
        QElapsedTimer clock;
        clock.start();
        m_notifier->answers = {true};
        window.requestExit();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(session->reporter().exitReportDone());
    }

  private:
    static HostConfig hosts(const std::string& host) {
        HostConfig config;
        config.accountHost = config.statisticsHost = config.reportHost = host;
        config.uaHost = config.downloadHost = "127.0.0.1:9";
        config.httpTimeoutSeconds = 10;
        return config;
    }

    LoginSettings settings(const std::string& host) const {
        return {hosts(host), m_data->paths.dataFolder, m_data->paths.databasePath};
    }

    bool remember(const std::string& name, const std::string& hash, int autoLogin,
                  const std::string& time) {
        DbConnection db(m_data->paths.databasePath);
        DbStatement insert(db,
                           "INSERT INTO ZQLaccount(accname,accpwd,autologin,lasttime) "
                           "VALUES(?,?,?,?)");
        insert.bindText(1, name);
        insert.bindText(2, hash);
        insert.bindInt(3, autoLogin);
        insert.bindText(4, time);
        return StepSucceeded(insert.step());
    }

    // The service's usage records, one list of columns each.
    std::vector<QStringList> usageRows() {
        const auto listed = velquist::testing::RunServiceCommand(
            m_scratch.path(), {"--data", m_serviceData.path(), "usage", "list", "--format", "tsv"});
        std::vector<QStringList> rows;
        const QStringList lines = ui::Q(listed.out).split('\n', Qt::SkipEmptyParts);
        for (qsizetype i = 1; i < lines.size(); ++i) rows.push_back(lines[i].split('\t'));
        return rows;
    }

    velquist::testing::TempFolder m_serviceData;
    velquist::testing::TempFolder m_scratch;
    std::unique_ptr<velquist::testing::ServiceProcess> m_service;
    std::unique_ptr<DataFolder> m_data;
    std::unique_ptr<ScriptedNotifier> m_notifier;
};

QTEST_MAIN(DialogLoginTest)
#include "dialog_login_test.moc"
