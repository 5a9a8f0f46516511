// The confirmed exit of the main window: every way of asking, the answers, the login that
// comes back, and the bounded wait for a running query and the exit report.

#include <QElapsedTimer>
#include <QMenu>
#include <QtTest>
#include <atomic>
#include <thread>

#include "core/process_state.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using velquist::Process;
using velquist::testing::DataFolder;
using velquist::testing::FastSettings;
using velquist::testing::QuietHooks;
using velquist::testing::RecordedDiscovery;
using velquist::testing::ScriptedNotifier;
using velquist::ui::CVelquistDlg;

namespace {

const std::string kQuestion = "关闭Zanquil查排名软件将无法查询排名，确认退出？";

// A query run's workers as the exit sees them: they notice the cleared running flag and, after
// `storeTime`, report that they have finished. A negative time never finishes.
class FakeRun {
  public:
    explicit FakeRun(std::chrono::milliseconds storeTime) {
        Process().queryRunning = true;
        Process().queryFinished = false;
        if (storeTime.count() < 0) return;
        m_worker = std::thread([this, storeTime] {
            while (Process().queryRunning && !m_abandon)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (m_abandon) return;
            std::this_thread::sleep_for(storeTime);
            Process().queryFinished = true;
        });
    }
    ~FakeRun() {
        m_abandon = true;
        if (m_worker.joinable()) m_worker.join();
    }

  private:
    std::atomic<bool> m_abandon{false};
    std::thread m_worker;
};

}  // namespace

class ExitTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        velquist::testing::ResetProcessFlags();
        m_data = std::make_unique<DataFolder>();
        m_notifier = std::make_unique<ScriptedNotifier>();
    }
    void cleanup() {
        m_notifier.reset();
        m_data.reset();
        velquist::testing::ResetProcessFlags();
    }

    void everyWayOfClosingAsksTheSameQuestion_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << "button";
        QTest::newRow("menu 关闭程序") << "menu";
        QTest::newRow("window manager close") << "close";
    }

    void everyWayOfClosingAsksTheSameQuestion() {
        QFETCH(QString, how);
        RecordedDiscovery discovery;
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(discovery));
        window.openWindow();
        QSignalSpy finished(&window, &CVelquistDlg::exitFinished);

        m_notifier->answers = {false, true};
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (how == "button")
                QTest::mouseClick(window.button(CVelquistDlg::kClose), Qt::LeftButton);
            else if (how == "menu")
                window.popupMenu()->actions()[3]->trigger();
            else
                window.close();
            QTRY_COMPARE(int(m_notifier->questions.size()), attempt + 1);
            QCOMPARE(m_notifier->questions.back(), kQuestion);
            QCOMPARE(m_notifier->questionCaptions.back(), std::string("提示"));
            if (attempt == 0) {
                // No: the window carries on as it was.
                QTest::qWait(20);
                QVERIFY(window.isVisible());
                QVERIFY(!window.exiting());
                QCOMPARE(finished.count(), 0);
            }
        }
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!window.isVisible());
    }

    void cancelledLoginAsksAndNoBringsTheLoginBack() {
        RecordedDiscovery discovery;
        auto hooks = QuietHooks(discovery);
        int logins = 0;
        hooks.login = [&logins](QWidget*) -> std::optional<std::string> {
            ++logins;
            if (logins < 3) return std::nullopt;  // cancelled twice, then logged in
            return std::string("zhang");
        };
        CVelquistDlg window(FastSettings(m_data->paths), hooks);
        m_notifier->answers = {false, false};
        window.openWindow();
        QTRY_VERIFY(window.loggedIn());
        QCOMPARE(logins, 3);
        QCOMPARE(m_notifier->questions, (std::vector<std::string>{kQuestion, kQuestion}));
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("zhang-Zanquil关键词排名查询软件（360版-永久免费）"));

        // Logged in, No to the question changes nothing.
        m_notifier->answers = {false};
        QTest::mouseClick(window.button(CVelquistDlg::kClose), Qt::LeftButton);
        QCOMPARE(logins, 3);
        QVERIFY(window.isVisible());
    }

    void noBeforeTheLoginRunsTheLoginAgainAndYesEndsIt() {
        RecordedDiscovery discovery;
        auto hooks = QuietHooks(discovery);
        int logins = 0;
        hooks.login = [&logins](QWidget*) -> std::optional<std::string> {
            ++logins;
            return std::nullopt;
        };
        CVelquistDlg window(FastSettings(m_data->paths), hooks);
        QSignalSpy finished(&window, &CVelquistDlg::exitFinished);
        m_notifier->answers = {false, true};
        window.openWindow();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(logins, 2);
        QVERIFY(!window.loggedIn());
    }

    void yesStopsTheQueryAndWaitsForItToStore_data() {
        QTest::addColumn<int>("storeMs");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("below");
        QTest::newRow("idle") << 0 << 5000 << 0 << 1000;
        QTest::newRow("run ends after the stop") << 150 << 5000 << 150 << 2500;
        // The run never ends: the exit gives up at its bound and closes anyway.
        QTest::newRow("run never ends") << -1 << 300 << 300 << 2500;
    }

    void yesStopsTheQueryAndWaitsForItToStore() {
        QFETCH(int, storeMs);
        QFETCH(int, limitMs);
        QFETCH(int, atLeastMs);
        QFETCH(int, below);
        RecordedDiscovery discovery;
        auto settings = FastSettings(m_data->paths);
        settings.exitWaitLimit = std::chrono::milliseconds(limitMs);
        CVelquistDlg window(settings, QuietHooks(discovery));
        window.openWindow();
        QSignalSpy finished(&window, &CVelquistDlg::exitFinished);
        std::optional<FakeRun> run;
        if (storeMs != 0) run.emplace(std::chrono::milliseconds(storeMs));

        m_notifier->answers = {true};
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(window.button(CVelquistDlg::kClose), Qt::LeftButton);
        QVERIFY(!Process().queryRunning);
        QVERIFY(!window.isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        const qint64 waited = clock.elapsed();
        QVERIFY2(waited >= atLeastMs, qPrintable(QString::number(waited)));
        QVERIFY2(waited < below, qPrintable(QString::number(waited)));
        QCOMPARE(Process().queryFinished.load(), storeMs >= 0);
    }

    void exitWaitsForTheExitReport() {
        RecordedDiscovery discovery;
        auto hooks = QuietHooks(discovery);
        std::function<void()> reportDone;
        hooks.exitReport = [&reportDone](std::function<void()> done) {
            reportDone = std::move(done);
        };
        CVelquistDlg window(FastSettings(m_data->paths), hooks);
        window.openWindow();
        QSignalSpy finished(&window, &CVelquistDlg::exitFinished);
        m_notifier->answers = {true};
        QTest::mouseClick(window.button(CVelquistDlg::kClose), Qt::LeftButton);
        QVERIFY(reportDone);
        QTest::qWait(100);
        QCOMPARE(finished.count(), 0);
        std::thread([done = reportDone] { done(); }).join();
        QTRY_COMPARE(finished.count(), 1);
    }

    void aSecondCloseWhileExitingAsksNothing() {
        RecordedDiscovery discovery;
        auto settings = FastSettings(m_data->paths);
        settings.exitWaitLimit = std::chrono::milliseconds(300);
        CVelquistDlg window(settings, QuietHooks(discovery));
        window.openWindow();
        FakeRun run(std::chrono::milliseconds(-1));
        m_notifier->fallbackAnswer = true;
        QTest::mouseClick(window.button(CVelquistDlg::kClose), Qt::LeftButton);
        window.close();
        window.requestExit();
        QCOMPARE(int(m_notifier->questions.size()), 1);
    }

  private:
    std::unique_ptr<DataFolder> m_data;
    std::unique_ptr<ScriptedNotifier> m_notifier;
};

QTEST_MAIN(ExitTest)
#include "exit_test.moc"
