// The feedback dialog: its controls, the checks before sending, and every answer, against the
// vendor service on loopback; and the menu entry that opens it.

#include "ui/dialog_feedback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QtTest>

#include "../server/service_process.h"
#include "closed_port.h"
#include "ui/qt_text.h"
#include "ui/service_hooks.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using namespace velquist;
using velquist::testing::DataFolder;
using velquist::testing::ScriptedNotifier;
using velquist::ui::CDialogFeedback;

namespace {

const QString kHint = QStringLiteral("请详细描述您的问题现象，以便我们快速解决问题！");

// A loopback port that takes connections and never answers them.
class SilentPort {
  public:
    SilentPort() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::listen(m_fd, 8) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentPort() { ::close(m_fd); }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

  private:
    int m_fd = -1;
    int m_port = 0;
};

void Fill(CDialogFeedback& dialog, const QString& content, int contactType,
          const QString& contact) {
    dialog.contentEdit()->setPlainText(content);
    dialog.contactTypeBox()->setCurrentIndex(contactType);
    dialog.contactEdit()->setText(contact);
}

}  // namespace

class DialogFeedbackTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        ui::SetProgramFolder(QStringLiteral(VELQUIST_PROGRAM_DIR));
        m_service = std::make_unique<velquist::testing::ServiceProcess>(m_serviceData.path(),
                                                                        m_scratch.path(), 300);
        QVERIFY2(m_service->started(), m_service->log().c_str());
    }

    void init() {
        m_data = std::make_unique<DataFolder>();
        m_notifier = std::make_unique<ScriptedNotifier>();
    }
    void cleanup() {
        m_notifier.reset();
        m_data.reset();
    }

    void theDialogOpensWithTheHintAndTheContactTypes() {
        CDialogFeedback dialog(hosts(m_service->host()), m_data->paths.settingsPath);
        QCOMPARE(dialog.captionText(), QStringLiteral("Zanquil查排名反馈建议"));
        QCOMPARE(dialog.contentEdit()->toPlainText(), kHint);
        QStringList types;
        for (int i = 0; i < dialog.contactTypeBox()->count(); ++i)
            types << dialog.contactTypeBox()->itemText(i);
        QCOMPARE(types, (QStringList{"QQ", "飞信", "旺旺", "MSN", "邮箱", "电话/手机", "其他"}));
        QCOMPARE(dialog.contactTypeBox()->currentIndex(), 0);
        QCOMPARE(dialog.contactEdit()->text(), QString());

        // Whoever starts writing replaces the hint.
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.contentEdit()->setFocus();
        QTest::qWait(20);
        for (const QChar c : QStringLiteral("打不开")) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(dialog.contentEdit(), &press);
        }
        QCOMPARE(dialog.contentEdit()->toPlainText(), QStringLiteral("打不开"));
    }

    void anIncompleteFormIsRefusedBeforeSending_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QString>("message");
        const QString needsContent = QStringLiteral("请填写您的问题或建议！");
        const QString needsContact = QStringLiteral("请填写您的联系方式！");
        QTest::newRow("hint untouched, no contact") << kHint << QString() << needsContent;
        QTest::newRow("hint with blanks around") << "  " + kHint + "\n"
                                                 << "12345" << needsContent;
        QTest::newRow("blank content") << QStringLiteral(" \n\t ") << "12345" << needsContent;
        QTest::newRow("no contact") << QStringLiteral("打不开") << QString() << needsContact;
        QTest::newRow("blank contact")
            << QStringLiteral("打不开") << QStringLiteral("   ") << needsContact;
    }

    void anIncompleteFormIsRefusedBeforeSending() {
        QFETCH(QString, content);
        QFETCH(QString, contact);
        QFETCH(QString, message);
        // Nothing may reach a host: a request here would end in the network error instead.
        const int closed = velquist::testing::ClosedPort();
        CDialogFeedback dialog(hosts("127.0.0.1:" + std::to_string(closed)),
                               m_data->paths.settingsPath);
        dialog.show();
        Fill(dialog, content, 0, contact);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.submitButton(), Qt::LeftButton);
        QVERIFY(!dialog.sending());
        QTest::qWait(50);
        QCOMPARE(m_notifier->messages, std::vector<std::string>{ui::U8(message)});
        QCOMPARE(m_notifier->captions, std::vector<std::string>{"提示"});
        QCOMPARE(accepted.count(), 0);
        QVERIFY(dialog.isVisible());
    }

    void sentFeedbackReachesTheService() {
        CDialogFeedback dialog(hosts(m_service->host()), m_data->paths.settingsPath);
        dialog.show();
        Fill(dialog, QStringLiteral("  查询结果不对 & 100%  "), 3, QStringLiteral(" me "));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.submitButton(), Qt::LeftButton);
        QVERIFY(!dialog.submitButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QCOMPARE(m_notifier->messages,
                 std::vector<std::string>{
                     "提交成功，感谢您对Zanquil查排名的支持，我们会尽快处理您的问题！"});

        const auto listed = velquist::testing::RunServiceCommand(
            m_scratch.path(),
            {"--data", m_serviceData.path(), "feedback", "list", "--format", "tsv"});
        const QStringList lines = ui::Q(listed.out).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 2, listed.out.c_str());
        const QStringList row = lines.last().split('\t');
        // id received address machine appversion contact content cpu memory os
        QCOMPARE(row.value(5), QStringLiteral("MSN：me"));
        QCOMPARE(row.value(6), QStringLiteral("查询结果不对 & 100%"));
        QVERIFY2(row.value(8).startsWith(QStringLiteral("RAM: ")), qPrintable(row.value(8)));
        QCOMPARE(row.value(9), ui::Q(OsText(GatherMachineFacts())));
    }

    void failedSendingKeepsTheDialogOpen_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("message");
        QTest::newRow("network down") << "closed" << QStringLiteral("网络错误，请重试!");
        // A service that answers, but not the feedback path: its refusal is not "200".
        QTest::newRow("answer not 200") << "elsewhere" << QStringLiteral("数据错误，请重试!");
    }

    void failedSendingKeepsTheDialogOpen() {
        QFETCH(QString, where);
        QFETCH(QString, message);
        const std::string host =
            where == QStringLiteral("closed")
                ? "127.0.0.1:" + std::to_string(velquist::testing::ClosedPort())
                : m_service->host() + "/elsewhere";
        CDialogFeedback dialog(hosts(host), m_data->paths.settingsPath);
        dialog.show();
        Fill(dialog, QStringLiteral("打不开"), 0, QStringLiteral("12345"));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.submitButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.sending(), 15000);
        QCOMPARE(m_notifier->messages, std::vector<std::string>{ui::U8(message)});
        QCOMPARE(accepted.count(), 0);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.submitButton()->isEnabled());
        QCOMPARE(dialog.contentEdit()->toPlainText(), QStringLiteral("打不开"));
    }

    void leavingWhileSendingDropsTheAnswer() {
        SilentPort silent;
        HostConfig slow = hosts(silent.host());
        slow.httpTimeoutSeconds = 1;
        {
            CDialogFeedback dialog(slow, m_data->paths.settingsPath);
            dialog.show();
            Fill(dialog, QStringLiteral("打不开"), 0, QStringLiteral("12345"));
            QTest::mouseClick(dialog.submitButton(), Qt::LeftButton);
            QVERIFY(dialog.sending());
            QSignalSpy rejected(&dialog, &QDialog::rejected);
            QTest::mouseClick(dialog.backButton(), Qt::LeftButton);
            QCOMPARE(rejected.count(), 1);
        }
        // The request has run into its limit by now; its answer went nowhere.
        QTest::qWait(2500);
        QVERIFY(m_notifier->messages.empty());
    }

    void theMenuEntryOpensTheDialog() {
        velquist::testing::RecordedDiscovery discovery;
        ui::MainWindowSettings settings = velquist::testing::FastSettings(m_data->paths);
        settings.hosts = hosts(m_service->host());
        ui::MainWindowHooks hooks = velquist::testing::QuietHooks(discovery);
        hooks.startupReport = [] {};
        hooks.login = [](QWidget*) { return std::optional<std::string>("demo"); };
        ui::PlugServiceHooks(hooks, settings);
        ui::CVelquistDlg window(settings, hooks);
        window.openWindow();
        QAction* entry = nullptr;
        for (QAction* action : window.popupMenu()->actions())
            if (action->text() == QStringLiteral("意见反馈")) entry = action;
        QVERIFY(entry && entry->isEnabled());
        QString caption;
        velquist::testing::WhenModalShown<CDialogFeedback>(
            [&caption](CDialogFeedback* dialog) { caption = dialog->captionText(); });
        entry->trigger();
        QCOMPARE(caption, QStringLiteral("Zanquil查排名反馈建议"));
    }

  private:
    static HostConfig hosts(const std::string& host) {
        HostConfig config;
        config.accountHost = config.statisticsHost = config.reportHost = host;
        config.uaHost = config.downloadHost = "127.0.0.1:9";
        config.httpTimeoutSeconds = 10;
        return config;
    }

    velquist::testing::TempFolder m_serviceData;
    velquist::testing::TempFolder m_scratch;
    std::unique_ptr<velquist::testing::ServiceProcess> m_service;
    std::unique_ptr<DataFolder> m_data;
    std::unique_ptr<ScriptedNotifier> m_notifier;
};

QTEST_MAIN(DialogFeedbackTest)
#include "dialog_feedback_test.moc"
