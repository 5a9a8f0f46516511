#pragma once

// The second sheet of an export, "排名历史": every stored check of the exported keywords, one
// row per check and site. No window needed, like the rest of the export.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/rank_history.h"
#include "records/report_export.h"

namespace velquist {

inline constexpr const char* kHistorySheetName = "排名历史";

struct HistorySheetRow {
    std::string keyword;
    std::string plan;  // paid only
    std::string unit;  // paid only
    std::string site;
    std::string time;  // "%Y-%m-%d %H:%M:%S", local time
    std::string rank;  // the text shown then: "第3名，第1页", "左2", "无", "查询失败"
};

// 关键词, 网址, 查询时间, 排名; paid: 关键词, 推广计划, 推广单元, 网址, 查询时间, 排名.
std::vector<std::string> HistorySheetHeadings(ExportKind kind);

// The keys the history keeps the table's keywords under, in the table's order.
std::vector<HistoryKey> ExportHistoryKeys(const ExportTable& table);

// Reads the history of `keys` keyword by keyword and hands `sink` each keyword's rows: its checks
// oldest first and, within a check, the `sites` in their order; checks of other sites are left
// out, as they are from the first sheet. Each keyword is a short read of its own, so a long
// history never sits in memory whole and a run storing meanwhile is never kept waiting. False
// when a read failed or `sink` returned false.
bool ReadHistorySheet(const std::string& dbPath, const std::vector<HistoryKey>& keys,
                      const std::vector<std::string>& sites,
                      const std::function<bool(std::vector<HistorySheetRow>&)>& sink);

// The same rows all at once; nullopt when a read failed.
std::optional<std::vector<HistorySheetRow>> LoadHistorySheet(const std::string& dbPath,
                                                             const std::vector<HistoryKey>& keys,
                                                             const std::vector<std::string>& sites);

}  // namespace velquist
