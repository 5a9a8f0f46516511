// The change marks of the keyword lists: each site cell's move since the site's previous
// finished check, beside an unchanged rank text and with the old rank in its tooltip, as results
// arrive in a run against the search stand-in and as stored rows are loaded; paid rows are
// compared under their own plan and unit.

#include <QImage>
#include <QtTest>
#include <memory>

#include "rank_history_test_support.h"
#include "ranking_test_support.h"
#include "ui/dialog_sem.h"
#include "ui/dialog_seo.h"
#include "ui/report_control.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using namespace velquist;
using namespace velquist::testing;
using velquist::ui::CDialogSem;
using velquist::ui::CDialogSeo;
using velquist::ui::CMyReportControl;
using velquist::ui::CRankingListPage;
using velquist::ui::CReportItemDelegate;
using velquist::ui::CReportModel;

namespace {

constexpr int kRunWaitMs = 30000;
const std::string kAlpha = "www.alpha.com";
const std::string kBeta = "shop.beta.cn";

enum Move { Down = -1, None = 0, Up = 1 };

// What one site cell shows: its text, its mark and its tooltip.
struct Shown {
    QString text;
    int move = None;
    QString tip;
};

QString Tip(const std::string& rank, std::int64_t time) {
    return QStringLiteral("上次：%1\n查询时间：%2")
        .arg(QString::fromStdString(rank), QString::fromStdString(FormatLocalTime(time)));
}

Shown CellOf(const CMyReportControl* list, const QString& keyword, const std::string& site) {
    const QModelIndex index = list->reportModel()->index(
        RowOf(list, keyword), ColumnOf(list, QString::fromStdString(site)));
    return {index.data().toString(), index.data(CReportModel::MoveRole).toInt(),
            index.data(Qt::ToolTipRole).toString()};
}

// How many pixels of the cell as drawn have exactly this colour.
int PixelsOf(CMyReportControl* list, const QString& keyword, const std::string& site,
             const QColor& color) {
    const QModelIndex index = list->reportModel()->index(
        RowOf(list, keyword), ColumnOf(list, QString::fromStdString(site)));
    list->scrollTo(index);
    const QImage image = list->viewport()->grab(list->visualRect(index)).toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == color;
    return count;
}

}  // namespace

class RankChangeMarksTest : public QObject {
    Q_OBJECT

  private slots:
    void eachArrivingResultIsComparedWithTheSitesLastFinishedCheckAndLoadsTheSameWay() {
        DataFolder data;
        ScriptedNotifier notifier;
        ResetProcessFlags();
        StandinProcess standin(World({
            WorldEntry("上升", R"([["x.com","www.alpha.com"]])"),
            WorldEntry("新上榜", R"([10, ["www.alpha.com","shop.beta.cn"]])"),
            WorldEntry("掉出", R"([["x.com"]])"),
            WorldEntry("失败", R"([["www.alpha.com"]])", R"("verify": true)"),
            WorldEntry("跳过失败", R"([["www.alpha.com"]])"),
            WorldEntry("持平", R"([["a.com","b.com","c.com","www.alpha.com"]])"),
            WorldEntry("首次", R"([["www.alpha.com"]])"),
        }));
        QVERIFY(standin.started());
        UseSites(data.paths.databasePath, {{kAlpha, 1}, {kBeta, 1}});
        const std::vector<std::string> keywords{"上升",     "新上榜", "掉出", "失败",
                                                "跳过失败", "持平",   "首次"};
        AddNatural(data.paths.databasePath, keywords);
        const auto key = [](const char* keyword) {
            return HistoryKey{RankKind::Natural, keyword, "", ""};
        };
        const std::int64_t yesterday = DaysAgo(1);
        const std::int64_t before = DaysAgo(2);
        const std::string& db = data.paths.databasePath;
        AppendCheck(db, key("上升"), yesterday, {Ranked(kAlpha, 5), Absent(kBeta)});
        AppendCheck(db, key("新上榜"), yesterday, {Absent(kAlpha), Ranked(kBeta, 2)});
        AppendCheck(db, key("掉出"), yesterday, {Ranked(kAlpha, 3), Ranked(kBeta, 1)});
        AppendCheck(db, key("失败"), yesterday, {Ranked(kAlpha, 3), Absent(kBeta)});
        AppendCheck(db, key("跳过失败"), before, {Ranked(kAlpha, 9)});
        AppendCheck(db, key("跳过失败"), yesterday, {Failed(kAlpha), Failed(kBeta)});
        AppendCheck(db, key("持平"), yesterday, {Ranked(kAlpha, 4)});

        const struct {
            const char* keyword;
            Shown alpha;
            Shown beta;
        } expected[] = {
            {"上升",
             {"第2名，第1页", Up, Tip("第5名，第1页", yesterday)},
             {"无", None, Tip("无", yesterday)}},
            {"新上榜",
             {"第11名，第2页", Up, Tip("无", yesterday)},
             {"第12名，第2页", Down, Tip("第2名，第1页", yesterday)}},
            {"掉出",
             {"无", Down, Tip("第3名，第1页", yesterday)},
             {"无", Down, Tip("第1名，第1页", yesterday)}},
            // A failed check says nothing of the rank: no mark, but the last known rank.
            {"失败",
             {"查询失败", None, Tip("第3名，第1页", yesterday)},
             {"查询失败", None, Tip("无", yesterday)}},
            // The failed check between is passed over; a site that only ever failed has nothing
            // to compare with.
            {"跳过失败", {"第1名，第1页", Up, Tip("第9名，第1页", before)}, {"无", None, {}}},
            {"持平", {"第4名，第1页", None, Tip("第4名，第1页", yesterday)}, {"无", None, {}}},
            {"首次", {"第1名，第1页", None, {}}, {"无", None, {}}},
        };
        const auto checkCells = [&](const CMyReportControl* list, const char* when) {
            for (const auto& want : expected) {
                const QString keyword = QString::fromUtf8(want.keyword);
                for (const auto& [site, cell] :
                     {std::pair{kAlpha, want.alpha}, {kBeta, want.beta}}) {
                    const Shown got = CellOf(list, keyword, site);
                    const QString what =
                        QStringLiteral("%1 %2 %3")
                            .arg(QString::fromUtf8(when), keyword, QString::fromStdString(site));
                    QVERIFY2(got.text == cell.text, qPrintable(what + ": " + got.text));
                    QVERIFY2(got.move == cell.move, qPrintable(what));
                    QVERIFY2(got.tip == cell.tip, qPrintable(what + ": " + got.tip));
                }
            }
        };

        // Opened as after a start: the live results are gone, the history is not.
        ui::RankingPageContext context;
        context.paths = data.paths;
        context.hosts.searchHost = standin.host();
        context.hosts.httpTimeoutSeconds = 20;
        context.prepareRun = NoPauses;
        auto page = std::make_unique<CDialogSeo>(context);
        page->resize(1250, 640);
        page->show();
        CMyReportControl* list = page->list();
        for (const std::string& keyword : keywords) {
            const QModelIndex index = list->reportModel()->index(
                RowOf(list, QString::fromStdString(keyword)), ColumnOf(list, "www.alpha.com"));
            QCOMPARE(index.data(CReportModel::MoveRole).toInt(), 0);
            QVERIFY(index.data(Qt::ToolTipRole).isNull());
        }

        ClickHeaderBox(list);
        QTest::mouseClick(page->tool(CRankingListPage::kStart), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!notifier.messages.empty(), kRunWaitMs);
        QCOMPARE(notifier.messages.back(), std::string("查询完毕！"));
        checkCells(list, "live");

        // The mark is drawn beside the text: green up, red down, nothing for no move.
        const QColor rise = CReportItemDelegate::kRiseColor;
        const QColor fall = CReportItemDelegate::kFallColor;
        QVERIFY(PixelsOf(list, "上升", kAlpha, rise) > 10);
        QCOMPARE(PixelsOf(list, "上升", kAlpha, fall), 0);
        QVERIFY(PixelsOf(list, "掉出", kAlpha, fall) > 10);
        QCOMPARE(PixelsOf(list, "掉出", kAlpha, rise), 0);
        QCOMPARE(PixelsOf(list, "持平", kAlpha, rise) + PixelsOf(list, "持平", kAlpha, fall), 0);
        QCOMPARE(PixelsOf(list, "失败", kAlpha, rise) + PixelsOf(list, "失败", kAlpha, fall), 0);

        // The stored rows of this run read back with the same marks.
        page->reload();
        checkCells(list, "reloaded");
        page.reset();
        ResetProcessFlags();
    }

    void paidRowsAreComparedUnderTheirOwnPlanAndUnit() {
        DataFolder data;
        ScriptedNotifier notifier;
        ResetProcessFlags();
        Process().firstNewKeywordId = -1;
        UseSites(data.paths.databasePath, {{kAlpha, 1}});
        SilentNotifier silent;
        const std::string& db = data.paths.databasePath;
        QVERIFY(
            addPaidKeywords(
                db, {{"鲜花速递", "鲜花", "春季推广"}, {"鲜花速递", "礼品", "秋季推广"}}, silent)
                .committed);
        Process().firstNewKeywordId = -1;
        const HistoryKey spring{RankKind::Paid, "鲜花速递", "春季推广", "鲜花"};
        const HistoryKey autumn{RankKind::Paid, "鲜花速递", "秋季推广", "礼品"};
        const std::int64_t yesterday = DaysAgo(1);
        // A left slot stands above every right one.
        AppendCheck(db, spring, yesterday, {Ranked(kAlpha, 51)});
        AppendCheck(db, autumn, yesterday, {Ranked(kAlpha, 1)});
        StoreLatest(db, data.count("SELECT keywordId FROM keyword WHERE unit='鲜花'"), spring,
                    {Ranked(kAlpha, 2)});
        StoreLatest(db, data.count("SELECT keywordId FROM keyword WHERE unit='礼品'"), autumn,
                    {Ranked(kAlpha, 3)});

        ui::RankingPageContext context;
        context.paths = data.paths;
        CDialogSem page(context);
        page.resize(1250, 640);
        page.show();
        const CMyReportControl* list = page.keywordPane()->list();
        QCOMPARE(list->reportModel()->rowCount(), 2);
        const struct {
            const char* unit;
            Shown alpha;
        } expected[] = {
            {"鲜花", {"左2", Up, Tip("右1", yesterday)}},
            {"礼品", {"左3", Down, Tip("左1", yesterday)}},
        };
        for (const auto& want : expected) {
            int row = -1;
            for (int r = 0; r < list->reportModel()->rowCount(); ++r)
                if (Cell(list, r, ui::CDialogRight::kUnitColumn) == QString::fromUtf8(want.unit))
                    row = r;
            QVERIFY(row >= 0);
            const QModelIndex index =
                list->reportModel()->index(row, ColumnOf(list, QString::fromStdString(kAlpha)));
            QCOMPARE(index.data().toString(), want.alpha.text);
            QCOMPARE(index.data(CReportModel::MoveRole).toInt(), want.alpha.move);
            QCOMPARE(index.data(Qt::ToolTipRole).toString(), want.alpha.tip);
        }
        ResetProcessFlags();
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RankChangeMarksTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "rank_change_marks_test.moc"
