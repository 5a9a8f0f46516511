#include "ui/dialog_setting.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

#include "core/database.h"
#include "core/process_state.h"
#include "core/schema.h"
#include "recording_notifier.h"
#include "records/site_records.h"
#include "temp_folder.h"
#include "ui/dialog_modify.h"
#include "ui/message_box.h"
#include "ui/report_control.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

using namespace velquist;
using namespace velquist::ui;

namespace {

constexpr int kSaveWaitMs = 10000;

// A database with the program's schema and the given sites, the process-wide site list loaded
// from it as at start, and a shown settings page over it. Message boxes are recorded.
struct PageFixture {
    explicit PageFixture(const std::vector<PromotionSite>& sites = {}) {
        SilentNotifier silent;
        if (!SyncSchema(dbPath, BuiltinSchemaScript(), kSchemaFromText, silent) ||
            !SaveSites(dbPath, sites))
            qFatal("cannot prepare the test database");
        Process().setPromotionSites({});
        Process().siteColumnCount = ReloadSiteList(dbPath);
        SetNotifier(&notifier);
        page = std::make_unique<CDialogSetting>(dbPath);
        page->resize(900, 600);
        page->show();
    }
    ~PageFixture() {
        page.reset();
        SetNotifier(nullptr);
    }

    CMyReportControl* list() const { return page->siteList(); }
    QString cell(int row, int column) const {
        return list()->reportModel()->index(row, column).data().toString();
    }
    QStringList addresses() const {
        QStringList shown;
        for (int row = 0; row < list()->reportModel()->rowCount(); ++row)
            shown << cell(row, CDialogSetting::kAddressColumn);
        return shown;
    }
    int rowOf(const QString& address) const { return addresses().indexOf(address); }
    void clickCell(int row, int column) const {
        const QRect rect = list()->visualRect(list()->reportModel()->index(row, column));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void typeAndAdd(const QString& text) const {
        page->addressEdit()->clear();
        QTest::keyClicks(page->addressEdit(), text);
        QTest::mouseClick(page->addButton(), Qt::LeftButton, {},
                          page->addButton()->rect().center());
    }
    std::vector<PromotionSite> stored() const {
        return LoadSitesForSettings(dbPath).value_or(std::vector<PromotionSite>{});
    }
    void exec(const char* sql) const {
        DbConnection db(dbPath);
        if (db.execute(sql) != kSqliteOk) qFatal("test SQL failed: %s", sql);
    }

    testing::TempFolder folder;
    std::string dbPath = folder.file("main_360.db");
    testing::RecordingNotifier notifier;
    std::unique_ptr<CDialogSetting> page;
};

QStringList Texts(const std::vector<std::string>& texts) {
    QStringList list;
    for (const auto& text : texts) list << QString::fromStdString(text);
    return list;
}

QStringList Urls(const std::vector<PromotionSite>& sites) {
    QStringList list;
    for (const auto& site : sites) list << QString::fromStdString(site.url);
    return list;
}

// Answers the next modal CDialogModify: types `address` and presses OK, or cancels when empty.
void AnswerModifyDialog(const QString& address, QString* shownAddress) {
    QTimer::singleShot(0, [address, shownAddress] {
        auto* dialog = qobject_cast<CDialogModify*>(QApplication::activeModalWidget());
        if (!dialog) {
            AnswerModifyDialog(address, shownAddress);
            return;
        }
        *shownAddress = dialog->editor()->text();
        if (address.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->editor()->clear();
        QTest::keyClicks(dialog->editor(), address);
        auto* ok = dialog->findChild<CYButton*>(QStringLiteral("okButton"));
        QTest::mouseClick(ok, Qt::LeftButton, {}, ok->rect().center());
    });
}

}  // namespace

class DialogSettingTest : public QObject {
    Q_OBJECT

  private slots:
    void listShowsTheSixColumns();
    void addMessages_data();
    void addMessages();
    void disabledSiteColumnDisappearsAfterTheSave();
    void deleteAsksFirst();
    void modifyThroughTheDialog();
    void failedSaveKeepsTheStoreAndTellsTheUser();
    void unavailableStoreIsNeverOverwritten();
    void sortByAddress();
    void quickChangesEndWithTheNewestList();
};

void DialogSettingTest::listShowsTheSixColumns() {
    PageFixture f({{"www.b.com", 0}, {"www.a.com", 1}});
    QAbstractItemModel* model = f.list()->reportModel();
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c)
        headers << model->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers,
             (QStringList{"序号", "推广网址", "网址状态", "启用网址", "修改网址", "删除网址"}));
    QCOMPARE(f.list()->columnWidth(1), 400);

    // Listed by address.
    const QStringList row0 = {f.cell(0, 0), f.cell(0, 1), f.cell(0, 2),
                              f.cell(0, 3), f.cell(0, 4), f.cell(0, 5)};
    QCOMPARE(row0, (QStringList{"1", "www.a.com", "已启用", "停用", "修改", "删除"}));
    QCOMPARE(f.cell(1, 2), QStringLiteral("已停用"));
    QCOMPARE(f.cell(1, 3), QStringLiteral("启用"));
    auto colour = [&](int row) {
        return model->index(row, CDialogSetting::kStateColumn)
            .data(Qt::ForegroundRole)
            .value<QColor>();
    };
    QCOMPARE(colour(0), QColor(7, 179, 144));
    QCOMPARE(colour(1), QColor(255, 0, 0));

    // The header box ticks and unticks every site.
    QWidget* header = f.list()->reportHeader()->viewport();
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(20, 8));
    QCOMPARE(f.list()->tickedCount(), 2);
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(20, 8));
    QCOMPARE(f.list()->tickedCount(), 0);
}

void DialogSettingTest::addMessages_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("stored");  // the new site's stored address, empty when refused

    QTest::newRow("empty") << ""
                           << "网址为空，请输入正确的网址！"
                           << "";
    QTest::newRow("blank") << "   "
                           << "网址为空，请输入正确的网址！"
                           << "";
    QTest::newRow("one word") << "example"
                              << "您输入的 【 example 】 不是正确的网址 ！"
                              << "";
    QTest::newRow("upper-case country code") << "www.example.CN"
                                             << "您输入的 【 www.example.CN 】 不是正确的网址 ！"
                                             << "";
    QTest::newRow("lower-case country code") << "www.example.cn"
                                             << "添加成功！"
                                             << "www.example.cn";
    QTest::newRow("upper-case com") << "www.example.COM"
                                    << "添加成功！"
                                    << "www.example.COM";
    QTest::newRow("Http:// prefix") << "Http://www.shop.com"
                                    << "添加成功！"
                                    << "www.shop.com";
    QTest::newRow("already listed") << " http://www.a.com "
                                    << "您输入的 【 http://www.a.com 】 已经存在表中 ！"
                                    << "";
    QTest::newRow("differs in case only") << "WWW.A.COM"
                                          << "添加成功！"
                                          << "WWW.A.COM";
}

void DialogSettingTest::addMessages() {
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, stored);

    PageFixture f({{"www.a.com", 1}});
    QSignalSpy saves(f.page.get(), &CDialogSetting::saveFinished);
    QSignalSpy changes(f.page.get(), &CDialogSetting::sitesChanged);
    f.typeAndAdd(typed);

    if (stored.isEmpty()) {
        QCOMPARE(Texts(f.notifier.messages), QStringList{message});
        QCOMPARE(f.notifier.captions.front(), std::string("提示"));
        QCOMPARE(f.page->runningSaves(), 0);
        QCOMPARE(f.addresses(), QStringList{"www.a.com"});
        QCOMPARE(Urls(f.stored()), QStringList{"www.a.com"});
        return;
    }
    QVERIFY(saves.wait(kSaveWaitMs));
    QCOMPARE(saves.at(0).at(0).toBool(), true);
    // Announced once the site is stored, as a plain box without the "提示" caption.
    QCOMPARE(Texts(f.notifier.messages), QStringList{message});
    QCOMPARE(f.notifier.captions.front(), std::string());
    QVERIFY(Urls(f.stored()).contains(stored));
    QVERIFY(f.addresses().contains(stored));
    QVERIFY(f.page->addressEdit()->text().isEmpty());
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.at(0).at(0).toBool(), true);
    QVERIFY(Urls(Process().promotionSites()).contains(stored));
    QCOMPARE(Process().siteColumnCount.load(), 2);
}

void DialogSettingTest::disabledSiteColumnDisappearsAfterTheSave() {
    PageFixture f({{"www.a.com", 1}, {"www.b.com", 1}});
    // A keyword list whose site columns follow the page, as the ranking pages' lists do.
    CMyReportControl keywords;
    keywords.addReportColumn(QStringLiteral("序号"), 62, false, ReportColumnKind::Check);
    keywords.addReportColumn(QStringLiteral("关键词"), 200, true);
    keywords.addReportColumn(QStringLiteral("查询时间"), 180, true);
    keywords.syncSiteColumns(3, Process().promotionSites());
    QObject::connect(f.page.get(), &CDialogSetting::sitesChanged, &keywords,
                     [&keywords] { keywords.syncSiteColumns(3, Process().promotionSites()); });
    auto visibleSites = [&keywords] {
        QStringList shown;
        for (int c = 3; c < keywords.reportModel()->columnCount(); ++c)
            if (!keywords.isColumnHidden(c))
                shown << keywords.reportModel()->headerData(c, Qt::Horizontal).toString();
        return shown;
    };
    QCOMPARE(visibleSites(), (QStringList{"www.a.com", "www.b.com"}));

    QSignalSpy saves(f.page.get(), &CDialogSetting::saveFinished);
    QSignalSpy changes(f.page.get(), &CDialogSetting::sitesChanged);
    f.clickCell(f.rowOf("www.b.com"), CDialogSetting::kToggleColumn);
    // The page shows the change at once; the other lists follow the store after the save.
    QCOMPARE(f.cell(f.rowOf("www.b.com"), CDialogSetting::kStateColumn), QStringLiteral("已停用"));
    QCOMPARE(visibleSites(), (QStringList{"www.a.com", "www.b.com"}));
    QVERIFY(saves.wait(kSaveWaitMs));
    QCOMPARE(visibleSites(), QStringList{"www.a.com"});
    QCOMPARE(changes.at(0).at(0).toBool(), false);
    const auto stored = f.stored();
    QCOMPARE(stored.size(), std::size_t(2));
    QCOMPARE(stored[1].url, std::string("www.b.com"));
    QCOMPARE(stored[1].selected, 0);
    QVERIFY(f.notifier.messages.empty());

    f.clickCell(f.rowOf("www.b.com"), CDialogSetting::kToggleColumn);
    QVERIFY(saves.wait(kSaveWaitMs));
    QCOMPARE(visibleSites(), (QStringList{"www.a.com", "www.b.com"}));
    QCOMPARE(f.cell(f.rowOf("www.b.com"), CDialogSetting::kToggleColumn), QStringLiteral("停用"));
}

void DialogSettingTest::deleteAsksFirst() {
    PageFixture f({{"www.a.com", 1}, {"www.b.com", 1}});
    QSignalSpy saves(f.page.get(), &CDialogSetting::saveFinished);
    QSignalSpy changes(f.page.get(), &CDialogSetting::sitesChanged);

    f.notifier.answer = false;
    f.clickCell(f.rowOf("www.a.com"), CDialogSetting::kDeleteColumn);
    QCOMPARE(Texts(f.notifier.questions), QStringList{"确认删除该网址吗？"});
    QCOMPARE(f.page->runningSaves(), 0);
    QCOMPARE(f.addresses(), (QStringList{"www.a.com", "www.b.com"}));

    f.notifier.answer = true;
    f.clickCell(f.rowOf("www.a.com"), CDialogSetting::kDeleteColumn);
    QCOMPARE(f.notifier.questions.size(), std::size_t(2));
    QCOMPARE(f.addresses(), QStringList{"www.b.com"});
    QVERIFY(saves.wait(kSaveWaitMs));
    QCOMPARE(Urls(f.stored()), QStringList{"www.b.com"});
    QCOMPARE(Urls(Process().promotionSites()), QStringList{"www.b.com"});
    QCOMPARE(changes.at(0).at(0).toBool(), true);
    QVERIFY(f.notifier.messages.empty());
}

void DialogSettingTest::modifyThroughTheDialog() {
    PageFixture f({{"www.a.com", 1}, {"www.b.com", 0}});
    QSignalSpy saves(f.page.get(), &CDialogSetting::saveFinished);
    QString shown;

    // A double click on the address opens the dialog with it; the enabled flag is kept.
    AnswerModifyDialog(QStringLiteral("Http://www.c.net"), &shown);
    const QRect cell = f.list()->visualRect(
        f.list()->reportModel()->index(f.rowOf("www.b.com"), CDialogSetting::kAddressColumn));
    QTest::mouseDClick(f.list()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseRelease(f.list()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(shown, QStringLiteral("www.b.com"));
    QCOMPARE(f.addresses(), (QStringList{"www.a.com", "www.c.net"}));
    QVERIFY(saves.wait(kSaveWaitMs));
    auto stored = f.stored();
    QCOMPARE(Urls(stored), (QStringList{"www.a.com", "www.c.net"}));
    QCOMPARE(stored[1].selected, 0);

    // The link does the same; another listed address is refused, not merged into one entry.
    AnswerModifyDialog(QStringLiteral("www.a.com"), &shown);
    f.clickCell(f.rowOf("www.c.net"), CDialogSetting::kModifyColumn);
    QCOMPARE(shown, QStringLiteral("www.c.net"));
    QCOMPARE(Texts(f.notifier.messages), QStringList{"您输入的 【 www.a.com 】 已经存在表中 ！"});
    QCOMPARE(f.page->runningSaves(), 0);

    // Cancelled or unchanged: nothing to save.
    AnswerModifyDialog(QString(), &shown);
    f.clickCell(f.rowOf("www.c.net"), CDialogSetting::kModifyColumn);
    AnswerModifyDialog(QStringLiteral("www.c.net"), &shown);
    f.clickCell(f.rowOf("www.c.net"), CDialogSetting::kModifyColumn);
    QCOMPARE(f.page->runningSaves(), 0);
    QCOMPARE(saves.count(), 1);
    QCOMPARE(f.addresses(), (QStringList{"www.a.com", "www.c.net"}));
}

void DialogSettingTest::failedSaveKeepsTheStoreAndTellsTheUser() {
    PageFixture f({{"www.a.com", 1}, {"www.b.com", 1}});
    f.exec("CREATE TRIGGER refuse BEFORE INSERT ON website BEGIN SELECT RAISE(ABORT, 'no'); END;");
    QSignalSpy saves(f.page.get(), &CDialogSetting::saveFinished);
    QSignalSpy changes(f.page.get(), &CDialogSetting::sitesChanged);

    f.clickCell(f.rowOf("www.a.com"), CDialogSetting::kToggleColumn);
    QVERIFY(saves.wait(kSaveWaitMs));
    QCOMPARE(saves.at(0).at(0).toBool(), false);
    QCOMPARE(Texts(f.notifier.messages), QStringList{"网址设置失败，请重试！"});
    QCOMPARE(changes.count(), 0);
    // The store keeps the whole previous list; the page keeps its change.
    auto stored = f.stored();
    QCOMPARE(Urls(stored), (QStringList{"www.a.com", "www.b.com"}));
    QCOMPARE(stored[0].selected, 1);
    QCOMPARE(f.cell(f.rowOf("www.a.com"), CDialogSetting::kStateColumn), QStringLiteral("已停用"));

    // An add that cannot be stored is not announced as added.
    f.typeAndAdd(QStringLiteral("www.c.com"));
    QTRY_COMPARE_WITH_TIMEOUT(saves.count(), 2, kSaveWaitMs);
    QCOMPARE(Texts(f.notifier.messages),
             (QStringList{"网址设置失败，请重试！", "网址设置失败，请重试！"}));

    // The next save that works writes the whole list.
    f.exec("DROP TRIGGER refuse;");
    f.clickCell(f.rowOf("www.b.com"), CDialogSetting::kToggleColumn);
    QTRY_COMPARE_WITH_TIMEOUT(saves.count(), 3, kSaveWaitMs);
    QCOMPARE(saves.at(2).at(0).toBool(), true);
    stored = f.stored();
    QCOMPARE(Urls(stored), (QStringList{"www.a.com", "www.b.com", "www.c.com"}));
    QCOMPARE(stored[0].selected, 0);
    QCOMPARE(stored[1].selected, 0);
    QCOMPARE(stored[2].selected, 1);
}

void DialogSettingTest::unavailableStoreIsNeverOverwritten() {
    testing::RecordingNotifier notifier;
    SetNotifier(&notifier);
    testing::TempFolder folder;
    {
        CDialogSetting page(folder.file("missing/main_360.db"));
        QSignalSpy saves(&page, &CDialogSetting::saveFinished);
        page.addressEdit()->setText(QStringLiteral("www.a.com"));
        page.onAdd();
        QCOMPARE(Texts(notifier.messages), QStringList{"网址设置失败，请重试！"});
        QCOMPARE(page.runningSaves(), 0);
        QCOMPARE(saves.count(), 0);
        QVERIFY(page.listedSites().empty());
    }
    SetNotifier(nullptr);
}

void DialogSettingTest::sortByAddress() {
    PageFixture f({{"www.b.com", 1}, {"www.c.com", 1}, {"www.a.com", 1}});
    QHeaderView* header = f.list()->reportHeader();
    auto clickHeader = [&](int column) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    QCOMPARE(f.addresses(), (QStringList{"www.a.com", "www.b.com", "www.c.com"}));
    clickHeader(CDialogSetting::kAddressColumn);
    QCOMPARE(f.addresses(), (QStringList{"www.a.com", "www.b.com", "www.c.com"}));
    clickHeader(CDialogSetting::kAddressColumn);
    QCOMPARE(f.addresses(), (QStringList{"www.c.com", "www.b.com", "www.a.com"}));
    QCOMPARE(f.cell(0, CDialogSetting::kNumberColumn), QStringLiteral("1"));

    // The order holds for what is added, and a link acts on the row it was clicked in.
    QSignalSpy saves(f.page.get(), &CDialogSetting::saveFinished);
    f.typeAndAdd(QStringLiteral("www.d.com"));
    QCOMPARE(f.addresses(), (QStringList{"www.d.com", "www.c.com", "www.b.com", "www.a.com"}));
    QVERIFY(saves.wait(kSaveWaitMs));
    f.clickCell(1, CDialogSetting::kToggleColumn);
    QTRY_COMPARE_WITH_TIMEOUT(saves.count(), 2, kSaveWaitMs);
    for (const PromotionSite& site : f.stored())
        QCOMPARE(site.selected, site.url == "www.c.com" ? 0 : 1);

    clickHeader(CDialogSetting::kAddressColumn);
    QCOMPARE(f.addresses(), (QStringList{"www.a.com", "www.b.com", "www.c.com", "www.d.com"}));
}

void DialogSettingTest::quickChangesEndWithTheNewestList() {
    PageFixture f({{"www.a.com", 1}, {"www.b.com", 1}});
    QSignalSpy saves(f.page.get(), &CDialogSetting::saveFinished);
    // Five toggles of one site and one add, without waiting between them.
    for (int i = 0; i < 5; ++i) f.clickCell(f.rowOf("www.a.com"), CDialogSetting::kToggleColumn);
    f.typeAndAdd(QStringLiteral("www.c.com"));
    QTRY_COMPARE_WITH_TIMEOUT(saves.count(), 6, kSaveWaitMs);
    QCOMPARE(f.page->runningSaves(), 0);
    const auto stored = f.stored();
    QCOMPARE(Urls(stored), (QStringList{"www.a.com", "www.b.com", "www.c.com"}));
    QCOMPARE(stored[0].selected, 0);
    QCOMPARE(f.cell(f.rowOf("www.a.com"), CDialogSetting::kStateColumn), QStringLiteral("已停用"));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#ifdef VELQUIST_PROGRAM_DIR
    SetProgramFolder(QStringLiteral(VELQUIST_PROGRAM_DIR));
#endif
    DialogSettingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialog_setting_test.moc"
