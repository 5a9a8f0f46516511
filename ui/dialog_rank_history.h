#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "records/rank_history.h"
#include "ui/yui_entity.h"

class QChart;
class QChartView;
class QLineSeries;
class QTableWidget;

namespace velquist::ui {

inline constexpr const char* kRankHistoryReadFailed = "读取排名历史失败！";
inline constexpr const char* kNoRankHistory = "暂无排名历史";

// Where checks go on the rank axis of a keyword's chart, which has rank 1 at the top.
//
// Natural ranks stand at their position among the results (第14名 at 14). Paid slots are not
// counted in one line: the left column comes first, so left slot n stands at n and right slot n
// right below the deepest left slot this keyword's checks reached (with 左1 to 左4 seen, 右1 at
// 5), and the axis names each place "左n" / "右n". Counting right slots after that deepest left
// one, rather than after a fixed number of left slots, keeps the chart free of empty rows.
class RankAxisScale {
  public:
    RankAxisScale(RankKind kind, const std::vector<SiteSeries>& series);

    // The place of a check; nullopt for "无" and failed checks, which leave a gap in the line.
    std::optional<int> position(const HistoryPoint& point) const;
    // The lowest place the axis shows.
    int bottom() const;
    // The places the axis names, top to bottom.
    std::vector<std::pair<int, QString>> labels() const;

  private:
    RankKind m_kind;
    int m_deepestRank = 0;  // natural
    int m_leftSlots = 0;    // paid
    int m_rightSlots = 0;
};

// The labelled places of a chart's time axis, from before the first check to after the last:
// whole hours ("HH:mm") when all checks are on one day, else local midnights ("MM-dd", or
// "yyyy-MM-dd" across years), at most seven steps. Milliseconds since 1970, as the chart plots.
std::vector<std::pair<qint64, QString>> TimeTicks(std::int64_t first, std::int64_t last);

// "排名历史": one keyword's checks for each enabled promotion site, as lines over time with a gap
// where a check found nothing or failed, and the same checks as a table below (oldest first,
// scrolled to the latest). GUI thread only; it keeps copies of what it shows.
class CDialogRankHistory : public CYUiEntity {
    Q_OBJECT

  public:
    static constexpr int kWidth = 880;
    static constexpr int kHeight = 640;

    // `sites`: the enabled sites in site-list order; `series`: the keyword's checks per site.
    CDialogRankHistory(const HistoryKey& key, const std::vector<std::string>& sites,
                       const std::vector<SiteSeries>& series, QWidget* parent = nullptr);

    QChartView* chartView() const { return m_chartView; }
    QChart* chart() const;
    QTableWidget* table() const { return m_table; }
    // The pieces of a site's line in time order, each ending at a gap; a site without any rank
    // has one empty piece, so that the legend still names it.
    std::vector<QLineSeries*> siteLines(const QString& url) const;

  private:
    void buildChart(const std::vector<std::string>& sites, const std::vector<SiteSeries>& series,
                    const RankAxisScale& scale);
    void buildTable(const std::vector<std::string>& sites, const std::vector<SiteSeries>& series);

    QChartView* m_chartView = nullptr;
    QTableWidget* m_table = nullptr;
};

}  // namespace velquist::ui
