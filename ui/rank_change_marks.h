#pragma once

// The change since the previous check that a keyword list shows beside each site's rank: an up
// or down mark and the old rank in the cell's tooltip.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/rank_history.h"
#include "records/record_types.h"

namespace velquist::ui {

enum class RankMove : std::int8_t { Down = -1, None = 0, Up = 1 };

// Rank texts of the standings, each kept once: a list holds a standing per site cell, and a few
// hundred distinct texts serve all of them. Id 0 is the empty text.
class RankTextPool {
  public:
    RankTextPool();
    // The id of the text, added when new; 0 once the pool is full.
    std::uint16_t intern(std::string_view text);
    const std::string& text(std::uint16_t id) const;

  private:
    // Looked up by string_view, so finding a text known already copies nothing.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::vector<std::string> m_texts;
    std::unordered_map<std::string, std::uint16_t, TextHash, std::equal_to<>> m_ids;
};

// The finished check of a site a cell is compared with, and how the cell's result moved against
// it. Kept to 16 bytes: a list of 100,000 keywords holds one per site cell.
struct CellStanding {
    std::int64_t time = 0;
    std::int32_t rankNum = 0;
    std::uint16_t text = 0;  // in the page's pool; 0: there is nothing to compare with
    std::int8_t state = 0;   // RankState
    RankMove move = RankMove::None;

    bool known() const { return text != 0; }
};
static_assert(sizeof(CellStanding) == 16);

// How the result a cell shows ended; nullopt for an empty cell.
std::optional<RankState> ShownState(const SiteResult& cell);

// The standing of a finished check; nothing (unknown) for a failed one, which says nothing of
// the rank.
CellStanding StandingOf(const HistoryPoint& point, RankTextPool& pool);

// Up when the cell's result stands better than the standing, down when worse; none when they
// are equal, the standing is unknown, the cell is empty or its check failed.
RankMove MoveBetween(const CellStanding& before, const SiteResult& shown);

// What a cell's next result is compared with: the site's last finished check, which is the
// latest one unless that failed.
std::optional<HistoryPoint> LastFinished(const SiteCheck& site);

// "上次：第3名，第1页" and the time of that check, or "" when there is nothing to compare with.
QString StandingTip(const CellStanding& standing, const RankTextPool& pool);

// The site columns of a list by address.
struct SiteColumnIndex {
    explicit SiteColumnIndex(const std::vector<std::string>& urls);
    std::optional<std::size_t> find(const std::string& url) const;

    std::size_t count = 0;
    std::unordered_map<std::string, std::size_t> columnOfUrl;
};

// Fills `standings` (one per site column, or left empty when the keyword has no history) from
// the keyword's latest check. A cell showing that check (its text, at `shownTime`) is compared
// with the site's finished check before it. Any other cell is compared with the site's last
// finished check: an empty cell waiting for its next result, or one showing a result the history
// does not hold (it could not be stored).
void AttachLatestCheck(const KeywordCheck& check, const std::string& shownTime,
                       const std::vector<SiteResult>& cells, const SiteColumnIndex& columns,
                       RankTextPool& pool, std::vector<CellStanding>& standings);

}  // namespace velquist::ui
