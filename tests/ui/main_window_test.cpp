// The main window: what it does when it is made and opened, its tabs and the busy refusal, the
// swallowed Enter and Escape, its layout, banner, menu and the user-agent message.

#include <QLineEdit>
#include <QMenu>
#include <QtTest>
#include <cctype>

#include "core/process_state.h"
#include "records/site_records.h"
#include "services/user_agent.h"
#include "ui/dialog_about.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using velquist::Process;
using velquist::testing::DataFolder;
using velquist::testing::FastSettings;
using velquist::testing::QuietHooks;
using velquist::testing::RecordedDiscovery;
using velquist::testing::ScriptedNotifier;
using velquist::ui::CVelquistDlg;
using velquist::ui::CYButton;
using velquist::ui::PageTab;

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        velquist::testing::ResetProcessFlags();
        m_data = std::make_unique<DataFolder>();
        m_notifier = std::make_unique<ScriptedNotifier>();
        m_discovery = RecordedDiscovery{};
    }
    void cleanup() {
        m_notifier.reset();
        m_data.reset();
        velquist::testing::ResetProcessFlags();
    }

    void makingTheWindowClearsBothResultTablesAndLoadsTheSites() {
        QVERIFY(
            m_data->exec("INSERT INTO website (urlid,url,selected) VALUES "
                         "(0,'www.a.com',1),(1,'www.b.cn',0)"));
        QVERIFY(
            m_data->exec("INSERT INTO seorank (rank,rankNum,url,keywordId) VALUES "
                         "('第1名，第1页',1,'www.a.com',1)"));
        QVERIFY(m_data->exec(
            "INSERT INTO semrank (rank,rankNum,url,keywordId) VALUES ('左1',1,'www.a.com',1)"));
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
        QCOMPARE(m_data->count("SELECT COUNT(*) FROM seorank"), 0);
        QCOMPARE(m_data->count("SELECT COUNT(*) FROM semrank"), 0);
        QCOMPARE(int(Process().promotionSites().size()), 2);
        QCOMPARE(Process().siteColumnCount.load(), 2);
    }

    void openingShowsTheSettingsPageMaximisedAndStartsDiscovery() {
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
        window.openWindow();
        QTRY_VERIFY(window.isMaximized());
        QCOMPARE(window.currentTab(), PageTab::Settings);
        QVERIFY(window.page(PageTab::Settings)->isVisible());
        QVERIFY(!window.page(PageTab::Paid)->isVisible());
        QVERIFY(!window.page(PageTab::Natural)->isVisible());
        QCOMPARE(window.button(CVelquistDlg::kTabSettings)->state(), int(CYButton::Pressed));
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("Zanquil关键词排名查询软件（360版-永久免费）"));

        const std::string& runId = window.runId();
        QCOMPARE(int(runId.size()), 32);
        for (char c : runId)
            QVERIFY(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'));
        QCOMPARE(m_discovery.starts, 1);
        QCOMPARE(m_discovery.runId, runId);
        QVERIFY(m_notifier->messages.empty());
    }

    void tabsSwitchPagesAndTheSettingsTabWaitsForAQuery_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<bool>("stopPending");
        QTest::addColumn<bool>("refused");
        QTest::newRow("idle") << false << true << false << false;
        QTest::newRow("query running") << true << false << false << true;
        QTest::newRow("stop pending on a page") << false << true << true << true;
        // Running set but every worker already finished: nothing is busy any more.
        QTest::newRow("finished run") << true << true << false << false;
    }

    void tabsSwitchPagesAndTheSettingsTabWaitsForAQuery() {
        QFETCH(bool, running);
        QFETCH(bool, finished);
        QFETCH(bool, stopPending);
        QFETCH(bool, refused);
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
        auto* natural = new QWidget;
        bool pending = false;
        window.setPage(PageTab::Natural, natural, [&pending] { return pending; });
        window.openWindow();
        pending = stopPending;

        Process().queryRunning = running;
        Process().queryFinished = finished;
        for (int id : {CVelquistDlg::kTabPaid, CVelquistDlg::kTabNatural}) {
            QTest::mouseClick(window.button(id), Qt::LeftButton);
            QCOMPARE(int(window.currentTab()), id - CVelquistDlg::kTabPaid);
            QCOMPARE(window.button(id)->state(), int(CYButton::Pressed));
        }
        QVERIFY(natural->isVisible());

        QTest::mouseClick(window.button(CVelquistDlg::kTabSettings), Qt::LeftButton);
        if (refused) {
            QCOMPARE(m_notifier->messages, std::vector<std::string>{"正在查排名，请稍后再试。"});
            QCOMPARE(m_notifier->captions, std::vector<std::string>{"提示"});
            QCOMPARE(window.currentTab(), PageTab::Natural);
            QVERIFY(natural->isVisible());
            QCOMPARE(window.button(CVelquistDlg::kTabSettings)->state(), int(CYButton::Normal));
            QCOMPARE(window.button(CVelquistDlg::kTabNatural)->state(), int(CYButton::Pressed));
        } else {
            QVERIFY(m_notifier->messages.empty());
            QCOMPARE(window.currentTab(), PageTab::Settings);
            QVERIFY(!natural->isVisible());
            QCOMPARE(window.button(CVelquistDlg::kTabNatural)->state(), int(CYButton::Normal));
        }
    }

    void enterAndEscapeAreSwallowed() {
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
        auto* page = new QWidget;
        auto* edit = new QLineEdit(page);
        window.setPage(PageTab::Paid, page);
        window.openWindow();
        window.selectPage(PageTab::Paid);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        edit->setFocus();
        QSignalSpy returnPressed(edit, &QLineEdit::returnPressed);

        for (QWidget* target : std::initializer_list<QWidget*>{&window, page, edit}) {
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        QVERIFY(window.isVisible());
        QVERIFY(!window.exiting());
        QVERIFY(m_notifier->questions.empty());
        QCOMPARE(returnPressed.count(), 0);
        // Other keys still reach the page.
        QTest::keyClicks(edit, QStringLiteral("ab"));
        QCOMPARE(edit->text(), QStringLiteral("ab"));
    }

    void buttonsAndPagesAreLaidOutForBothStates() {
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
        window.openWindow();
        QTRY_VERIFY(window.isMaximized());
        for (bool maximised : {true, false}) {
            if (!maximised) {
                QTest::mouseClick(window.button(CVelquistDlg::kMaximise), Qt::LeftButton);
                QTRY_VERIFY(!window.isMaximized());
            }
            const int w = window.width();
            const int h = window.height();
            const int y = maximised ? 1 : 3;
            CYButton* close = window.button(CVelquistDlg::kClose);
            QCOMPARE(close->geometry().right() + 1, w - 1 - (maximised ? 0 : 4));
            QCOMPARE(close->y(), y);
            // Close, maximise, minimise and menu touch each other from the right.
            int right = close->x();
            for (int id :
                 {CVelquistDlg::kMaximise, CVelquistDlg::kMinimise, CVelquistDlg::kMenuButton}) {
                QCOMPARE(window.button(id)->geometry().right() + 1, right);
                QCOMPARE(window.button(id)->y(), y);
                right = window.button(id)->x();
            }
            CYButton* logo = window.button(CVelquistDlg::kLogo);
            QCOMPARE(logo->geometry().right() + 1, w - 30);
            QCOMPARE(logo->y(), y + close->height() + 15);
            QCOMPARE(window.button(CVelquistDlg::kTabPaid)->pos(), QPoint(10, 31));
            QCOMPARE(window.button(CVelquistDlg::kTabNatural)->pos(), QPoint(104, 31));
            QCOMPARE(window.button(CVelquistDlg::kTabSettings)->pos(), QPoint(198, 31));

            QCOMPARE(window.page(PageTab::Settings)->geometry(), QRect(1, 97, w - 2, h - 121));
            QCOMPARE(window.page(PageTab::Natural)->geometry(), QRect(1, 97, w - 2, h - 121));
            QCOMPARE(window.page(PageTab::Paid)->geometry(), QRect(1, 98, w - 2, h - 123));

            // The banner sits left of the logo button, never left of x = 252.
            const QRect banner = window.bannerRect();
            QCOMPARE(banner.top(), 25);
            QCOMPARE(banner.left(), std::max(292, w - logo->width() - banner.width() - 30) - 40);
            QVERIFY(banner.right() < logo->x());
        }
        // The maximise button shows what it will do next.
        QCOMPARE(window.button(CVelquistDlg::kMaximise)->text(), QStringLiteral("最大化"));
        QTest::mouseClick(window.button(CVelquistDlg::kMaximise), Qt::LeftButton);
        QTRY_VERIFY(window.isMaximized());
        QCOMPARE(window.button(CVelquistDlg::kMaximise)->text(), QStringLiteral("还原"));
    }

    void bannerRotatesAndOpensTheWebSite() {
        velquist::testing::RecordingOpener browser;
        auto settings = FastSettings(m_data->paths);
        settings.bannerInterval = std::chrono::milliseconds(30);
        CVelquistDlg window(settings, QuietHooks(m_discovery));
        window.openWindow();
        QCOMPARE(window.bannerIndex(), 0);
        QTRY_COMPARE(window.bannerIndex(), 1);
        QTRY_COMPARE(window.bannerIndex(), 2);
        QTRY_COMPARE(window.bannerIndex(), 0);

        QTest::mouseClick(&window, Qt::LeftButton, {}, window.bannerRect().center());
        QCOMPARE(browser.opened, std::vector<QString>{QStringLiteral("http://www.velquist.com/")});
        QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(window.width() / 2, 300));
        QCOMPARE(int(browser.opened.size()), 1);
    }

    void menuOffersItsFourCommands() {
        velquist::testing::RecordingOpener browser;
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
        window.openWindow();
        QTRY_VERIFY(window.isMaximized());
        QTest::mouseClick(window.button(CVelquistDlg::kMenuButton), Qt::LeftButton);
        QMenu* menu = window.popupMenu();
        QTRY_VERIFY(menu->isVisible());
        // Left-aligned 15 pixels left of the menu button, just below it.
        const QPoint button = window.button(CVelquistDlg::kMenuButton)->mapToGlobal(QPoint(0, 0));
        QCOMPARE(
            window.popupMenuPosition(),
            QPoint(button.x() - 15,
                   window.geometry().y() + window.button(CVelquistDlg::kMenuButton)->height() + 1));

        QStringList texts;
        for (QAction* action : menu->actions()) texts << action->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("意见反馈"), QStringLiteral("官方网站"),
                                     QStringLiteral("关于我们"), QStringLiteral("关闭程序")}));
        menu->hide();

        menu->actions()[1]->trigger();
        QCOMPARE(browser.opened, std::vector<QString>{QStringLiteral("http://www.velquist.com/")});

        QString aboutVersion;
        velquist::testing::WhenModalShown<velquist::ui::CDialogAbout>(
            [&aboutVersion](velquist::ui::CDialogAbout* about) {
                aboutVersion = about->versionText();
            });
        menu->actions()[2]->trigger();
        QCOMPARE(aboutVersion, QStringLiteral("版本：1.0.2.2"));

        QString logoAbout;
        velquist::testing::WhenModalShown<velquist::ui::CDialogAbout>(
            [&logoAbout](velquist::ui::CDialogAbout* about) { logoAbout = about->captionText(); });
        QTest::mouseClick(window.button(CVelquistDlg::kLogo), Qt::LeftButton);
        QCOMPARE(logoAbout, QStringLiteral("关于我们"));

        menu->actions()[3]->trigger();
        QTRY_COMPARE(m_notifier->questions,
                     std::vector<std::string>{"关闭Zanquil查排名软件将无法查询排名，确认退出？"});
    }

    void feedbackItemRunsItsHookOnceOneIsPlugged() {
        int feedbackRuns = 0;
        {
            CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
            QVERIFY(!window.popupMenu()->actions()[0]->isEnabled());
        }
        auto hooks = QuietHooks(m_discovery);
        hooks.feedback = [&feedbackRuns](QWidget*) { ++feedbackRuns; };
        CVelquistDlg window(FastSettings(m_data->paths), hooks);
        QVERIFY(window.popupMenu()->actions()[0]->isEnabled());
        window.popupMenu()->actions()[0]->trigger();
        QCOMPARE(feedbackRuns, 1);
    }

    void userAgentMessageRunsTheLocalDialogOnlyWhenAsked() {
        CVelquistDlg window(FastSettings(m_data->paths), QuietHooks(m_discovery));
        window.openWindow();
        QVERIFY(m_discovery.mailbox);

        // The exchange found one: it is stored, and no dialog follows.
        m_discovery.mailbox->post(0, "Mozilla/5.0 (X11; Linux x86_64) Test/1.0");
        QTRY_COMPARE(Process().userAgent(),
                     std::string("Mozilla/5.0 (X11; Linux x86_64) Test/1.0"));
        QVERIFY(!QApplication::activeModalWidget());

        // Nothing usable: local discovery runs, closes itself, and leaves a user agent.
        Process().setUserAgent("");
        m_discovery.mailbox->post(1);
        QTRY_COMPARE(Process().userAgent(), std::string(velquist::kUserAgentLocalFallback));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(m_notifier->messages.empty());
    }

  private:
    std::unique_ptr<DataFolder> m_data;
    std::unique_ptr<ScriptedNotifier> m_notifier;
    RecordedDiscovery m_discovery;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
