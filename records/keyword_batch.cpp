#include "records/keyword_batch.h"

#include <sqlite3.h>

#include <algorithm>

namespace velquist::records_detail {

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

int CountNonBlank(const std::vector<std::string>& texts) {
    return static_cast<int>(std::count_if(texts.begin(), texts.end(),
                                          [](const std::string& t) { return !IsBlank(t); }));
}

InsertResult StepInsert(DbConnection& db, DbStatement& insert) {
    const int rc = insert.step();
    // Read before the reset, which would replace the connection's error state.
    const int extended = sqlite3_extended_errcode(db.handle());
    insert.reset();
    if (StepSucceeded(rc)) return InsertResult::Inserted;
    if (rc == kSqliteConstraint && extended == SQLITE_CONSTRAINT_UNIQUE)
        return InsertResult::Duplicate;
    return InsertResult::Failed;
}

bool StepAndReset(DbStatement& statement) {
    const int rc = statement.step();
    statement.reset();
    return StepSucceeded(rc);
}

}  // namespace velquist::records_detail
