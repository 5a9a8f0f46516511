// "排名历史": the chart and table of one keyword's checks, opened from a keyword list's row menu
// over a history written by the program's own store: a line per enabled site broken where a
// check found nothing or failed, rank 1 at the top, paid slots left column first, the table of
// the same checks, and the paid key with its plan and unit.

#include "ui/dialog_rank_history.h"

#include <QCategoryAxis>
#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QTableWidget>
#include <QtTest>
#include <memory>

#include "rank_history_test_support.h"
#include "ranking_test_support.h"
#include "ui/dialog_sem.h"
#include "ui/dialog_seo.h"
#include "ui_test_support.h"

using namespace velquist;
using namespace velquist::testing;
using velquist::ui::CDialogRankHistory;
using velquist::ui::CDialogSem;
using velquist::ui::CDialogSeo;
using velquist::ui::CMyReportControl;
using velquist::ui::CRankingListPage;

namespace {

const std::string kAlpha = "www.alpha.com";
const std::string kBeta = "shop.beta.cn";
const std::string kGamma = "www.gamma.com";
constexpr std::int64_t kHour = 3600;

// What a test reads off the dialog while it is open.
struct Seen {
    QString caption;
    QStringList names;                                     // of the chart's series, in order
    std::map<QString, std::vector<QList<QPointF>>> lines;  // the pieces of each site's line
    QStringList legend;                                    // the visible legend entries
    bool reversed = false;
    double top = 0;
    double bottom = 0;
    QStringList rankLabels;
    double firstTime = 0;  // the time axis' range, in milliseconds
    double lastTime = 0;
    std::vector<std::pair<double, QString>> timeLabels;
    QString title;
    std::vector<QStringList> table;  // heading row first
    QColor failedColor;
};

Seen Read(CDialogRankHistory* dialog) {
    Seen seen;
    seen.caption = dialog->captionText();
    QChart* chart = dialog->chart();
    seen.title = chart->title();
    for (QAbstractSeries* series : chart->series()) {
        seen.names << series->name();
        if (!seen.lines.count(series->name()))
            for (QLineSeries* piece : dialog->siteLines(series->name()))
                seen.lines[series->name()].push_back(piece->points());
    }
    for (QLegendMarker* marker : chart->legend()->markers())
        if (marker->isVisible()) seen.legend << marker->label();
    const auto vertical = chart->axes(Qt::Vertical);
    if (auto* rank = vertical.isEmpty() ? nullptr : qobject_cast<QCategoryAxis*>(vertical[0])) {
        seen.reversed = rank->isReverse();
        seen.top = rank->min();
        seen.bottom = rank->max();
        seen.rankLabels = rank->categoriesLabels();
    }
    const auto horizontal = chart->axes(Qt::Horizontal);
    if (auto* time = horizontal.isEmpty() ? nullptr : qobject_cast<QCategoryAxis*>(horizontal[0])) {
        seen.firstTime = time->min();
        seen.lastTime = time->max();
        for (const QString& label : time->categoriesLabels())
            seen.timeLabels.emplace_back(time->endValue(label), label);
    }
    QTableWidget* table = dialog->table();
    QStringList headings;
    for (int column = 0; column < table->columnCount(); ++column)
        headings << table->horizontalHeaderItem(column)->text();
    seen.table.push_back(headings);
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column) {
            const QTableWidgetItem* item = table->item(row, column);
            cells << (item ? item->text() : QString());
            if (item && item->text() == QStringLiteral("查询失败"))
                seen.failedColor = item->foreground().color();
        }
        seen.table.push_back(cells);
    }
    return seen;
}

// Right-clicks the keyword's row, picks "排名历史" and reads the dialog it opens.
std::optional<Seen> OpenFromMenu(CRankingListPage* page, int row) {
    CMyReportControl* list = page->list();
    const QModelIndex index = list->reportModel()->index(row, 1);
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, list->visualRect(index).center());
    QAction* history = nullptr;
    for (QAction* action : page->rowMenu()->actions())
        if (action->text() == QStringLiteral("排名历史")) history = action;
    if (!history) return std::nullopt;
    // Looks for the dialog until it is up; the guard's end stops looking when none came up,
    // so no later test meets a stray handler.
    QObject guard;
    std::optional<Seen> seen;
    std::function<void()> poll = [&] {
        if (auto* dialog = qobject_cast<CDialogRankHistory*>(QApplication::activeModalWidget())) {
            seen = Read(dialog);
            dialog->reject();
        } else {
            QTimer::singleShot(10, &guard, poll);
        }
    };
    QTimer::singleShot(10, &guard, poll);
    history->trigger();
    page->rowMenu()->hide();
    return seen;
}

QString Time(std::int64_t time) { return QString::fromStdString(FormatLocalTime(time)); }

QList<QPointF> Points(std::initializer_list<std::pair<std::int64_t, int>> points) {
    QList<QPointF> list;
    for (const auto& [time, rank] : points) list << QPointF(double(time) * 1000, rank);
    return list;
}

}  // namespace

class DialogRankHistoryTest : public QObject {
    Q_OBJECT

  private slots:
    void theRowMenuShowsALinePerEnabledSiteWithGapsForUnrankedChecks() {
        DataFolder data;
        ScriptedNotifier notifier;
        ResetProcessFlags();
        UseSites(data.paths.databasePath, {{kAlpha, 1}, {kBeta, 1}, {kGamma, 0}});
        AddNatural(data.paths.databasePath, {"玫瑰花", "鲜花速递", "没查过"});
        const HistoryKey flowers{RankKind::Natural, "鲜花速递", "", ""};
        const std::int64_t t0 = DaysAgo(3);
        const std::vector<std::vector<Outcome>> checks{
            {Ranked(kAlpha, 3), Absent(kBeta), Ranked(kGamma, 1)},
            {Absent(kAlpha), Absent(kBeta), Ranked(kGamma, 1)},
            {Ranked(kAlpha, 5), Absent(kBeta), Ranked(kGamma, 1)},
            {Ranked(kAlpha, 16), Absent(kBeta), Ranked(kGamma, 1)},
            {Failed(kAlpha), Failed(kBeta), Failed(kGamma)},
        };
        for (std::size_t i = 0; i < checks.size(); ++i)
            AppendCheck(data.paths.databasePath, flowers, t0 + std::int64_t(i) * 6 * kHour,
                        checks[i]);
        // The latest check, stored as a run stores it; an earlier site only in this one.
        StoreLatest(data.paths.databasePath,
                    data.count("SELECT keywordId FROM seokeyword WHERE keyword='鲜花速递'"),
                    flowers, {Ranked(kAlpha, 2), Absent(kBeta)});
        const std::int64_t latest =
            LoadLatestChecks(data.paths.databasePath, {flowers})->at(0).time;
        // Another keyword's history stays out.
        AppendCheck(data.paths.databasePath, {RankKind::Natural, "玫瑰花", "", ""}, t0,
                    {Ranked(kAlpha, 40)});

        ui::RankingPageContext context;
        context.paths = data.paths;
        CDialogSeo page(context);
        page.resize(1250, 640);
        page.show();
        QStringList actions;
        for (const QAction* action : page.rowMenu()->actions()) actions << action->text();
        QCOMPARE(actions, (QStringList{"删除", "复制", "排名历史"}));
        QCOMPARE(RowOf(page.list(), "鲜花速递"), 1);
        const auto seen = OpenFromMenu(&page, 1);
        QVERIFY(seen);
        QCOMPARE(seen->caption, QStringLiteral("排名历史 - 鲜花速递"));
        QVERIFY(seen->title.isEmpty());

        // Enabled sites only, in site-list order; one legend entry each, however many pieces
        // the line has.
        QCOMPARE(seen->legend, (QStringList{"shop.beta.cn", "www.alpha.com"}));
        QVERIFY(!seen->names.contains("www.gamma.com"));
        const std::int64_t step = 6 * kHour;
        const auto& alpha = seen->lines.at("www.alpha.com");
        QCOMPARE(int(alpha.size()), 3);
        QCOMPARE(alpha[0], Points({{t0, 3}}));
        QCOMPARE(alpha[1], Points({{t0 + 2 * step, 5}, {t0 + 3 * step, 16}}));
        QCOMPARE(alpha[2], Points({{latest, 2}}));
        // Never ranked: an empty line that keeps the site in the legend.
        const auto& beta = seen->lines.at("shop.beta.cn");
        QCOMPARE(int(beta.size()), 1);
        QVERIFY(beta[0].isEmpty());

        // Rank 1 at the top, whole result pages down to the deepest rank.
        QVERIFY(seen->reversed);
        QCOMPARE(seen->top, 0.5);
        QCOMPARE(seen->bottom, 20.5);
        QCOMPARE(seen->rankLabels, (QStringList{"1", "10", "20"}));
        // Local midnights from the first check's day to after the latest one's, each named by
        // its day.
        QVERIFY(seen->firstTime <= double(t0) * 1000);
        QVERIFY(seen->lastTime > double(latest) * 1000);
        QVERIFY(seen->timeLabels.size() >= 2);
        QCOMPARE(seen->timeLabels.front().first, seen->firstTime);
        QCOMPARE(seen->timeLabels.back().first, seen->lastTime);
        for (const auto& [msecs, label] : seen->timeLabels) {
            const QDateTime tick = QDateTime::fromMSecsSinceEpoch(qint64(msecs));
            QCOMPARE(tick.time(), QTime(0, 0));
            QVERIFY2(label.endsWith(tick.toString("MM-dd")), qPrintable(label));
        }

        const std::vector<QStringList> table{
            {"查询时间", "shop.beta.cn", "www.alpha.com"},
            {Time(t0), "无", "第3名，第1页"},
            {Time(t0 + step), "无", "无"},
            {Time(t0 + 2 * step), "无", "第5名，第1页"},
            {Time(t0 + 3 * step), "无", "第16名，第2页"},
            {Time(t0 + 4 * step), "查询失败", "查询失败"},
            {Time(latest), "无", "第2名，第1页"},
        };
        QCOMPARE(seen->table, table);
        QCOMPARE(seen->failedColor, ui::kFailedCheckColor);

        // A keyword never checked opens an empty chart that says so.
        const auto none = OpenFromMenu(&page, RowOf(page.list(), "没查过"));
        QVERIFY(none);
        QCOMPARE(none->title, QStringLiteral("暂无排名历史"));
        QCOMPARE(none->legend, (QStringList{"shop.beta.cn", "www.alpha.com"}));
        QCOMPARE(int(none->table.size()), 1);

        // A history that cannot be read is said so, with no dialog.
        QVERIFY(data.exec("DROP TABLE rankhistory"));
        QVERIFY(!OpenFromMenu(&page, 1));
        QCOMPARE(notifier.messages.back(), std::string("读取排名历史失败！"));
        ResetProcessFlags();
    }

    void timeTicksAreWholeHoursWithinADayAndLocalMidnightsBeyond_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("one check") << "2026-03-01 08:20:00"
                                   << "2026-03-01 08:20:00" << QStringList{"08:00", "09:00"};
        QTest::newRow("hours of a morning")
            << "2026-03-01 08:20:00"
            << "2026-03-01 13:05:00"
            << QStringList{"08:00", "09:00", "10:00", "11:00", "12:00", "13:00", "14:00"};
        QTest::newRow("a whole day in steps of four hours")
            << "2026-03-01 00:10:00"
            << "2026-03-01 23:50:00"
            << QStringList{"00:00", "04:00", "08:00", "12:00", "16:00", "20:00", "00:00"};
        QTest::newRow("two weeks in steps of two days")
            << "2026-03-01 08:00:00"
            << "2026-03-14 09:00:00"
            << QStringList{"03-01", "03-03", "03-05", "03-07", "03-09", "03-11", "03-13", "03-15"};
        QTest::newRow("across a new year")
            << "2025-12-30 08:00:00"
            << "2026-01-02 09:00:00"
            << QStringList{"2025-12-30", "2025-12-31", "2026-01-01", "2026-01-02", "2026-01-03"};
    }

    void timeTicksAreWholeHoursWithinADayAndLocalMidnightsBeyond() {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QStringList, labels);
        const auto from = ParseLocalTime(first.toStdString());
        const auto to = ParseLocalTime(last.toStdString());
        QVERIFY(from && to);
        const auto ticks = ui::TimeTicks(*from, *to);
        QStringList got;
        for (const auto& [msecs, label] : ticks) got << label;
        QCOMPARE(got, labels);
        QVERIFY(ticks.front().first <= *from * 1000);
        QVERIFY(ticks.back().first >= *to * 1000);
    }

    void paidSlotsPlotTheLeftColumnFirstUnderTheRowsPlanAndUnit() {
        DataFolder data;
        ScriptedNotifier notifier;
        ResetProcessFlags();
        Process().firstNewKeywordId = -1;
        UseSites(data.paths.databasePath, {{kAlpha, 1}});
        SilentNotifier silent;
        QVERIFY(addPaidKeywords(
                    data.paths.databasePath,
                    {{"鲜花速递", "鲜花", "春季推广"}, {"鲜花速递", "礼品", "秋季推广"}}, silent)
                    .committed);
        Process().firstNewKeywordId = -1;
        const HistoryKey spring{RankKind::Paid, "鲜花速递", "春季推广", "鲜花"};
        const std::int64_t t0 = DaysAgo(2);
        const int taken[] = {2, 51, 4, 53};  // 左2, 右1, 左4, 右3
        for (int i = 0; i < 4; ++i)
            AppendCheck(data.paths.databasePath, spring, t0 + i * kHour,
                        {Ranked(kAlpha, taken[i])});
        AppendCheck(data.paths.databasePath, {RankKind::Paid, "鲜花速递", "秋季推广", "礼品"}, t0,
                    {Ranked(kAlpha, 1)});

        ui::RankingPageContext context;
        context.paths = data.paths;
        CDialogSem page(context);
        page.resize(1250, 640);
        page.show();
        ui::CDialogRight* pane = page.keywordPane();
        int row = -1;
        for (int r = 0; r < pane->list()->reportModel()->rowCount(); ++r)
            if (Cell(pane->list(), r, ui::CDialogRight::kUnitColumn) == QStringLiteral("鲜花"))
                row = r;
        QVERIFY(row >= 0);
        const auto seen = OpenFromMenu(pane, row);
        QVERIFY(seen);
        QCOMPARE(seen->caption, QStringLiteral("排名历史 - 鲜花速递 [春季推广 / 鲜花]"));
        // Right slots follow the deepest left slot seen: 右1 at 5, 右3 at 7.
        const auto& alpha = seen->lines.at("www.alpha.com");
        QCOMPARE(int(alpha.size()), 1);
        QCOMPARE(alpha[0],
                 Points({{t0, 2}, {t0 + kHour, 5}, {t0 + 2 * kHour, 4}, {t0 + 3 * kHour, 7}}));
        QCOMPARE(seen->rankLabels, (QStringList{"左1", "左2", "左3", "左4", "右1", "右2", "右3"}));
        QVERIFY(seen->reversed);
        QCOMPARE(seen->bottom, 7.5);
        QCOMPARE(seen->table.size(), std::size_t(5));
        QCOMPARE(seen->table[2], (QStringList{Time(t0 + kHour), "右1"}));
        ResetProcessFlags();
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DialogRankHistoryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialog_rank_history_test.moc"
