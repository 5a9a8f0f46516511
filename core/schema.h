#pragma once

#include <string>

#include "core/user_notifier.h"

namespace velquist {

class DbConnection;

// The built-in schema script: "begin;", the CREATE statements with bracketed names, "commit;".
const std::string& BuiltinSchemaScript();

inline constexpr int kSchemaFromText = 1;
inline constexpr int kSchemaFromFile = 2;

// Brings the database at `databasePath` up to the script: creates missing tables and indexes,
// adds columns an existing table lacks, never drops or changes anything. `mode` 1 takes
// `script` as the text, 2 as the path of a file holding it. False when the database cannot be
// opened ("数据库打开失败！" is shown), the file cannot be read, or adding a column failed.
bool SyncSchema(const std::string& databasePath, const std::string& script, int mode,
                UserNotifier& notifier);

// The start-up sequence for the database: data and database folders, schema sync, and a check
// that the database opens and can be read. On failure "数据库打开失败！" has reached `notifier`.
bool PrepareDatabase(const std::string& dataFolder, const std::string& databaseFolder,
                     const std::string& databasePath, UserNotifier& notifier);

// Creates the rank history tables (records/rank_history.h) when they are missing. They live
// beside the product's tables, outside its script, so the sync never sees them; PrepareDatabase
// runs this after the sync. False when they could not be created (e.g. a read-only folder).
bool EnsureRankHistoryTables(const std::string& databasePath);
// The same on a connection the caller has open.
bool EnsureRankHistoryTables(DbConnection& db);

inline constexpr const char* kDatabaseOpenFailed = "数据库打开失败！";

}  // namespace velquist
