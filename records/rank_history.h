#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/database.h"
#include "core/text.h"  // FormatLocalTime: the times the history gives back

namespace velquist {

// Every check a run stores is also kept in the rank history, in the same transaction as the
// live results, which each run and each start clear. The history is cleared only by a prune.
//
// Tables (created at start by PrepareDatabase, core/schema.cpp):
//   historykeyword (id, kind, keyword, plan, unit)  a keyword by name; plan and unit are empty
//                                                   for natural keywords
//   historysite (id, url), historyrank (id, rank)   addresses and rank texts, each stored once
//   rankhistory (historyKeywordId, time, siteId, rankId, rankNum, state)
//       one row per keyword, check and site; time in seconds since 1970 (UTC); the key
//       (historyKeywordId, time, siteId) keeps a keyword's checks together in time order.

enum class RankKind { Natural = 0, Paid = 1 };

// How one site's check ended; the stored state column holds these numbers.
enum class RankState {
    Ranked = 0,    // found: "第14名，第2页", "左4"
    NotFound = 1,  // "无": not among the results walked
    Failed = 2,  // "查询失败": the check could not be finished, so it says nothing of the rank
};

// A keyword as the history knows it. A keyword deleted and added again continues its history;
// keywordId numbers are reused and would attach one keyword's history to another.
struct HistoryKey {
    RankKind kind = RankKind::Natural;
    std::string keyword;
    std::string plan;  // paid keywords only
    std::string unit;

    bool operator==(const HistoryKey&) const = default;
};

// One site's outcome as a run stores it; the views must outlive the append.
struct HistoryResult {
    std::string_view url;
    std::string_view rankText;  // the text stored and shown, "无" and "查询失败" included
    int rankNum = 0;
    RankState state = RankState::NotFound;
};

// Appends checks inside the caller's write transaction, with statements prepared once. It
// remembers the ids it looked up or created, so it must not outlive that transaction: after a
// rollback those ids may belong to nothing. One thread at a time, like its connection.
class RankHistoryAppender {
  public:
    explicit RankHistoryAppender(DbConnection& db);
    ~RankHistoryAppender();
    RankHistoryAppender(const RankHistoryAppender&) = delete;
    RankHistoryAppender& operator=(const RankHistoryAppender&) = delete;

    // One row per result, all at `time`. A keyword stored twice within one second keeps the
    // later check. False when a write failed: the caller rolls the transaction back.
    bool append(const HistoryKey& key, std::int64_t time,
                const std::vector<HistoryResult>& results);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

struct HistoryPoint {
    std::int64_t time = 0;
    std::string rankText;
    int rankNum = 0;
    RankState state = RankState::NotFound;
};

struct SiteSeries {
    std::string url;
    std::vector<HistoryPoint> points;  // oldest first
};

// A site of a keyword's latest check, with the standing it is compared against.
struct SiteCheck {
    std::string url;
    HistoryPoint latest;
    // The site's last finished (not failed) check before `latest`; with a `since` time, its last
    // finished check before that time, else its first one from then on. Empty when there is none.
    std::optional<HistoryPoint> previous;
};

struct KeywordCheck {
    HistoryKey key;
    std::int64_t time = 0;         // of the latest check; 0 when the keyword has no history
    std::vector<SiteCheck> sites;  // the sites of the latest check, by url
};

inline constexpr std::int64_t kEarliestTime = std::numeric_limits<std::int64_t>::min();

// Reads the history over a connection of its own; one thread at a time. Every call is its own
// short read, so a reader kept open never holds a lock between calls. Failed reads give nullopt.
class RankHistoryReader {
  public:
    explicit RankHistoryReader(const std::string& dbPath);
    ~RankHistoryReader();
    RankHistoryReader(const RankHistoryReader&) = delete;
    RankHistoryReader& operator=(const RankHistoryReader&) = delete;

    bool isOpen() const;
    // The keywords of a kind that have history, in the order they were first checked.
    std::optional<std::vector<HistoryKey>> keywords(RankKind kind);
    // One keyword's checks from `since` on, per site by url. A keyword without history has none.
    std::optional<std::vector<SiteSeries>> series(const HistoryKey& key,
                                                  std::int64_t since = kEarliestTime);
    // The keyword's latest check and each site's standing before it (see SiteCheck). With
    // `since`, a keyword not checked since then has no sites.
    std::optional<KeywordCheck> latestCheck(const HistoryKey& key,
                                            std::optional<std::int64_t> since = std::nullopt);
    // latestCheck for every key, in the order given, as one read: the same snapshot throughout.
    std::optional<std::vector<KeywordCheck>> latestChecks(
        const std::vector<HistoryKey>& keys, std::optional<std::int64_t> since = std::nullopt);
    // latestChecks without holding them all at once: `use` gets each key's index and check in
    // turn, within the same one read. False when the read failed; `use` may have had some by then.
    bool forEachLatestCheck(const std::vector<HistoryKey>& keys,
                            const std::function<void(std::size_t, KeywordCheck&&)>& use,
                            std::optional<std::int64_t> since = std::nullopt);
    // Whether any check of any keyword holds this address.
    std::optional<bool> knowsSite(const std::string& url);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// For a page: the latest check of every listed keyword with each site's previous standing, in
// the order given, over one connection and one read. Keywords without history have no sites.
std::optional<std::vector<KeywordCheck>> LoadLatestChecks(const std::string& dbPath,
                                                          const std::vector<HistoryKey>& keys);
// For a chart: one keyword's series per site.
std::optional<std::vector<SiteSeries>> LoadRankSeries(const std::string& dbPath,
                                                      const HistoryKey& key,
                                                      std::int64_t since = kEarliestTime);

// Standings order the checks: rank 1 is best, then by rank number (a paid left slot before
// every right slot), and "无" below every rank. A failed check has no standing.
inline constexpr long long kNotFoundStanding = 1'000'000;
std::optional<long long> Standing(const HistoryPoint& point);
// How far a site moved up from `before` to `after` (negative: down); nullopt when either check
// failed. A newly found site gains more than any move between ranks, a newly lost one loses more.
std::optional<long long> StandingGain(const HistoryPoint& before, const HistoryPoint& after);

struct RankChange {
    HistoryKey key;
    std::string url;
    HistoryPoint before;
    HistoryPoint after;
    long long gain = 0;
};

// The sites whose standing differs between `previous` and `latest`, best gains first: newly
// found sites (best new rank first), then moves up, moves down, and newly lost sites last.
// Sites whose latest check failed, or that have nothing to compare with, are left out.
std::vector<RankChange> FindRankChanges(const std::vector<KeywordCheck>& checks);

// Every keyword of a kind that moved, as FindRankChanges orders them; with `since`, against each
// site's standing at that time (see SiteCheck), leaving out keywords not checked since.
std::optional<std::vector<RankChange>> LoadRankChanges(
    const std::string& dbPath, RankKind kind, std::optional<std::int64_t> since = std::nullopt);

// Removes every check before `before` and the keywords, sites and texts no check uses any more,
// in one write transaction. Returns the rows removed.
std::optional<long long> PruneRankHistory(const std::string& dbPath, std::int64_t before);

// "YYYY-MM-DD" (local midnight) or "YYYY-MM-DD HH:MM:SS" in local time; nullopt for anything
// else, or a date that does not exist.
std::optional<std::int64_t> ParseLocalTime(std::string_view text);

}  // namespace velquist
