#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/user_notifier.h"
#include "records/record_types.h"

namespace velquist {

inline constexpr const char* kDefaultTreeName = "默认";
inline constexpr const char* kTreeReadFailed = "连接数据失败，账户树未能读取成功！";
inline constexpr const char* kTreeUnitsReadFailed = "连接单元数据失败，账户树未能读取成功！";
inline constexpr const char* kUnitChoicesReadFailed = "连接单元数据失败，未能读取成功！";
inline constexpr const char* kDeleteFailed = "删除失败！";

struct TreeUnit {
    int unitId = 0;
    std::string unit;
};

struct TreePlan {
    int planId = 0;
    std::string plan;
    std::vector<TreeUnit> units;  // by unitid
};

// A plan or unit offered by the add dialog.
struct NamedId {
    int id = 0;
    std::string name;
};

// One keyword to add, with the names of its unit and plan (empty means "默认").
struct PaidKeywordEntry {
    std::string keyword;
    std::string unit;
    std::string plan;
};

// One keyword of the paid-ranking list with its last results, one per site column.
struct PaidKeywordRow {
    int keywordId = 0;
    std::string keyword;
    std::string unit;
    std::string plan;
    std::string time;  // empty when never queried
    std::vector<SiteResult> sites;
};

struct PaidList {
    std::vector<PaidKeywordRow> rows;
    int queriedCount = 0;
};

// What identifies a keyword for deletion.
struct PaidKeywordKey {
    int keywordId = 0;
    std::string keyword;
    std::string unit;
    std::string plan;
};

// Plans by planid with their units by unitid; also replaces the process-wide tree items (one
// item per plan, unitId 0, then one per unit). On failure the items stay and the tree's
// failure text is shown.
std::optional<std::vector<TreePlan>> loadTree(const std::string& dbPath, UserNotifier& notifier);

// Plans ordered by name, for the add dialog.
std::optional<std::vector<NamedId>> loadPlanChoices(const std::string& dbPath,
                                                    UserNotifier& notifier);
// Units of one plan by unitid, for the add dialog.
std::optional<std::vector<NamedId>> loadUnitChoices(const std::string& dbPath, int planId,
                                                    UserNotifier& notifier);

// Adds the keywords in one write transaction, creating missing plans and units (looked up by
// exact name) on the way. Blank keywords are dropped first. Sets the process-wide first new
// keyword id when it is -1. Messages and `onCommitted` as for natural keywords.
AddOutcome addPaidKeywords(const std::string& dbPath, const std::vector<PaidKeywordEntry>& entries,
                           UserNotifier& notifier, std::function<void(int added)> onCommitted = {});

// The keywords of the ticked plans and units with their results under `siteColumns`. An empty
// id list is no filter of that kind. `newKeywordsAfter` also lists the keywords whose id is
// greater; with neither filter it alone selects, and with nothing at all the list is empty.
// nullopt when the database cannot be read or the sort texts are not a plain column name and
// ASC/DESC.
std::optional<PaidList> listPaidKeywords(const std::string& dbPath, const std::vector<int>& planIds,
                                         const std::vector<int>& unitIds,
                                         std::optional<int> newKeywordsAfter,
                                         const std::vector<std::string>& siteColumns,
                                         std::string_view column = "id",
                                         std::string_view direction = "ASC");

// Deletes the keywords and their results in one write transaction ("删除关键词失败！").
bool deletePaidKeywords(const std::string& dbPath, const std::vector<PaidKeywordKey>& keywords,
                        UserNotifier& notifier);

// Deletes a unit with its keywords, or a plan with its units and their keywords, each in one
// write transaction ("删除失败！"). Results stay until the next clearing.
bool deleteUnit(const std::string& dbPath, int unitId, UserNotifier& notifier);
bool deletePlan(const std::string& dbPath, int planId, UserNotifier& notifier);

// Before a paid query run: deletes the paid results.
bool clearPaidResults(const std::string& dbPath);

}  // namespace velquist
