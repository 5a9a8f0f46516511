#pragma once

// Rank history for the window's tests, written by the program's own store: older checks through
// the history appender at chosen times, the latest one through the result store, which writes
// the live results and the history together as a run does.

#include <QtGlobal>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "core/database.h"
#include "engine/query_run.h"
#include "records/rank_history.h"

namespace velquist::testing {

// One site's outcome in a check: ranked at `rank` (paid: left slot, or right slot + 50), "无",
// or a failed check.
struct Outcome {
    std::string url;
    int rank = 0;
    RankState state = RankState::Ranked;
};

inline Outcome Ranked(const std::string& url, int rank) { return {url, rank, RankState::Ranked}; }
inline Outcome Absent(const std::string& url) { return {url, 0, RankState::NotFound}; }
inline Outcome Failed(const std::string& url) { return {url, 0, RankState::Failed}; }

// The text the scans give a rank: "第14名，第2页" for natural ranks, "左2" / "右1" for paid slots.
inline std::string RankTextOf(RankKind kind, int rank) {
    if (kind == RankKind::Paid)
        return rank > 50 ? "右" + std::to_string(rank - 50) : "左" + std::to_string(rank);
    return "第" + std::to_string(rank) + "名，第" + std::to_string((rank + 9) / 10) + "页";
}

// The sites of a finished keyword as a worker hands them to the store.
inline std::vector<STRUCT_SITE> ScannedSites(RankKind kind, const std::vector<Outcome>& outcomes) {
    std::vector<STRUCT_SITE> sites;
    for (const Outcome& outcome : outcomes) {
        STRUCT_SITE& site = sites.emplace_back();
        site.index = static_cast<int>(sites.size()) - 1;
        site.selected = 1;
        site.url = outcome.url;
        switch (outcome.state) {
            case RankState::Ranked:
                site.found = true;
                site.rankNum = outcome.rank;
                site.rankText = RankTextOf(kind, outcome.rank);
                break;
            case RankState::NotFound:
                site.rankNum = kind == RankKind::Paid ? 100 : 50;
                break;
            case RankState::Failed:
                site.rankNum = 10;
                site.failed = true;
                break;
        }
    }
    return sites;
}

// An older check of the keyword at `time`, as a run before would have stored it.
inline void AppendCheck(const std::string& dbPath, const HistoryKey& key, std::int64_t time,
                        const std::vector<Outcome>& outcomes) {
    const auto sites = ScannedSites(key.kind, outcomes);
    std::vector<std::string> texts;
    for (const auto& site : sites) texts.push_back(site.resultText());
    std::vector<HistoryResult> results;
    for (std::size_t i = 0; i < sites.size(); ++i)
        results.push_back({sites[i].url, texts[i], sites[i].rankNum, outcomes[i].state});
    DbConnection db(dbPath);
    WriteTransaction transaction(db);
    if (!transaction.begun() || !RankHistoryAppender(db).append(key, time, results) ||
        !transaction.commit())
        qFatal("cannot append the history check");
}

// The keyword's latest check, stored now with its live results by the run's own store.
inline void StoreLatest(const std::string& dbPath, int keywordId, const HistoryKey& key,
                        const std::vector<Outcome>& outcomes) {
    STRUCT_WORD item;
    item.id = keywordId;
    item.keyword = key.keyword;
    item.plan = key.plan;
    item.unit = key.unit;
    item.sites = ScannedSites(key.kind, outcomes);
    const bool stored = key.kind == RankKind::Natural ? StoreNaturalResults(dbPath, item)
                                                      : StorePaidResults(dbPath, item);
    if (!stored) qFatal("cannot store the latest check");
}

inline std::int64_t DaysAgo(int days) {
    return static_cast<std::int64_t>(std::time(nullptr)) - days * 24 * 3600;
}

}  // namespace velquist::testing
