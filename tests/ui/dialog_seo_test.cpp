// The natural-ranking page: live runs against the search stand-in (ranks, stop, refusals, the
// window closing mid-run), sorting, copying, deleting, the reload after an add and the page
// count.

#include "ui/dialog_seo.h"

#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "core/settings.h"
#include "engine/run_lock.h"
#include "ranking_test_support.h"
#include "ui/dialog_add_keywords.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using namespace velquist;
using namespace velquist::testing;
using velquist::ui::CDialogSeo;
using velquist::ui::CRankingListPage;
using velquist::ui::CVelquistDlg;
using velquist::ui::CYButton;
using velquist::ui::PageTab;

namespace {

constexpr int kRunWaitMs = 30000;
const QString kAlpha = QStringLiteral("www.alpha.com");
const QString kBeta = QStringLiteral("shop.beta.cn");
const QString kGamma = QStringLiteral("www.gamma.com");

// A data folder with three sites (the third disabled), the stand-in serving `world`, and the
// page once open() has made it.
struct SeoFixture {
    explicit SeoFixture(const std::string& world = World({})) : standin(world) {
        ResetProcessFlags();
        Process().pageCount = RankSettings::kDefaultPageCount;
        UseSites(data.paths.databasePath,
                 {{kAlpha.toStdString(), 1}, {kBeta.toStdString(), 1}, {kGamma.toStdString(), 0}});
    }
    ~SeoFixture() {
        page.reset();
        ResetProcessFlags();
    }

    CDialogSeo* open() {
        ui::RankingPageContext context;
        context.paths = data.paths;
        context.hosts.searchHost = standin.host();
        context.hosts.httpTimeoutSeconds = 20;
        context.prepareRun = NoPauses;
        page = std::make_unique<CDialogSeo>(context);
        page->resize(1250, 640);
        page->show();
        return page.get();
    }
    ui::CMyReportControl* list() const { return page->list(); }
    int row(const char* keyword) const { return RowOf(list(), QString::fromUtf8(keyword)); }
    QString cell(const char* keyword, const QString& site) const {
        return Cell(list(), row(keyword), ColumnOf(list(), site));
    }
    void press(CRankingListPage::Tool tool) const {
        QTest::mouseClick(page->tool(tool), Qt::LeftButton);
    }
    bool anyQuerying() const {
        for (int row = 0; row < list()->reportModel()->rowCount(); ++row)
            for (int column = CDialogSeo::kFirstSiteColumn;
                 column < list()->reportModel()->columnCount(); ++column)
                if (Cell(list(), row, column) == QString::fromUtf8(ui::kQueryingText)) return true;
        return false;
    }
    bool idleLook() const {
        return page->tool(CRankingListPage::kStart)->isEnabled() &&
               page->tool(CRankingListPage::kStart)->text() == QStringLiteral("开始查询") &&
               page->tool(CRankingListPage::kAdd)->isEnabled() &&
               page->tool(CRankingListPage::kImport)->isEnabled() &&
               page->tool(CRankingListPage::kExport)->isEnabled() &&
               page->pageCountBox()->isEnabled();
    }

    DataFolder data;
    ScriptedNotifier notifier;
    StandinProcess standin;
    std::unique_ptr<CDialogSeo> page;
};

std::string SlowWorld(int keywords, int delayMs) {
    std::vector<std::string> entries;
    for (int i = 0; i < keywords; ++i)
        entries.push_back(WorldEntry("slow" + std::to_string(i), R"([10, ["www.alpha.com"]])",
                                     "\"delay_ms\": " + std::to_string(delayMs)));
    return World(entries);
}

std::vector<std::string> SlowKeywords(int keywords) {
    std::vector<std::string> names;
    for (int i = 0; i < keywords; ++i) names.push_back("slow" + std::to_string(i));
    return names;
}

QString Status(int selected, int querying, int finished, int remaining) {
    return QStringLiteral("当前选中 [%1] 词，正在查询 [%2] 词，查询完成 [%3] 词，剩余 [%4] 词")
        .arg(selected)
        .arg(querying)
        .arg(finished)
        .arg(remaining);
}

}  // namespace

class DialogSeoTest : public QObject {
    Q_OBJECT

  private slots:
    void sevenTickedKeywordsShowEveryPlantedRankInItsSiteColumn() {
        SeoFixture f(World({
            WorldEntry("鲜花速递", R"([["a.com","b.com","www.alpha.com/x"]])"),
            WorldEntry("办公家具", R"([10, ["c.com","shop.beta.cn/p"]])"),
            WorldEntry("玫瑰花 批发", R"([["shop.beta.cn","www.alpha.com"]])"),
            WorldEntry("velquist demo", R"([10, 10, ["www.alpha.com/d"]])"),
            WorldEntry("wedding flowers", R"([["x.com"]])"),
            WorldEntry("kw6", R"([["shop.beta.cn/q"], ["www.alpha.com"]])"),
            WorldEntry("验证页", R"([["www.alpha.com"]])", R"("verify": true)"),
        }));
        AddNatural(f.data.paths.databasePath,
                   {"鲜花速递", "办公家具", "玫瑰花 批发", "velquist demo", "wedding flowers",
                    "kw6", "验证页", "未勾选"});
        f.open();
        QVERIFY(f.standin.started());
        // Only enabled sites have a visible column.
        QVERIFY(!f.list()->isColumnHidden(ColumnOf(f.list(), kAlpha)));
        QVERIFY(!f.list()->isColumnHidden(ColumnOf(f.list(), kBeta)));
        QVERIFY(f.list()->isColumnHidden(ColumnOf(f.list(), kGamma)));

        ClickHeaderBox(f.list());
        ClickTick(f.list(), f.row("未勾选"));
        QCOMPARE(f.page->statusText(), Status(7, 0, 0, 0));

        f.press(CRankingListPage::kStart);
        // Busy look, and every queued row waits for its result.
        QCOMPARE(f.page->tool(CRankingListPage::kStart)->text(), QStringLiteral("停止查询"));
        QVERIFY(f.page->tool(CRankingListPage::kStart)->isEnabled());
        QVERIFY(!f.page->tool(CRankingListPage::kAdd)->isEnabled());
        QVERIFY(!f.page->tool(CRankingListPage::kImport)->isEnabled());
        QVERIFY(!f.page->tool(CRankingListPage::kExport)->isEnabled());
        QVERIFY(!f.page->pageCountBox()->isEnabled());
        QCOMPARE(f.cell("鲜花速递", kAlpha), QStringLiteral("正在查询..."));
        QCOMPARE(f.cell("未勾选", kAlpha), QString());
        QCOMPARE(f.page->statusText(), Status(7, 7, 0, 7));

        QTRY_VERIFY_WITH_TIMEOUT(!f.notifier.messages.empty(), kRunWaitMs);
        QCOMPARE(f.notifier.messages, std::vector<std::string>{"查询完毕！"});
        QCOMPARE(f.notifier.captions.back(), std::string("提示"));
        QVERIFY(f.idleLook());
        QCOMPARE(f.page->statusText(), Status(7, 0, 7, 0));
        QVERIFY(!Process().queryRunning);
        QVERIFY(Process().queryFinished);

        const struct {
            const char* keyword;
            const char* alpha;
            const char* beta;
        } expected[] = {
            {"鲜花速递", "第3名，第1页", "无"},
            {"办公家具", "无", "第12名，第2页"},
            {"玫瑰花 批发", "第2名，第1页", "第1名，第1页"},
            {"velquist demo", "第21名，第3页", "无"},
            {"wedding flowers", "无", "无"},
            {"kw6", "第11名，第2页", "第1名，第1页"},
            {"验证页", "查询失败", "查询失败"},
            {"未勾选", "", ""},
        };
        for (const auto& want : expected) {
            QCOMPARE(f.cell(want.keyword, kAlpha), QString::fromUtf8(want.alpha));
            QCOMPARE(f.cell(want.keyword, kBeta), QString::fromUtf8(want.beta));
            const bool queried = std::string(want.keyword) != "未勾选";
            QCOMPARE(!Cell(f.list(), f.row(want.keyword), CDialogSeo::kTimeColumn).isEmpty(),
                     queried);
        }
        const QModelIndex failed =
            f.list()->reportModel()->index(f.row("验证页"), ColumnOf(f.list(), kAlpha));
        QCOMPARE(failed.data(Qt::ForegroundRole).value<QColor>(), ui::kFailedCheckColor);
        QCOMPARE(f.data.count("SELECT COUNT(*) FROM seorank"), 14);
        QCOMPARE(f.data.count("SELECT COUNT(*) FROM seorank WHERE rank='查询失败'"), 2);

        // Live results sort like stored ones: the row cleared by the run first (rank 0), the
        // ranked rows ascending, then "无" and failed checks.
        ClickHeader(f.list(), ColumnOf(f.list(), kAlpha));
        QCOMPARE(f.list()->tickedCount(), 0);
        const QStringList alpha = ColumnTexts(f.list(), ColumnOf(f.list(), kAlpha));
        QCOMPARE(alpha.mid(0, 5), (QStringList{"", "第2名，第1页", "第3名，第1页", "第11名，第2页",
                                               "第21名，第3页"}));
        for (const QString& last : alpha.mid(5)) QVERIFY(last == "无" || last == "查询失败");
    }

    void stopWithFiveInFlightEndsStoppedWithNothingLeftQuerying() {
        SeoFixture f(SlowWorld(8, 2500));
        AddNatural(f.data.paths.databasePath, SlowKeywords(8));
        f.open();
        QVERIFY(f.standin.started());
        ClickHeaderBox(f.list());
        f.press(CRankingListPage::kStart);
        QTest::qWait(1000);  // five workers wait for their first page

        // Deleting during a run is refused before anything is asked.
        f.press(CRankingListPage::kDelete);
        QCOMPARE(f.notifier.messages, std::vector<std::string>{"正在查排名，请稍后再试!"});
        QVERIFY(f.notifier.questions.empty());

        f.press(CRankingListPage::kStart);
        QVERIFY(!f.page->tool(CRankingListPage::kStart)->isEnabled());
        QVERIFY(f.page->stopPending());
        QTRY_COMPARE_WITH_TIMEOUT(int(f.notifier.messages.size()), 2, kRunWaitMs);
        QCOMPARE(f.notifier.messages.back(), std::string("当前查询已停止！"));
        QVERIFY(!f.anyQuerying());
        QVERIFY(f.idleLook());
        QVERIFY(Process().queryFinished);

        // The five keywords in hand were cut short: failed checks, never "无"; the others
        // were never taken.
        int cutShort = 0;
        for (const std::string& keyword : SlowKeywords(8)) {
            const QString alpha = f.cell(keyword.c_str(), kAlpha);
            QVERIFY2(alpha.isEmpty() || alpha == "查询失败", qPrintable(alpha));
            cutShort += alpha == "查询失败";
        }
        QCOMPARE(cutShort, 5);
        QCOMPARE(f.page->statusText(), Status(8, 0, 5, 0));
        // The run let go of its lock: another run may start.
        QVERIFY(QueryRunLock::tryAcquire(f.data.paths.dataFolder, QueryKind::Natural).has_value());
    }

    void startRefusalsLeaveThePageAsItWas_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("message");
        QTest::newRow("no site") << "no site"
                                 << "请添加推广网址";
        QTest::newRow("no enabled site") << "no enabled site"
                                         << "请选择推广网址";
        QTest::newRow("nothing ticked") << "nothing ticked"
                                        << "请先选择关键词";
        QTest::newRow("another copy runs") << "another copy runs"
                                           << "正在查排名，请稍后再试。";
    }

    void startRefusalsLeaveThePageAsItWas() {
        QFETCH(QString, situation);
        QFETCH(QString, message);
        SeoFixture f;
        AddNatural(f.data.paths.databasePath, {"甲", "乙"});
        if (situation == "no site") UseSites(f.data.paths.databasePath, {});
        if (situation == "no enabled site")
            UseSites(f.data.paths.databasePath, {{"www.alpha.com", 0}});
        std::optional<QueryRunLock> otherRun;
        if (situation == "another copy runs")
            otherRun = QueryRunLock::tryAcquire(f.data.paths.dataFolder, QueryKind::Natural);
        f.open();
        if (situation != "nothing ticked") ClickHeaderBox(f.list());
        QSignalSpy active(f.page.get(), &CRankingListPage::runActiveChanged);

        f.press(CRankingListPage::kStart);
        QCOMPARE(f.notifier.messages, std::vector<std::string>{message.toStdString()});
        QCOMPARE(f.notifier.captions.back(), std::string("提示"));
        QVERIFY(f.idleLook());
        QVERIFY(!f.page->runActive());
        QVERIFY(!f.anyQuerying());
        QVERIFY(!Process().queryRunning);
        QVERIFY(Process().queryFinished);
        // The other page's start button was given back.
        QCOMPARE(active.count(), 2);
        QCOMPARE(active.last().first().toBool(), false);
    }

    void closingTheWindowDuringARunExitsWithinTheBound_data() {
        QTest::addColumn<int>("exitLimitMs");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("the stopped run ends first") << 30000 << 1500;
        QTest::newRow("the window goes before the workers") << 200 << 2500;
    }

    void closingTheWindowDuringARunExitsWithinTheBound() {
        QFETCH(int, exitLimitMs);
        QFETCH(int, delayMs);
        DataFolder data;
        ScriptedNotifier notifier;
        StandinProcess standin(SlowWorld(8, delayMs));
        QVERIFY(standin.started());
        ResetProcessFlags();
        UseSites(data.paths.databasePath, {{"www.alpha.com", 1}});
        AddNatural(data.paths.databasePath, SlowKeywords(8));
        {
            RecordedDiscovery discovery;
            auto settings = FastSettings(data.paths);
            settings.exitWaitLimit = std::chrono::milliseconds(exitLimitMs);
            settings.hosts.searchHost = standin.host();
            settings.hosts.httpTimeoutSeconds = 20;
            CVelquistDlg window(settings, QuietHooks(discovery));
            window.openWindow();
            QTest::mouseClick(window.button(CVelquistDlg::kTabNatural), Qt::LeftButton);
            auto* page = qobject_cast<CDialogSeo*>(window.page(PageTab::Natural));
            QVERIFY(page);
            ClickHeaderBox(page->list());
            QTest::mouseClick(page->tool(CRankingListPage::kStart), Qt::LeftButton);
            QVERIFY(page->runActive());
            QVERIFY(window.queryBusy());
            QTest::qWait(300);

            QSignalSpy finished(&window, &CVelquistDlg::exitFinished);
            notifier.answers = {true};
            QElapsedTimer clock;
            clock.start();
            QTest::mouseClick(window.button(CVelquistDlg::kClose), Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 31000);
            QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
        }
        // Workers that outlived the window end without reaching it.
        QTRY_VERIFY_WITH_TIMEOUT(Process().queryFinished.load(), 15000);
        QTest::qWait(50);
        // A closing window shows no run-end message.
        QVERIFY(notifier.messages.empty());
        ResetProcessFlags();
    }

    void sortingClearsTicksAndPutsUnrankedAndFailedLast() {
        SeoFixture f;
        AddNatural(f.data.paths.databasePath, {"k1", "k2", "k3", "k4"});
        // Stored results as an earlier run left them: a failed check after one page has passed
        // only ten positions, fewer than a real rank.
        QVERIFY(
            f.data.exec("INSERT INTO seorank (rank,url,keywordId,rankNum) VALUES "
                        "('第14名，第2页','www.alpha.com',1,14),('查询失败','www.alpha.com',2,10),"
                        "('第3名，第1页','www.alpha.com',3,3),('无','www.alpha.com',4,50)"));
        QVERIFY(f.data.exec("UPDATE seokeyword SET time='2024-05-0' || keywordId || ' 10:00:00'"));
        QVERIFY(f.data.exec("UPDATE seokeyword SET time='2024-04-30 10:00:00' WHERE keywordId=3"));
        f.open();
        ClickTick(f.list(), 0);
        ClickTick(f.list(), 2);
        QCOMPARE(f.list()->tickedCount(), 2);

        const int alpha = ColumnOf(f.list(), kAlpha);
        const struct {
            int column;
            QStringList keywords;
        } clicks[] = {
            {alpha, {"k3", "k1", "k2", "k4"}},
            {alpha, {"k4", "k2", "k1", "k3"}},
            {CDialogSeo::kKeywordColumn, {"k1", "k2", "k3", "k4"}},
            {CDialogSeo::kTimeColumn, {"k3", "k1", "k2", "k4"}},
            {CDialogSeo::kTimeColumn, {"k4", "k2", "k1", "k3"}},
        };
        for (const auto& click : clicks) {
            ClickHeader(f.list(), click.column);
            QCOMPARE(ColumnTexts(f.list(), CDialogSeo::kKeywordColumn), click.keywords);
            QCOMPARE(f.list()->tickedCount(), 0);
            QVERIFY(!f.list()->reportHeader()->isChecked());
        }
    }

    void copyingPutsTheTickedKeywordsOnePerLine() {
        SeoFixture f;
        AddNatural(f.data.paths.databasePath, {"苹果", "香蕉", "橙子", "葡萄"});
        f.open();
        QAction* copy = f.page->rowMenu()->actions().at(1);
        QCOMPARE(copy->text(), QStringLiteral("复制"));

        copy->trigger();
        QCOMPARE(f.notifier.messages.back(), std::string("您还未选择要复制的关键词！"));

        for (int row : {0, 2, 3}) ClickTick(f.list(), row);
        copy->trigger();
        const QString copied = QGuiApplication::clipboard()->text();
        QCOMPARE(copied.split(QLatin1Char('\n')), (QStringList{"苹果", "橙子", "葡萄"}));
        QCOMPARE(f.notifier.messages.back(), std::string("[ 3 ] 个关键词已成功复制到粘贴板上！"));

        const auto doubleClick = [&f](int row, int column) {
            const QRect rect = f.list()->visualRect(f.list()->reportModel()->index(row, column));
            QTest::mouseDClick(f.list()->viewport(), Qt::LeftButton, {}, rect.center());
        };
        doubleClick(1, CDialogSeo::kKeywordColumn);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("香蕉"));
        QCOMPARE(f.notifier.messages.back(), std::string("【香蕉】已成功复制到粘贴板上！"));
        const auto shown = f.notifier.messages.size();
        doubleClick(1, CDialogSeo::kTimeColumn);
        QCOMPARE(f.notifier.messages.size(), shown);

        // A keyword row without text (written by another program) gives nothing to copy.
        QVERIFY(f.data.exec("INSERT INTO seokeyword (keyword,keywordId) VALUES ('',9)"));
        f.page->reload();
        doubleClick(4, CDialogSeo::kKeywordColumn);
        QCOMPARE(f.notifier.messages.back(), std::string("获取关键词失败，请重新操作！"));
        ClickTick(f.list(), 4);
        copy->trigger();
        QCOMPARE(f.notifier.messages.back(), std::string("获取关键词失败，请重新操作！"));
    }

    void anAddKeepsTheTickedKeywordsAndTicksTheNewOnes() {
        SeoFixture f;
        AddNatural(f.data.paths.databasePath, {"a1", "a2", "a3", "a4"});
        f.open();
        // Sorted, the rows no longer stand in id order: ticks must follow the keywords.
        ClickHeader(f.list(), CDialogSeo::kKeywordColumn);
        ClickHeader(f.list(), CDialogSeo::kKeywordColumn);
        QCOMPARE(ColumnTexts(f.list(), 1), (QStringList{"a4", "a3", "a2", "a1"}));
        ClickTick(f.list(), 0);
        ClickTick(f.list(), 3);

        WhenModalShown<ui::CDialogAddSeo>([](ui::CDialogAddSeo* dialog) {
            dialog->editor()->setPlainText(QStringLiteral("b1\nb2\na2"));
            auto* ok = dialog->findChild<CYButton*>(QStringLiteral("okButton"));
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        f.press(CRankingListPage::kAdd);

        QCOMPARE(f.notifier.messages.back(),
                 std::string("您添加的内容包含已有的或重复的项，其余项已添加完毕"));
        QCOMPARE(ColumnTexts(f.list(), 1), (QStringList{"a1", "a2", "a3", "a4", "b1", "b2"}));
        QStringList ticked;
        for (int row : f.list()->collectTicked()) ticked << Cell(f.list(), row, 1);
        QCOMPARE(ticked, (QStringList{"a1", "a4", "b1", "b2"}));
        QCOMPARE(f.page->statusText(), Status(4, 0, 0, 0));
    }

    void deletingAsksFirstAndRemovesTheTickedKeywords_data() {
        QTest::addColumn<bool>("tick");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing ticked")
            << false << true << QStringList{"d1", "d2", "d3"} << "未选择关键词!";
        QTest::newRow("answered no") << true << false << QStringList{"d1", "d2", "d3"} << "";
        QTest::newRow("answered yes") << true << true << QStringList{"d2"} << "";
    }

    void deletingAsksFirstAndRemovesTheTickedKeywords() {
        QFETCH(bool, tick);
        QFETCH(bool, answer);
        QFETCH(QStringList, left);
        QFETCH(QString, message);
        SeoFixture f;
        AddNatural(f.data.paths.databasePath, {"d1", "d2", "d3"});
        f.open();
        if (tick) {
            ClickTick(f.list(), 0);
            ClickTick(f.list(), 2);
        }
        f.notifier.answers = {answer};
        QSignalSpy reloaded(f.page.get(), &CRankingListPage::rowsReloaded);
        f.press(CRankingListPage::kDelete);
        if (tick)
            QCOMPARE(f.notifier.questions, std::vector<std::string>{"确认删除选中的关键词吗？？"});
        else
            QVERIFY(f.notifier.questions.empty());
        if (tick && answer) QTRY_COMPARE(reloaded.count(), 1);
        QCOMPARE(ColumnTexts(f.list(), 1), left);
        QCOMPARE(f.data.count("SELECT COUNT(*) FROM seokeyword"), int(left.size()));
        QCOMPARE(f.notifier.messages.empty(), message.isEmpty());
        if (!message.isEmpty()) QCOMPARE(f.notifier.messages.back(), message.toStdString());
    }

    void thePageCountIsReadAtOpeningAndWrittenAtOnce() {
        SeoFixture f;
        QVERIFY(RankSettings(f.data.paths.settingsPath).writePageCount(3));
        f.open();
        QCOMPARE(f.page->pageCountBox()->currentText(), QStringLiteral("3"));
        QCOMPARE(Process().pageCount.load(), 3);
        f.page->pageCountBox()->setFocus();
        QTest::keyClick(f.page->pageCountBox(), Qt::Key_End);
        QCOMPARE(f.page->pageCountBox()->currentText(), QStringLiteral("10"));
        QCOMPARE(RankSettings(f.data.paths.settingsPath).readPageCount(0), 10);
        QCOMPARE(Process().pageCount.load(), 10);
    }

    void siteColumnsFollowTheEnabledSites() {
        SeoFixture f;
        f.open();
        const int gamma = ColumnOf(f.list(), kGamma);
        QVERIFY(f.list()->isColumnHidden(gamma));
        UseSites(
            f.data.paths.databasePath,
            {{"www.alpha.com", 0}, {"shop.beta.cn", 1}, {"www.gamma.com", 1}, {"www.new.com", 1}});
        f.page->syncSites(true);
        QVERIFY(!f.list()->isColumnHidden(gamma));
        QVERIFY(f.list()->isColumnHidden(ColumnOf(f.list(), kAlpha)));
        const int added = ColumnOf(f.list(), QStringLiteral("www.new.com"));
        QVERIFY(added > gamma);
        QVERIFY(!f.list()->isColumnHidden(added));
    }

    void theStatusLineKeepsItsPiecesAndCutsTheLastOneWithDots() {
        const QFont plain = ui::SkinFont(12);
        const QFontMetrics plainMetrics(plain);
        const QFontMetrics boldMetrics(ui::SkinFont(12, true));
        const auto wide = ui::StatusLinePieces({7, 7, 3, 4}, 94, 2000, plainMetrics, boldMetrics);
        QCOMPARE(int(wide.size()), 9);
        QString joined;
        for (const auto& piece : wide) {
            QCOMPARE(piece.number, QRegularExpression("^\\d+$").match(piece.text).hasMatch());
            joined += piece.text;
        }
        QCOMPARE(joined, QStringLiteral("当前选中 7 词，正在查询 7 词，查询完成 3 词，剩余 4 词"));

        const int limit = 94 + plainMetrics.horizontalAdvance(QStringLiteral("当前选中 ")) + 30 +
                          plainMetrics.horizontalAdvance(QStringLiteral(" 词，正在"));
        const auto cut = ui::StatusLinePieces({7, 7, 3, 4}, 94, limit, plainMetrics, boldMetrics);
        QVERIFY(cut.size() < wide.size());
        const auto& last = cut.back();
        QVERIFY(last.text.endsWith(QStringLiteral("..")));
        QVERIFY(last.x + plainMetrics.horizontalAdvance(last.text) <= limit);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DialogSeoTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialog_seo_test.moc"
