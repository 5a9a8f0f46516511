#include "records/export_history.h"

#include <algorithm>
#include <iterator>
#include <tuple>

namespace velquist {

std::vector<std::string> HistorySheetHeadings(ExportKind kind) {
    if (kind == ExportKind::Natural) return {"关键词", "网址", "查询时间", "排名"};
    return {"关键词", "推广计划", "推广单元", "网址", "查询时间", "排名"};
}

std::vector<HistoryKey> ExportHistoryKeys(const ExportTable& table) {
    std::vector<HistoryKey> keys;
    keys.reserve(table.rows.size());
    for (const ExportRow& row : table.rows) {
        if (table.kind == ExportKind::Natural)
            keys.push_back({RankKind::Natural, row.keyword, {}, {}});
        else
            keys.push_back({RankKind::Paid, row.keyword, row.plan, row.unit});
    }
    return keys;
}

bool ReadHistorySheet(const std::string& dbPath, const std::vector<HistoryKey>& keys,
                      const std::vector<std::string>& sites,
                      const std::function<bool(std::vector<HistorySheetRow>&)>& sink) {
    RankHistoryReader reader(dbPath);
    if (!reader.isOpen()) return false;
    std::vector<HistorySheetRow> rows;
    for (const HistoryKey& key : keys) {
        const auto series = reader.series(key);
        if (!series) return false;
        // (time, site order, point): the checks in time order, each check's sites as exported.
        std::vector<std::tuple<std::int64_t, std::size_t, const HistoryPoint*>> checks;
        for (const SiteSeries& site : *series) {
            const auto column = std::find(sites.begin(), sites.end(), site.url);
            if (column == sites.end()) continue;
            const auto order = static_cast<std::size_t>(column - sites.begin());
            for (const HistoryPoint& point : site.points)
                checks.emplace_back(point.time, order, &point);
        }
        std::sort(checks.begin(), checks.end(), [](const auto& a, const auto& b) {
            return std::tie(std::get<0>(a), std::get<1>(a)) <
                   std::tie(std::get<0>(b), std::get<1>(b));
        });
        rows.clear();
        rows.reserve(checks.size());
        for (const auto& [time, order, point] : checks)
            rows.push_back({key.keyword, key.plan, key.unit, sites[order], FormatLocalTime(time),
                            point->rankText});
        if (!rows.empty() && !sink(rows)) return false;
    }
    return true;
}

std::optional<std::vector<HistorySheetRow>> LoadHistorySheet(
    const std::string& dbPath, const std::vector<HistoryKey>& keys,
    const std::vector<std::string>& sites) {
    std::vector<HistorySheetRow> all;
    const bool read =
        ReadHistorySheet(dbPath, keys, sites, [&all](std::vector<HistorySheetRow>& rows) {
            std::move(rows.begin(), rows.end(), std::back_inserter(all));
            return true;
        });
    if (!read) return std::nullopt;
    return all;
}

}  // namespace velquist
