#pragma once

// Helpers of the keyword adds and deletes; not part of the records interface.

#include <string>
#include <string_view>
#include <vector>

#include "core/database.h"

namespace velquist::records_detail {

bool IsBlank(std::string_view text);
int CountNonBlank(const std::vector<std::string>& texts);

enum class InsertResult { Inserted, Duplicate, Failed };

// Steps and resets a bound insert. Only a unique-index violation is a duplicate; any other
// failure, a trigger's or a check's included, fails the batch.
InsertResult StepInsert(DbConnection& db, DbStatement& insert);

// Steps and resets a write statement; true on success.
bool StepAndReset(DbStatement& statement);

}  // namespace velquist::records_detail
