#include "ui/rank_change_marks.h"

#include <limits>

#include "engine/rank_types.h"
#include "ui/qt_text.h"

namespace velquist::ui {

RankTextPool::RankTextPool() : m_texts(1) {}

std::uint16_t RankTextPool::intern(std::string_view text) {
    if (text.empty()) return 0;
    if (const auto found = m_ids.find(text); found != m_ids.end()) return found->second;
    if (m_texts.size() > std::numeric_limits<std::uint16_t>::max()) return 0;
    const auto id = static_cast<std::uint16_t>(m_texts.size());
    m_texts.emplace_back(text);
    m_ids.emplace(std::string(text), id);
    return id;
}

const std::string& RankTextPool::text(std::uint16_t id) const {
    return id < m_texts.size() ? m_texts[id] : m_texts.front();
}

std::optional<RankState> ShownState(const SiteResult& cell) {
    if (cell.rankText.empty()) return std::nullopt;
    if (cell.rankText == kNotFoundRankText) return RankState::NotFound;
    if (cell.rankText == kFailedRankText) return RankState::Failed;
    return RankState::Ranked;
}

CellStanding StandingOf(const HistoryPoint& point, RankTextPool& pool) {
    if (point.state == RankState::Failed) return {};
    CellStanding standing;
    standing.time = point.time;
    standing.rankNum = point.rankNum;
    standing.text = pool.intern(point.rankText);
    standing.state = static_cast<std::int8_t>(point.state);
    return standing;
}

RankMove MoveBetween(const CellStanding& before, const SiteResult& shown) {
    const auto state = ShownState(shown);
    if (!before.known() || !state) return RankMove::None;
    // Standings go by state and rank number alone; the texts are not needed to compare.
    const HistoryPoint from{before.time, {}, before.rankNum, static_cast<RankState>(before.state)};
    const HistoryPoint to{0, {}, shown.rankNum, *state};
    const auto gain = StandingGain(from, to);
    if (!gain || *gain == 0) return RankMove::None;
    return *gain > 0 ? RankMove::Up : RankMove::Down;
}

std::optional<HistoryPoint> LastFinished(const SiteCheck& site) {
    if (site.latest.state != RankState::Failed) return site.latest;
    return site.previous;
}

QString StandingTip(const CellStanding& standing, const RankTextPool& pool) {
    if (!standing.known()) return {};
    return QStringLiteral("上次：%1\n查询时间：%2")
        .arg(Q(pool.text(standing.text)), Q(FormatLocalTime(standing.time)));
}

SiteColumnIndex::SiteColumnIndex(const std::vector<std::string>& urls) : count(urls.size()) {
    // The first column of an address is the one its results go to.
    for (std::size_t column = 0; column < urls.size(); ++column)
        columnOfUrl.emplace(urls[column], column);
}

std::optional<std::size_t> SiteColumnIndex::find(const std::string& url) const {
    const auto found = columnOfUrl.find(url);
    if (found == columnOfUrl.end()) return std::nullopt;
    return found->second;
}

void AttachLatestCheck(const KeywordCheck& check, const std::string& shownTime,
                       const std::vector<SiteResult>& cells, const SiteColumnIndex& columns,
                       RankTextPool& pool, std::vector<CellStanding>& standings) {
    standings.clear();
    if (check.sites.empty()) return;
    // The live time is written from the same clock reading as the history's.
    const bool showsLatest = !shownTime.empty() && shownTime == FormatLocalTime(check.time);
    for (const SiteCheck& site : check.sites) {
        const auto index = columns.find(site.url);
        if (!index) continue;
        const SiteResult* shown = *index < cells.size() ? &cells[*index] : nullptr;
        const bool sameCheck = showsLatest && shown && shown->rankText == site.latest.rankText;
        const auto before = sameCheck ? site.previous : LastFinished(site);
        if (!before) continue;
        CellStanding standing = StandingOf(*before, pool);
        if (!standing.known()) continue;
        if (shown) standing.move = MoveBetween(standing, *shown);
        if (standings.empty()) standings.resize(columns.count);
        standings[*index] = standing;
    }
}

}  // namespace velquist::ui
