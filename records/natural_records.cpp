#include "records/natural_records.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>

#include "core/database.h"
#include "core/process_state.h"
#include "records/keyword_batch.h"
#include "records/list_reader.h"
#include "records/site_records.h"

namespace velquist {

namespace {

bool RunSingle(DbConnection& db, const char* sql) {
    DbStatement statement(db, sql);
    return StepSucceeded(statement.step());
}

// The insert transaction alone, so that its statements, its lock and its connection are all
// gone when the caller shows a message. Counts into `outcome`; false when nothing was stored.
bool InsertNaturalKeywords(const std::string& dbPath, const std::vector<std::string>& keywords,
                           AddOutcome& outcome) {
    DbConnection db;
    if (!db.open(dbPath)) return false;
    WriteTransaction transaction(db);
    if (!transaction.begun()) return false;
    // Read inside the write lock, so two adders never hand out the same id.
    int lastId = ReadSingleInt(db, "SELECT max(keywordId) FROM seokeyword");
    DbStatement insert(db, "INSERT INTO seokeyword (keyword,keywordId) VALUES (?,?)");
    for (const std::string& keyword : keywords) {
        if (records_detail::IsBlank(keyword)) continue;
        insert.bindText(1, keyword);
        insert.bindInt(2, ++lastId);
        const auto result = records_detail::StepInsert(db, insert);
        if (result == records_detail::InsertResult::Failed) return false;
        if (result == records_detail::InsertResult::Duplicate)
            ++outcome.skipped;
        else
            ++outcome.added;
    }
    return transaction.commit();
}

bool DeleteNaturalKeywordRows(const std::string& dbPath,
                              const std::vector<std::pair<int, std::string>>& keywords) {
    DbConnection db;
    if (!db.open(dbPath)) return false;
    WriteTransaction transaction(db);
    if (!transaction.begun()) return false;
    DbStatement deleteKeyword(db, "DELETE FROM seokeyword WHERE keyword=?");
    DbStatement deleteResults(db, "DELETE FROM seorank WHERE keywordId=?");
    for (const auto& [keywordId, keyword] : keywords) {
        deleteKeyword.bindText(1, keyword);
        if (!records_detail::StepAndReset(deleteKeyword)) return false;
        deleteResults.bindInt(1, keywordId);
        if (!records_detail::StepAndReset(deleteResults)) return false;
    }
    return transaction.commit();
}

}  // namespace

void clearResults(const std::string& dbPath) {
    Process().siteColumnCount = ReloadSiteList(dbPath);
    DbConnection db;
    if (!db.open(dbPath)) return;
    RunSingle(db, "DELETE FROM seorank");
    RunSingle(db, "DELETE FROM semrank");
}

bool clearNaturalResults(const std::string& dbPath) {
    DbConnection db;
    if (!db.open(dbPath)) return false;
    return RunSingle(db, "DELETE FROM seorank");
}

// Messages are shown only once the transaction has ended: a message box waits for the user, and
// every worker and every other copy of the program would wait on the write lock with it.
AddOutcome addNaturalKeywords(const std::string& dbPath, const std::vector<std::string>& keywords,
                              UserNotifier& notifier, std::function<void(int added)> onCommitted) {
    AddOutcome outcome;
    outcome.requested = records_detail::CountNonBlank(keywords);
    if (!InsertNaturalKeywords(dbPath, keywords, outcome)) {
        notifier.showMessage(kAddFailed);
        return AddOutcome{false, outcome.requested, 0, 0};
    }
    outcome.committed = true;
    if (onCommitted) onCommitted(outcome.added);
    notifier.showMessage(outcome.skipped == 0 ? kAddFinished : kAddPartlySkipped);
    return outcome;
}

std::optional<NaturalList> loadNaturalList(const std::string& dbPath,
                                           const std::vector<std::string>& siteColumns,
                                           std::string_view column, std::string_view direction) {
    if (!records_detail::IsSafeSortColumn(column) ||
        !records_detail::IsSafeSortDirection(direction))
        return std::nullopt;
    DbConnection db;
    if (!db.open(dbPath)) return std::nullopt;
    NaturalList list;
    const int count = ReadSingleInt(db, "SELECT COUNT(*) FROM seokeyword");
    if (count <= 0) return list;
    list.rows.reserve(static_cast<std::size_t>(count));

    const std::string ordered = fmt::format(
        "{0}, url ASC",
        std::string(
            "SELECT a.keywordId,a.keyword,a.time,b.rank,b.url,b.rankNum FROM seokeyword "
            "AS a \t\t\t\t\t\t  LEFT JOIN seorank AS b ON a.keywordId=b.keywordId ORDER BY ") +
            std::string(column) + " " + std::string(direction));
    DbStatement select(db, ordered);
    const records_detail::SitePlacer placer(siteColumns);
    const auto queried =
        records_detail::ReadGroupedRows(select, placer, 2, 3, 4, 5, list.rows,
                                        [](NaturalKeywordRow& row, const DbStatement& source) {
                                            row.keyword = source.columnText(1);
                                        });
    if (!queried) return std::nullopt;
    list.queriedCount = *queried;
    return list;
}

bool deleteNaturalKeywords(const std::string& dbPath,
                           const std::vector<std::pair<int, std::string>>& keywords,
                           UserNotifier& notifier) {
    if (DeleteNaturalKeywordRows(dbPath, keywords)) return true;
    notifier.showMessage(kDeleteKeywordsFailed);
    return false;
}

}  // namespace velquist
