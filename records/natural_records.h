#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/user_notifier.h"
#include "records/record_types.h"

namespace velquist {

// One keyword of the natural-ranking list with its last results, one per site column.
struct NaturalKeywordRow {
    int keywordId = 0;
    std::string keyword;
    std::string time;  // empty when never queried
    std::vector<SiteResult> sites;
};

struct NaturalList {
    std::vector<NaturalKeywordRow> rows;
    int queriedCount = 0;  // keywords that have a query time and a result
};

// At program start: reloads the site list, sets the site column count from it and deletes
// the stored results of both kinds.
void clearResults(const std::string& dbPath);

// Before a natural query run: deletes the natural results.
bool clearNaturalResults(const std::string& dbPath);

// Adds the keywords in one write transaction, each with the next keywordId; blank keywords are
// dropped first. A keyword already stored (or repeated in the batch) is skipped and its id stays
// unused. After the commit `onCommitted(added)` runs, then "添加完毕" or the partly-skipped text
// goes to the notifier; any failure rolls the whole batch back and shows "添加失败".
AddOutcome addNaturalKeywords(const std::string& dbPath, const std::vector<std::string>& keywords,
                              UserNotifier& notifier,
                              std::function<void(int added)> onCommitted = {});

// The keywords with their results placed under `siteColumns` (the column headings: site urls),
// sorted by `column` and `direction`, then url. nullopt when the database cannot be read or
// the sort texts are not a plain column name and ASC/DESC.
std::optional<NaturalList> loadNaturalList(const std::string& dbPath,
                                           const std::vector<std::string>& siteColumns,
                                           std::string_view column = "id",
                                           std::string_view direction = "ASC");

// Deletes the keywords (by text) and their results (by id) in one write transaction; on
// failure nothing is deleted and "删除关键词失败！" is shown.
bool deleteNaturalKeywords(const std::string& dbPath,
                           const std::vector<std::pair<int, std::string>>& keywords,
                           UserNotifier& notifier);

}  // namespace velquist
