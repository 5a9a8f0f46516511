#include "ui/dialog_rank_history.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QTableWidget>
#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "ui/qt_text.h"
#include "ui/ranking_list_page.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

constexpr int kResultsPerPage = 10;
constexpr int kMargin = 12;
constexpr int kChartTop = 36;
constexpr int kChartHeight = 350;
constexpr int kTableGap = 8;

// Line colours that stay apart from each other and from the grid, one per site in turn.
const std::array<QColor, 8> kLineColors{
    QColor(31, 119, 180),  QColor(214, 39, 40),  QColor(44, 160, 44), QColor(255, 127, 14),
    QColor(148, 103, 189), QColor(23, 190, 207), QColor(140, 86, 75), QColor(227, 119, 194)};

bool IsRightSlot(const HistoryPoint& point) { return point.rankNum > kRightColumnOffset; }

QString KeywordTitle(const HistoryKey& key) {
    if (key.kind == RankKind::Natural) return Q(key.keyword);
    return QStringLiteral("%1 [%2 / %3]").arg(Q(key.keyword), Q(key.plan), Q(key.unit));
}

const SiteSeries* SeriesOf(const std::vector<SiteSeries>& series, const std::string& url) {
    const auto found = std::find_if(series.begin(), series.end(),
                                    [&url](const SiteSeries& s) { return s.url == url; });
    return found == series.end() ? nullptr : &*found;
}

qint64 Msecs(std::int64_t time) { return time * 1000; }

// The first step from `steps` that cuts `length` into at most `most` pieces, else the step that
// does.
int StepFor(int length, std::initializer_list<int> steps, int most) {
    for (const int step : steps)
        if ((length + step - 1) / step <= most) return step;
    return (length + most - 1) / most;
}

}  // namespace

std::vector<std::pair<qint64, QString>> TimeTicks(std::int64_t first, std::int64_t last) {
    constexpr int kMostIntervals = 7;
    const QDateTime from = QDateTime::fromSecsSinceEpoch(first);
    const QDateTime to = QDateTime::fromSecsSinceEpoch(std::max(first, last));
    std::vector<std::pair<qint64, QString>> ticks;
    if (from.date() == to.date()) {
        // Whole hours of the one day.
        const int start = from.time().hour();
        const int hours = to.time().hour() - start + 1;
        const int step = StepFor(hours, {1, 2, 3, 4, 6, 12}, kMostIntervals);
        const int intervals = (hours + step - 1) / step;
        const QDateTime base(from.date(), QTime(start, 0));
        for (int i = 0; i <= intervals; ++i) {
            const QDateTime tick = base.addSecs(std::int64_t(i) * step * 3600);
            ticks.emplace_back(tick.toMSecsSinceEpoch(), tick.toString(QStringLiteral("HH:mm")));
        }
        return ticks;
    }
    // Local midnights, so each label names the day that starts there.
    const int days = static_cast<int>(from.date().daysTo(to.date())) + 1;
    const int step = StepFor(days, {1, 2, 3, 5, 7, 14, 30, 61, 91, 182, 365}, kMostIntervals);
    const int intervals = (days + step - 1) / step;
    const QString format = from.date().year() == to.date().year() ? QStringLiteral("MM-dd")
                                                                  : QStringLiteral("yyyy-MM-dd");
    for (int i = 0; i <= intervals; ++i) {
        const QDateTime tick(from.date().addDays(std::int64_t(i) * step), QTime(0, 0));
        ticks.emplace_back(tick.toMSecsSinceEpoch(), tick.toString(format));
    }
    return ticks;
}

RankAxisScale::RankAxisScale(RankKind kind, const std::vector<SiteSeries>& series) : m_kind(kind) {
    for (const SiteSeries& site : series)
        for (const HistoryPoint& point : site.points) {
            if (point.state != RankState::Ranked) continue;
            if (kind == RankKind::Natural)
                m_deepestRank = std::max(m_deepestRank, point.rankNum);
            else if (IsRightSlot(point))
                m_rightSlots = std::max(m_rightSlots, point.rankNum - kRightColumnOffset);
            else
                m_leftSlots = std::max(m_leftSlots, point.rankNum);
        }
}

std::optional<int> RankAxisScale::position(const HistoryPoint& point) const {
    if (point.state != RankState::Ranked || point.rankNum <= 0) return std::nullopt;
    if (m_kind == RankKind::Natural || !IsRightSlot(point)) return point.rankNum;
    return m_leftSlots + point.rankNum - kRightColumnOffset;
}

int RankAxisScale::bottom() const {
    if (m_kind == RankKind::Paid) return std::max(1, m_leftSlots + m_rightSlots);
    // Whole result pages, at least the first one.
    const int pages = std::max(1, (m_deepestRank + kResultsPerPage - 1) / kResultsPerPage);
    return pages * kResultsPerPage;
}

std::vector<std::pair<int, QString>> RankAxisScale::labels() const {
    std::vector<std::pair<int, QString>> labels;
    if (m_kind == RankKind::Paid) {
        for (int slot = 1; slot <= m_leftSlots; ++slot)
            labels.emplace_back(slot, QStringLiteral("左%1").arg(slot));
        for (int slot = 1; slot <= m_rightSlots; ++slot)
            labels.emplace_back(m_leftSlots + slot, QStringLiteral("右%1").arg(slot));
        if (labels.empty()) labels.emplace_back(1, QStringLiteral("左1"));
        return labels;
    }
    // Every place on one page; beyond it the first place and the end of every page.
    const int last = bottom();
    if (last <= kResultsPerPage) {
        for (int rank = 1; rank <= last; ++rank) labels.emplace_back(rank, QString::number(rank));
        return labels;
    }
    labels.emplace_back(1, QStringLiteral("1"));
    for (int rank = kResultsPerPage; rank <= last; rank += kResultsPerPage)
        labels.emplace_back(rank, QString::number(rank));
    return labels;
}

CDialogRankHistory::CDialogRankHistory(const HistoryKey& key, const std::vector<std::string>& sites,
                                       const std::vector<SiteSeries>& series, QWidget* parent)
    : CYUiEntity(parent) {
    setObjectName(QStringLiteral("rankHistoryDialog"));
    setFixedSize(kWidth, kHeight);
    setupSkin(Mode::Dialog);
    // The caption bar has room for one line; a long keyword ends in "…" instead of running
    // under the close button.
    const QString caption = QStringLiteral("排名历史 - %1").arg(KeywordTitle(key));
    setCaptionText(QFontMetrics(SkinFont(12)).elidedText(caption, Qt::ElideRight, kWidth - 90));
    addCloseButton();

    const RankAxisScale scale(key.kind, series);
    buildChart(sites, series, scale);
    buildTable(sites, series);

    CYButton* close = addTextButton(QStringLiteral("关闭"));
    close->setObjectName(QStringLiteral("closeButton"));
    close->move(kWidth - close->width() - 20, kHeight - close->height() - 12);
    connect(close, &CYButton::clicked, this, &QDialog::reject);
    const int tableTop = kChartTop + kChartHeight + kTableGap;
    m_table->setGeometry(kMargin, tableTop, kWidth - 2 * kMargin, close->y() - 10 - tableTop);
}

QChart* CDialogRankHistory::chart() const { return m_chartView->chart(); }

std::vector<QLineSeries*> CDialogRankHistory::siteLines(const QString& url) const {
    std::vector<QLineSeries*> lines;
    for (QAbstractSeries* series : chart()->series())
        if (series->name() == url)
            if (auto* line = qobject_cast<QLineSeries*>(series)) lines.push_back(line);
    return lines;
}

void CDialogRankHistory::buildChart(const std::vector<std::string>& sites,
                                    const std::vector<SiteSeries>& series,
                                    const RankAxisScale& scale) {
    auto* chart = new QChart();
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 8, 4));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->setFont(SkinFont(12));

    std::int64_t first = 0;
    std::int64_t last = 0;
    bool anyCheck = false;
    std::vector<QLineSeries*> lines;
    for (std::size_t index = 0; index < sites.size(); ++index) {
        const QString name = Q(sites[index]);
        QPen pen(kLineColors[index % kLineColors.size()], 2);
        std::vector<QLineSeries*> pieces;
        QLineSeries* open = nullptr;
        if (const SiteSeries* site = SeriesOf(series, sites[index]))
            for (const HistoryPoint& point : site->points) {
                first = anyCheck ? std::min(first, point.time) : point.time;
                last = anyCheck ? std::max(last, point.time) : point.time;
                anyCheck = true;
                const auto y = scale.position(point);
                if (!y) {
                    open = nullptr;  // the line stops here and starts again at the next rank
                    continue;
                }
                if (!open) pieces.push_back(open = new QLineSeries());
                open->append(static_cast<qreal>(Msecs(point.time)), *y);
            }
        if (pieces.empty()) pieces.push_back(new QLineSeries());
        for (QLineSeries* piece : pieces) {
            piece->setName(name);
            piece->setPen(pen);
            piece->setColor(pen.color());
            // A rank between two gaps is a single point, which a line alone would not show.
            piece->setPointsVisible(true);
            piece->setMarkerSize(6);
            chart->addSeries(piece);
            lines.push_back(piece);
        }
        // One legend entry per site, not per piece.
        for (std::size_t piece = 1; piece < pieces.size(); ++piece)
            for (QLegendMarker* marker : chart->legend()->markers(pieces[piece]))
                marker->setVisible(false);
    }

    if (!anyCheck) first = last = QDateTime::currentSecsSinceEpoch();
    auto* timeAxis = new QCategoryAxis();
    timeAxis->setTitleText(QStringLiteral("查询时间"));
    timeAxis->setTitleFont(SkinFont(12));
    timeAxis->setLabelsFont(SkinFont(11));
    timeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    const auto ticks = TimeTicks(first, last);
    // The first tick is the start of the axis; a category needs a start below its end.
    timeAxis->setStartValue(static_cast<qreal>(ticks.front().first) - 1);
    for (const auto& [msecs, label] : ticks) timeAxis->append(label, static_cast<qreal>(msecs));
    timeAxis->setRange(static_cast<qreal>(ticks.front().first),
                       static_cast<qreal>(ticks.back().first));

    auto* rankAxis = new QCategoryAxis();
    rankAxis->setTitleText(QStringLiteral("排名"));
    rankAxis->setTitleFont(SkinFont(12));
    rankAxis->setLabelsFont(SkinFont(11));
    rankAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    // Half a place of room at least, so points at rank 1 are not drawn on the frame.
    const double room = std::max(0.5, scale.bottom() / 40.0);
    rankAxis->setStartValue(1 - room);
    for (const auto& [place, label] : scale.labels()) rankAxis->append(label, place);
    rankAxis->setRange(1 - room, scale.bottom() + room);
    // Rank 1 is the best place: it goes at the top.
    rankAxis->setReverse(true);

    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(rankAxis, Qt::AlignLeft);
    for (QLineSeries* line : lines) {
        line->attachAxis(timeAxis);
        line->attachAxis(rankAxis);
    }
    if (!anyCheck) {
        chart->setTitle(Q(kNoRankHistory));
        chart->setTitleFont(SkinFont(13));
    }

    m_chartView = new QChartView(chart, this);
    m_chartView->setObjectName(QStringLiteral("rankChart"));
    m_chartView->setRenderHint(QPainter::Antialiasing, true);
    m_chartView->setGeometry(kMargin, kChartTop, kWidth - 2 * kMargin, kChartHeight);
}

void CDialogRankHistory::buildTable(const std::vector<std::string>& sites,
                                    const std::vector<SiteSeries>& series) {
    // One row per check time of any enabled site; a site not checked then has an empty cell.
    std::map<std::int64_t, std::vector<const HistoryPoint*>> byTime;
    for (std::size_t column = 0; column < sites.size(); ++column) {
        const SiteSeries* site = SeriesOf(series, sites[column]);
        if (!site) continue;
        for (const HistoryPoint& point : site->points) {
            auto& row = byTime[point.time];
            row.resize(sites.size(), nullptr);
            row[column] = &point;
        }
    }

    m_table =
        new QTableWidget(static_cast<int>(byTime.size()), static_cast<int>(sites.size()) + 1, this);
    m_table->setObjectName(QStringLiteral("rankTable"));
    m_table->setFont(SkinFont(12));
    m_table->horizontalHeader()->setFont(SkinFont(12));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(22);
    QStringList headings{QStringLiteral("查询时间")};
    for (const std::string& site : sites) headings << Q(site);
    m_table->setHorizontalHeaderLabels(headings);
    m_table->setColumnWidth(0, 160);
    m_table->horizontalHeader()->setStretchLastSection(true);
    for (int column = 1; column <= static_cast<int>(sites.size()); ++column)
        m_table->setColumnWidth(column, 170);

    int row = 0;
    for (const auto& [time, points] : byTime) {
        m_table->setItem(row, 0, new QTableWidgetItem(Q(FormatLocalTime(time))));
        for (std::size_t column = 0; column < points.size(); ++column) {
            if (!points[column]) continue;
            auto* item = new QTableWidgetItem(Q(points[column]->rankText));
            if (points[column]->state == RankState::Failed) item->setForeground(kFailedCheckColor);
            m_table->setItem(row, static_cast<int>(column) + 1, item);
        }
        ++row;
    }
    m_table->scrollToBottom();
}

}  // namespace velquist::ui
