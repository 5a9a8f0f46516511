// The small dialogs and the link label: their fixed texts and the checks behind OK.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>
#include <fstream>

#include "core/paths.h"
#include "core/process_state.h"
#include "records/natural_records.h"
#include "records/paid_records.h"
#include "services/user_agent.h"
#include "ui/dialog_about.h"
#include "ui/dialog_add_keywords.h"
#include "ui/dialog_message.h"
#include "ui/dialog_modify.h"
#include "ui/hyperlink.h"
#include "ui/user_agent_dialog.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using velquist::testing::DataFolder;
using velquist::testing::ScriptedNotifier;
using namespace velquist::ui;

namespace {

void ClickOk(QWidget& dialog) {
    auto* ok = dialog.findChild<CYButton*>(QStringLiteral("okButton"));
    QVERIFY(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
}

std::vector<std::string> NaturalKeywords(const std::string& dbPath) {
    std::vector<std::string> keywords;
    const auto list = velquist::loadNaturalList(dbPath, {});
    if (list)
        for (const auto& row : list->rows) keywords.push_back(row.keyword);
    return keywords;
}

}  // namespace

class DialogsTest : public QObject {
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
    }

    void aboutShowsNameAndVersion() {
        CDialogAbout about;
        QCOMPARE(about.captionText(), QStringLiteral("关于我们"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("versionText"))->text(),
                 QStringLiteral("版本：1.0.2.2"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("programName"))->text(),
                 QStringLiteral("Zanquil关键词排名查询软件（360版-永久免费）"));
        about.show();
        QSignalSpy rejected(&about, &QDialog::rejected);
        QTest::mouseClick(about.findChild<CYButton*>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);

        CAboutDlg plain;
        QCOMPARE(plain.findChild<QLabel*>(QStringLiteral("aboutText"))->text(),
                 QStringLiteral("Velquist，1.0 版"));
    }

    void addNaturalRefusesAnEmptyEdit_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("nothing") << QString();
        QTest::newRow("only line breaks and blanks") << QStringLiteral("\n  \r\n\t");
    }

    void addNaturalRefusesAnEmptyEdit() {
        QFETCH(QString, typed);
        CDialogAddSeo dialog(m_data->paths.databasePath);
        dialog.editor()->setPlainText(typed);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        ClickOk(dialog);
        QCOMPARE(m_notifier->messages, std::vector<std::string>{"请输入关键词！"});
        QCOMPARE(m_notifier->captions, std::vector<std::string>{"提示"});
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(m_data->count("SELECT COUNT(*) FROM seokeyword"), 0);
    }

    void addNaturalAddsOneKeywordPerLine() {
        CDialogAddSeo dialog(m_data->paths.databasePath);
        int committed = -1;
        dialog.setOnCommitted([&committed](int added) { committed = added; });
        dialog.editor()->setPlainText(QStringLiteral("鲜花速递\r\nflowers\n\n北京 鲜花"));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        ClickOk(dialog);
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(committed, 3);
        QCOMPARE(m_notifier->messages, std::vector<std::string>{"添加完毕"});
        QCOMPARE(NaturalKeywords(m_data->paths.databasePath),
                 (std::vector<std::string>{"鲜花速递", "flowers", "北京 鲜花"}));
    }

    void addNaturalKeepsTheTextWhenTheAddFails() {
        // A folder where the database should be: every write fails.
        velquist::testing::TempFolder broken;
        const std::string dbPath = broken.path();
        CDialogAddSeo dialog(dbPath);
        dialog.editor()->setPlainText(QStringLiteral("鲜花速递"));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        ClickOk(dialog);
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(m_notifier->messages, std::vector<std::string>{"添加失败"});
        QCOMPARE(dialog.editor()->toPlainText(), QStringLiteral("鲜花速递"));
    }

    void addPaidOffersTheStoredPlansAndTheirUnits() {
        velquist::SilentNotifier silent;
        velquist::addPaidKeywords(
            m_data->paths.databasePath,
            {{"k1", "单元A", "计划乙"}, {"k2", "单元B", "计划乙"}, {"k3", "单元C", "计划甲"}},
            silent);
        CDialogAddSem dialog(m_data->paths.databasePath);
        QStringList plans;
        for (int i = 0; i < dialog.planBox()->count(); ++i) plans << dialog.planBox()->itemText(i);
        const auto stored = velquist::loadPlanChoices(m_data->paths.databasePath, silent);
        QVERIFY(stored);
        QStringList expected;
        for (const auto& plan : *stored) expected << QString::fromStdString(plan.name);
        QCOMPARE(plans, expected);
        QCOMPARE(plans.size(), 2);

        const auto unitsOf = [&dialog] {
            QStringList units;
            for (int i = 0; i < dialog.unitBox()->count(); ++i)
                units << dialog.unitBox()->itemText(i);
            return units;
        };
        dialog.planBox()->setCurrentIndex(plans.indexOf(QStringLiteral("计划乙")));
        QCOMPARE(unitsOf(), (QStringList{QStringLiteral("单元A"), QStringLiteral("单元B")}));
        dialog.planBox()->setCurrentIndex(plans.indexOf(QStringLiteral("计划甲")));
        QCOMPARE(unitsOf(), QStringList{QStringLiteral("单元C")});
        QVERIFY(m_notifier->messages.empty());
    }

    void addPaidChecksAndFillsInDefaultNames() {
        CDialogAddSem empty(m_data->paths.databasePath);
        ClickOk(empty);
        QCOMPARE(m_notifier->messages, std::vector<std::string>{"请输入关键词！"});
        QCOMPARE(m_data->count("SELECT COUNT(*) FROM keyword"), 0);

        CDialogAddSem dialog(m_data->paths.databasePath);
        dialog.planBox()->setEditText(QString());
        dialog.unitBox()->setEditText(QStringLiteral("  "));
        dialog.editor()->setPlainText(QStringLiteral("鲜花\n蛋糕"));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        ClickOk(dialog);
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(m_data->count("SELECT COUNT(*) FROM keyword WHERE plan='默认' AND unit='默认'"),
                 2);

        // A typed new plan and unit are created with the keywords.
        CDialogAddSem typed(m_data->paths.databasePath);
        typed.planBox()->setEditText(QStringLiteral("春季活动"));
        typed.unitBox()->setEditText(QStringLiteral("北京"));
        typed.editor()->setPlainText(QStringLiteral("鲜花"));
        ClickOk(typed);
        QCOMPARE(
            m_data->count("SELECT COUNT(*) FROM keyword WHERE plan='春季活动' AND unit='北京'"), 1);
        QCOMPARE(m_data->count("SELECT COUNT(*) FROM plan"), 2);
    }

    void addPaidReportsAnUnreadableTree() {
        velquist::testing::TempFolder broken;
        const std::string notADatabase = broken.file("main_360.db");
        std::ofstream(notADatabase) << "this is not a database file, only some text";
        CDialogAddSem dialog(notADatabase);
        QCOMPARE(m_notifier->messages,
                 std::vector<std::string>{"连接数据失败，账户树未能读取成功！"});
        QCOMPARE(dialog.planBox()->count(), 0);
    }

    void modifyChecksTheAddress_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");  // empty: accepted
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << QString() << QStringLiteral("网址为空，请输入正确的网址！")
                               << QString();
        QTest::newRow("blank") << QStringLiteral("   ")
                               << QStringLiteral("网址为空，请输入正确的网址！") << QString();
        QTest::newRow("Http prefix removed") << QStringLiteral("Http://www.example.com/shop")
                                             << QString() << QStringLiteral("www.example.com/shop");
        QTest::newRow("HTTP prefix removed") << QStringLiteral("HTTP://shop.example.cn")
                                             << QString() << QStringLiteral("shop.example.cn");
        QTest::newRow("not an address")
            << QStringLiteral("鲜花") << QStringLiteral("您输入的 【 鲜花 】 不是正确的网址 ！")
            << QString();
        QTest::newRow("upper-case country code")
            << QStringLiteral("www.example.CN")
            << QStringLiteral("您输入的 【 www.example.CN 】 不是正确的网址 ！") << QString();
        QTest::newRow("upper-case com")
            << QStringLiteral("WWW.EXAMPLE.COM") << QString() << QStringLiteral("WWW.EXAMPLE.COM");
    }

    void modifyChecksTheAddress() {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(QString, address);
        CDialogModify dialog(QStringLiteral("www.before.com"));
        QCOMPARE(dialog.captionText(), QStringLiteral("修改网址"));
        QCOMPARE(dialog.editor()->text(), QStringLiteral("www.before.com"));
        dialog.editor()->setText(typed);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        ClickOk(dialog);
        if (message.isEmpty()) {
            QVERIFY(m_notifier->messages.empty());
            QCOMPARE(accepted.count(), 1);
            QCOMPARE(dialog.address(), address);
        } else {
            QCOMPARE(m_notifier->messages, std::vector<std::string>{message.toStdString()});
            QCOMPARE(accepted.count(), 0);
        }
    }

    void messageBoxShowsItsTextCentredOverTheWindow() {
        QWidget owner;
        owner.setGeometry(100, 80, 1000, 700);
        owner.show();
        CDialogMessage box(&owner);
        QVERIFY(!box.isVisible());
        QCOMPARE(box.size(), QSize(400, 200));
        box.showText(QStringLiteral("查询完毕！"));
        QVERIFY(box.isVisible());
        QCOMPARE(box.text(), QStringLiteral("查询完毕！"));
        QCOMPARE(box.geometry().center(), owner.geometry().center());
        QTest::mouseClick(box.findChild<CYButton*>(QStringLiteral("closeButton")), Qt::LeftButton);
        QVERIFY(!box.isVisible());
        box.showText(QStringLiteral("第二次"));
        QVERIFY(box.isVisible());
    }

    void hyperlinkErrorTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("0") << 0
                           << QStringLiteral(
                                  "The operating system is out\nof memory or resources.");
        QTest::newRow("2") << 2 << QStringLiteral("The specified file was not found.");
        QTest::newRow("3") << 3 << QStringLiteral("The specified path was not found.");
        QTest::newRow("5") << 5
                           << QStringLiteral(
                                  "The operating system denied\naccess to the specified file.");
        QTest::newRow("8") << 8
                           << QStringLiteral(
                                  "There was not enough memory to complete the operation.");
        QTest::newRow("11")
            << 11
            << QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        QTest::newRow("26") << 26 << QStringLiteral("A sharing violation occurred. ");
        QTest::newRow("27") << 27
                            << QStringLiteral(
                                   "The filename association is\nincomplete or invalid.");
        QTest::newRow("28")
            << 28
            << QStringLiteral(
                   "The DDE transaction could not\nbe completed because the request timed out.");
        QTest::newRow("29") << 29 << QStringLiteral("The DDE transaction failed.");
        QTest::newRow("30") << 30
                            << QStringLiteral(
                                   "The DDE transaction could not\nbe completed because other DDE "
                                   "transactions\nwere being processed.");
        QTest::newRow("31")
            << 31
            << QStringLiteral(
                   "There is no application associated\nwith the given filename extension.");
        QTest::newRow("32") << 32
                            << QStringLiteral("The specified dynamic-link library was not found.");
        QTest::newRow("other") << 17 << QStringLiteral("Unknown Error (17) occurred.");
    }

    void hyperlinkErrorTexts() {
        QFETCH(int, code);
        QFETCH(QString, reason);
        velquist::testing::RecordingOpener browser(code);
        CHyperLink link(QStringLiteral("忘记密码？"),
                        QStringLiteral("http://account.example/forgot"));
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(browser.opened,
                 std::vector<QString>{QStringLiteral("http://account.example/forgot")});
        QCOMPARE(
            m_notifier->messages,
            std::vector<std::string>{("Unable to open hyperlink:\n\n" + reason).toStdString()});
    }

    void hyperlinkThatOpensShowsNothing() {
        velquist::testing::RecordingOpener browser;
        CHyperLink link(QStringLiteral("用户注册"), QStringLiteral("http://account.example/join"));
        QSignalSpy clicked(&link, &CHyperLink::clicked);
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(int(browser.opened.size()), 1);
        QVERIFY(m_notifier->messages.empty());
    }

    void userAgentDialogStoresWhatThePageSays_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("complains");
        QTest::newRow("page text")
            << QStringLiteral("Mozilla/5.0 (Windows NT 6.1; Trident/7.0)")
            << QStringLiteral("Mozilla/5.0 (Windows NT 6.1; Trident/7.0)") << false;
        QTest::newRow("empty page")
            << QString() << QString::fromUtf8(velquist::kUserAgentLocalFallback) << true;
    }

    void userAgentDialogStoresWhatThePageSays() {
        QFETCH(QString, page);
        QFETCH(QString, stored);
        QFETCH(bool, complains);
        UserAgentDlg dialog(nullptr, [page] { return page.toStdString(); });
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.show();
        QTRY_COMPARE(accepted.count(), 1);
        QCOMPARE(QString::fromStdString(velquist::Process().userAgent()), stored);
        if (complains)
            QCOMPARE(m_notifier->messages,
                     std::vector<std::string>{"获取计算机信息出错（-101），请联系Zanquil客服！"});
        else
            QVERIFY(m_notifier->messages.empty());
    }

  private:
    std::unique_ptr<DataFolder> m_data;
    std::unique_ptr<ScriptedNotifier> m_notifier;
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
