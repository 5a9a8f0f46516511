// The paid-ranking page: the account tree's ticks and the keyword filter they make, deleting
// plans and units, the splitter, a paid run on a tree filter against the search stand-in with
// the busy refusals, and the reload after an add.

#include "ui/dialog_sem.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "ranking_test_support.h"
#include "ui/dialog_add_keywords.h"
#include "ui/dialog_message.h"
#include "ui/dialog_seo.h"
#include "ui/ybutton.h"
#include "ui/ysplitter.h"
#include "ui_test_support.h"

using namespace velquist;
using namespace velquist::testing;
using velquist::ui::CDialogLeft;
using velquist::ui::CDialogRight;
using velquist::ui::CDialogSem;
using velquist::ui::CDialogSeo;
using velquist::ui::CRankingListPage;
using velquist::ui::CVelquistDlg;
using velquist::ui::CYButton;
using velquist::ui::PageTab;

namespace {

constexpr int kRunWaitMs = 30000;
const QString kAlpha = QStringLiteral("www.alpha.com");
const QString kBeta = QStringLiteral("shop.beta.cn");

// Plan 春季推广 (units 鲜花, 家具) and plan 秋季推广 (unit 礼品), four keywords, two sites.
struct SemFixture {
    explicit SemFixture(const std::string& world = World({})) : standin(world) {
        ResetProcessFlags();
        Process().firstNewKeywordId = -1;
        UseSites(data.paths.databasePath, {{kAlpha.toStdString(), 1}, {kBeta.toStdString(), 1}});
        SilentNotifier silent;
        const std::vector<PaidKeywordEntry> entries{{"鲜花速递", "鲜花", "春季推广"},
                                                    {"玫瑰花", "鲜花", "春季推广"},
                                                    {"办公家具", "家具", "春季推广"},
                                                    {"礼品卡", "礼品", "秋季推广"}};
        if (!addPaidKeywords(data.paths.databasePath, entries, silent).committed)
            qFatal("cannot add the paid keywords");
        Process().firstNewKeywordId = -1;
    }
    ~SemFixture() {
        page.reset();
        ResetProcessFlags();
    }

    CDialogSem* open() {
        ui::RankingPageContext context;
        context.paths = data.paths;
        context.hosts.searchHost = standin.host();
        context.hosts.httpTimeoutSeconds = 20;
        context.prepareRun = NoPauses;
        page = std::make_unique<CDialogSem>(context);
        page->resize(1250, 640);
        page->show();
        return page.get();
    }

    DataFolder data;
    ScriptedNotifier notifier;
    StandinProcess standin;
    std::unique_ptr<CDialogSem> page;
};

QTreeWidgetItem* Item(const CDialogLeft* tree, const QString& name) {
    const auto found = tree->tree()->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

void ClickItem(const CDialogLeft* tree, const QString& name) {
    QTreeWidgetItem* item = Item(tree, name);
    QVERIFY2(item, qPrintable(name));
    QTest::mouseClick(tree->tree()->viewport(), Qt::LeftButton, {},
                      tree->tree()->visualItemRect(item).center());
}

// The names of the ticked items, in tree order.
QStringList Ticked(const CDialogLeft* tree) {
    QStringList names;
    for (QTreeWidgetItemIterator it(tree->tree()); *it; ++it)
        if (CDialogLeft::isTicked(*it)) names << (*it)->text(0);
    return names;
}

QStringList Keywords(const CDialogRight* pane) {
    return ColumnTexts(pane->list(), CDialogRight::kKeywordColumn);
}

}  // namespace

class DialogSemTest : public QObject {
    Q_OBJECT

  private slots:
    void ticksGoDownAndUpAndFilterTheKeywordList() {
        SemFixture f;
        CDialogSem* page = f.open();
        CDialogLeft* tree = page->treePane();
        CDialogRight* pane = page->keywordPane();
        QCOMPARE(tree->rootItem()->text(0), QStringLiteral("账户树"));
        const QStringList everything{"账户树", "春季推广", "鲜花", "家具", "秋季推广", "礼品"};
        QCOMPARE(Ticked(tree), everything);
        QCOMPARE(Keywords(pane), (QStringList{"鲜花速递", "玫瑰花", "办公家具", "礼品卡"}));

        const struct {
            const char* click;
            QStringList ticked;
            std::vector<int> plans;
            std::vector<int> units;
            QStringList keywords;
        } steps[] = {
            // A unit unticked unticks its plan and the root; the plan's other unit still counts.
            {"鲜花", {"家具", "秋季推广", "礼品"}, {2}, {2}, {"办公家具", "礼品卡"}},
            // The last unit of a plan ticked again ticks the plan, and with it the root.
            {"鲜花", everything, {1, 2}, {}, {"鲜花速递", "玫瑰花", "办公家具", "礼品卡"}},
            {"账户树", {}, {}, {}, {}},
            {"秋季推广", {"秋季推广", "礼品"}, {2}, {}, {"礼品卡"}},
            {"家具", {"家具", "秋季推广", "礼品"}, {2}, {2}, {"办公家具", "礼品卡"}},
        };
        for (const auto& step : steps) {
            ClickItem(tree, QString::fromUtf8(step.click));
            QTRY_COMPARE(Ticked(tree), step.ticked);
            QCOMPARE(tree->filter().planIds, step.plans);
            QCOMPARE(tree->filter().unitIds, step.units);
            QTRY_COMPARE(Keywords(pane), step.keywords);
        }
        QVERIFY(f.notifier.messages.empty());
    }

    void deletingPlansAndUnitsAsksWhatIsTicked_data() {
        QTest::addColumn<QStringList>("tick");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("asked");
        QTest::newRow("nothing") << QStringList{} << true << "未选择计划和单元!" << false;
        QTest::newRow("a plan") << QStringList{"秋季推广"} << false << "确认删除当前勾选的计划吗？"
                                << true;
        QTest::newRow("a unit") << QStringList{"家具"} << false << "确认删除当前勾选的单元吗？"
                                << true;
        QTest::newRow("both") << QStringList{"秋季推广", "鲜花"} << true
                              << "确认删除当前勾选的计划和单元吗？" << true;
    }

    void deletingPlansAndUnitsAsksWhatIsTicked() {
        QFETCH(QStringList, tick);
        QFETCH(bool, answer);
        QFETCH(QString, text);
        QFETCH(bool, asked);
        SemFixture f;
        CDialogLeft* tree = f.open()->treePane();
        ClickItem(tree, QStringLiteral("账户树"));
        for (const QString& name : tick) ClickItem(tree, name);
        QTRY_COMPARE(Ticked(tree).contains(tick.value(0)), !tick.isEmpty());

        f.notifier.answers = {answer};
        QSignalSpy changed(tree, &CDialogLeft::treeChanged);
        tree->treeMenu()->actions().at(0)->trigger();
        if (asked) {
            QCOMPARE(f.notifier.questions, std::vector<std::string>{text.toStdString()});
        } else {
            QCOMPARE(f.notifier.messages, std::vector<std::string>{text.toStdString()});
            QVERIFY(f.notifier.questions.empty());
        }
        if (!answer || !asked) {
            QTest::qWait(50);
            QCOMPARE(changed.count(), 0);
            QCOMPARE(f.data.count("SELECT COUNT(*) FROM keyword"), 4);
            return;
        }
        QTRY_COMPARE(changed.count(), 1);
        // The plan went with its unit and keyword, the unit with its keywords.
        QVERIFY(!Item(tree, QStringLiteral("秋季推广")));
        QVERIFY(!Item(tree, QStringLiteral("鲜花")));
        QVERIFY(Item(tree, QStringLiteral("家具")));
        QCOMPARE(f.data.count("SELECT COUNT(*) FROM plan"), 1);
        QCOMPARE(f.data.count("SELECT COUNT(*) FROM unit"), 1);
        QCOMPARE(f.data.count("SELECT COUNT(*) FROM keyword"), 1);
        QVERIFY(f.notifier.messages.empty());
    }

    // The tree's delete reloads the keyword list when it ends, so no paid run starts under it.
    void aPaidRunDoesNotStartUnderTheTreesDelete() {
        SemFixture f;
        CDialogSem* page = f.open();
        CDialogRight* pane = page->keywordPane();
        QTRY_VERIFY(pane->list()->reportModel()->rowCount() > 0);
        pane->list()->tickAll();
        f.notifier.answers = {true};
        page->treePane()->treeMenu()->actions().at(0)->trigger();
        QVERIFY(page->treePane()->deleting());
        QTest::mouseClick(pane->tool(CRankingListPage::kStart), Qt::LeftButton);
        QCOMPARE(f.notifier.messages, std::vector<std::string>{"正在查排名，请稍后再试。"});
        QVERIFY(!pane->runActive());
        QTRY_VERIFY(!page->treePane()->deleting());
    }

    void theSplitterComesBackToItsWidthAndKeepsItsMinimum() {
        SemFixture f;
        CDialogSem* page = f.open();
        ui::CYSplitterWnd* splitter = page->splitter();
        QCOMPARE(splitter->sizes().value(0), 230);
        QCOMPARE(splitter->x(), 1);

        // As a drag of the bar leaves it.
        const int room = splitter->sizes().value(0) + splitter->sizes().value(1);
        splitter->setSizes({420, room - 420});
        QCOMPARE(splitter->sizes().value(0), 420);
        page->resize(1000, 640);
        page->resize(1250, 640);
        QCOMPARE(splitter->sizes().value(0), 230);

        splitter->setSizes({5, room - 5});
        QVERIFY(splitter->sizes().value(0) >= 30);

        const QImage bar = splitter->handle(1)->grab().toImage();
        QCOMPARE(bar.pixelColor(bar.width() / 2, bar.height() / 2), ui::CYSplitterWnd::barColor());
    }

    void anAddListsTheNewKeywordsTickedNextToTheTicksKept() {
        SemFixture f;
        CDialogSem* page = f.open();
        CDialogLeft* tree = page->treePane();
        CDialogRight* pane = page->keywordPane();
        ClickItem(tree, QStringLiteral("鲜花"));
        QTRY_COMPARE(Keywords(pane), (QStringList{"办公家具", "礼品卡"}));
        ClickTick(pane->list(), 1);

        WhenModalShown<ui::CDialogAddSem>([](ui::CDialogAddSem* dialog) {
            dialog->planBox()->setEditText(QStringLiteral("新计划"));
            dialog->unitBox()->setEditText(QStringLiteral("新单元"));
            dialog->editor()->setPlainText(QStringLiteral("新词1\n新词2"));
            QTest::mouseClick(dialog->findChild<CYButton*>(QStringLiteral("okButton")),
                              Qt::LeftButton);
        });
        QTest::mouseClick(pane->tool(CRankingListPage::kAdd), Qt::LeftButton);

        QCOMPARE(f.notifier.messages.back(), std::string("添加完毕"));
        QVERIFY(Item(tree, QStringLiteral("新计划")));
        QVERIFY(Item(tree, QStringLiteral("新单元")));
        QCOMPARE(Keywords(pane), (QStringList{"办公家具", "礼品卡", "新词1", "新词2"}));
        QStringList ticked;
        for (int row : pane->list()->collectTicked()) ticked << Cell(pane->list(), row, 1);
        QCOMPARE(ticked, (QStringList{"礼品卡", "新词1", "新词2"}));
        QCOMPARE(Cell(pane->list(), 2, CDialogRight::kPlanColumn), QStringLiteral("新计划"));
        QCOMPARE(Cell(pane->list(), 2, CDialogRight::kUnitColumn), QStringLiteral("新单元"));

        // A new tick of the tree lists what the tree says again.
        ClickItem(tree, QStringLiteral("鲜花"));
        QTRY_COMPARE(Keywords(pane), (QStringList{"鲜花速递", "玫瑰花", "办公家具", "礼品卡"}));
    }

    void aPaidRunOnATreeFilterShowsTheAdSlotsAndLocksOnlyTheOtherStart() {
        DataFolder data;
        ScriptedNotifier notifier;
        StandinProcess standin(World({
            WorldEntry("鲜花速递", "[10]",
                       R"("ads": {"top": ["x.com", "www.alpha.com"], "right": ["shop.beta.cn"]})"),
            WorldEntry("玫瑰花", "[10]", R"("ads": {"right": ["a.com", "www.alpha.com/r"]})"),
            WorldEntry("办公家具", "[10]", R"("ads": {"top": ["shop.beta.cn"]})"),
        }));
        QVERIFY(standin.started());
        ResetProcessFlags();
        Process().firstNewKeywordId = -1;
        UseSites(data.paths.databasePath, {{kAlpha.toStdString(), 1}, {kBeta.toStdString(), 1}});
        SilentNotifier silent;
        QVERIFY(addPaidKeywords(data.paths.databasePath,
                                {{"鲜花速递", "鲜花", "春季推广"},
                                 {"玫瑰花", "鲜花", "春季推广"},
                                 {"办公家具", "家具", "春季推广"},
                                 {"礼品卡", "礼品", "秋季推广"}},
                                silent)
                    .committed);
        Process().firstNewKeywordId = -1;

        RecordedDiscovery discovery;
        auto settings = FastSettings(data.paths);
        settings.hosts.searchHost = standin.host();
        settings.hosts.httpTimeoutSeconds = 20;
        CVelquistDlg window(settings, QuietHooks(discovery));
        window.openWindow();
        QTest::mouseClick(window.button(CVelquistDlg::kTabPaid), Qt::LeftButton);
        auto* paid = qobject_cast<CDialogSem*>(window.page(PageTab::Paid));
        auto* natural = qobject_cast<CDialogSeo*>(window.page(PageTab::Natural));
        QVERIFY(paid && natural);
        CDialogRight* pane = paid->keywordPane();

        ClickItem(paid->treePane(), QStringLiteral("秋季推广"));
        QTRY_COMPARE(Keywords(pane), (QStringList{"鲜花速递", "玫瑰花", "办公家具"}));
        ClickHeaderBox(pane->list());
        QTest::mouseClick(pane->tool(CRankingListPage::kStart), Qt::LeftButton);
        QVERIFY(pane->runActive());
        QVERIFY(!natural->tool(CRankingListPage::kStart)->isEnabled());
        QVERIFY(!pane->tool(CRankingListPage::kAdd)->isEnabled());
        QVERIFY(!pane->tool(CRankingListPage::kImport)->isEnabled());
        QVERIFY(!pane->tool(CRankingListPage::kExport)->isEnabled());
        QVERIFY(window.queryBusy());

        QTRY_VERIFY_WITH_TIMEOUT(!notifier.messages.empty(), kRunWaitMs);
        QCOMPARE(notifier.messages, std::vector<std::string>{"查询完毕！"});
        QVERIFY(natural->tool(CRankingListPage::kStart)->isEnabled());
        QVERIFY(pane->tool(CRankingListPage::kAdd)->isEnabled());
        QVERIFY(!window.queryBusy());
        QCOMPARE(window.messageDialog()->text(), QStringLiteral("查询完毕"));
        QVERIFY(!window.messageDialog()->isVisible());

        const int alpha = ColumnOf(pane->list(), kAlpha);
        const int beta = ColumnOf(pane->list(), kBeta);
        QCOMPARE(ColumnTexts(pane->list(), alpha), (QStringList{"左2", "右2", "无"}));
        QCOMPARE(ColumnTexts(pane->list(), beta), (QStringList{"右1", "无", "左1"}));
        QCOMPARE(data.count("SELECT COUNT(*) FROM semrank"), 6);
        // 礼品卡 was not listed, so it was not queried.
        QCOMPARE(data.count("SELECT COUNT(*) FROM keyword WHERE time IS NOT NULL"), 3);
        window.hide();
    }

    void theTreeRefusesTicksOnlyDuringAPaidRun() {
        DataFolder data;
        ScriptedNotifier notifier;
        StandinProcess standin(World({
            WorldEntry("鲜花速递", "[10]", R"("delay_ms": 2000)"),
            WorldEntry("自然词", "[10]", R"("delay_ms": 2000)"),
        }));
        QVERIFY(standin.started());
        ResetProcessFlags();
        Process().firstNewKeywordId = -1;
        UseSites(data.paths.databasePath, {{kAlpha.toStdString(), 1}});
        SilentNotifier silent;
        QVERIFY(addPaidKeywords(data.paths.databasePath, {{"鲜花速递", "鲜花", "春季推广"}}, silent)
                    .committed);
        AddNatural(data.paths.databasePath, {"自然词"});
        Process().firstNewKeywordId = -1;

        RecordedDiscovery discovery;
        auto settings = FastSettings(data.paths);
        settings.hosts.searchHost = standin.host();
        settings.hosts.httpTimeoutSeconds = 20;
        CVelquistDlg window(settings, QuietHooks(discovery));
        window.openWindow();
        auto* paid = qobject_cast<CDialogSem*>(window.page(PageTab::Paid));
        auto* natural = qobject_cast<CDialogSeo*>(window.page(PageTab::Natural));
        CDialogLeft* tree = paid->treePane();
        CDialogRight* pane = paid->keywordPane();
        window.selectPage(PageTab::Paid);

        ClickHeaderBox(pane->list());
        QTest::mouseClick(pane->tool(CRankingListPage::kStart), Qt::LeftButton);
        QVERIFY(pane->runActive());
        const QStringList before = Ticked(tree);
        const std::vector<std::function<void()>> refused{
            [&] { ClickItem(tree, QStringLiteral("鲜花")); },
            [&] { tree->treeMenu()->actions().at(0)->trigger(); },
            [&] { QTest::mouseClick(pane->tool(CRankingListPage::kDelete), Qt::LeftButton); },
        };
        for (const auto& attempt : refused) {
            notifier.messages.clear();
            attempt();
            QTest::qWait(20);
            QCOMPARE(notifier.messages, std::vector<std::string>{"正在查排名，请稍后再试!"});
            QCOMPARE(Ticked(tree), before);
        }
        QVERIFY(notifier.questions.empty());
        QTest::mouseClick(pane->tool(CRankingListPage::kStart), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(notifier.messages.back(), std::string("当前查询已停止！"),
                                  kRunWaitMs);

        // A natural run leaves the tree alone.
        window.selectPage(PageTab::Natural);
        ClickHeaderBox(natural->list());
        QTest::mouseClick(natural->tool(CRankingListPage::kStart), Qt::LeftButton);
        QVERIFY(natural->runActive());
        QVERIFY(!pane->tool(CRankingListPage::kStart)->isEnabled());
        notifier.messages.clear();
        ClickItem(tree, QStringLiteral("鲜花"));
        QTRY_VERIFY(!Ticked(tree).contains(QStringLiteral("鲜花")));
        QVERIFY(notifier.messages.empty());
        QTest::mouseClick(natural->tool(CRankingListPage::kStart), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(notifier.messages.size(), std::size_t(1), kRunWaitMs);
        QCOMPARE(notifier.messages.back(), std::string("当前查询已停止！"));
        QVERIFY(pane->tool(CRankingListPage::kStart)->isEnabled());
        window.hide();
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DialogSemTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialog_sem_test.moc"
