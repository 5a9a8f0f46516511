#include "core/schema.h"

#include <fmt/format.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "core/database.h"
#include "core/paths.h"
#include "core/text.h"

namespace velquist {

const std::string& BuiltinSchemaScript() {
    static const std::string script =
        "begin;\n"
        "CREATE TABLE [keyword] (\t[id] INTEGER PRIMARY KEY AUTOINCREMENT,\t[keyword] "
        "VARCHAR(1024),"
        "\t[unit] VARCHAR(1024),\t[plan] VARCHAR(1024),\t[time] VARCHAR(64),\t[keywordId] INTEGER,"
        "\t[unitid] INTEGER);\n"
        "CREATE UNIQUE INDEX keywordIndex ON keyword (keyword,unit,plan);\n"
        "CREATE TABLE [seokeyword] (\t[id] INTEGER PRIMARY KEY AUTOINCREMENT,"
        "\t[keyword] VARCHAR(1024),\t[time] VARCHAR(64),\t[keywordId] INTEGER);\n"
        "CREATE UNIQUE INDEX keywordOly ON seokeyword (keyword);\n"
        "CREATE TABLE [app] (\t[appid] INT NOT NULL,\t[version] VARCHAR(64),"
        "\t[updatetime] DATETIME,\t[appname] VARCHAR(100));\n"
        "CREATE TABLE [unit] (\t[id] INTEGER PRIMARY KEY AUTOINCREMENT,\t[unit] VARCHAR(1024),"
        "\t[unitid] INTEGER,\t[planid] INTEGER);\n"
        "CREATE TABLE [plan] (\t[id] INTEGER PRIMARY KEY AUTOINCREMENT,\t[plan] VARCHAR(1024),"
        "\t[planid] INTEGER);\n"
        "CREATE TABLE [seorank] (\t[rankid] INTEGER PRIMARY KEY AUTOINCREMENT,"
        "\t[rank] VARCHAR(1024),\t[rankNum] INTEGER,\t[url] VARCHAR(1024),\t[keywordId] INTEGER);\n"
        "CREATE TABLE [semrank] (\t[rankid] INTEGER PRIMARY KEY AUTOINCREMENT,"
        "\t[rank] VARCHAR(1024),\t[rankNum] INTEGER,\t[url] VARCHAR(1024),\t[keywordId] INTEGER);\n"
        "CREATE TABLE [website] (\t[urlid] INTEGER PRIMARY KEY AUTOINCREMENT,"
        "\t[url] VARCHAR(1024),\t[selected] INTEGER);\n"
        "CREATE TABLE [ZQLaccount] (\t[accname] VARCHAR(64),\t[accpwd] VARCHAR(64),"
        "\t[autologin] INT NOT NULL DEFAULT (0),\t[lasttime] DATETIME,"
        "\tCONSTRAINT [sqlite_autoindex_account_1] PRIMARY KEY ([accname]));\n"
        "commit;\n";
    return script;
}

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type from = 0;
    while (true) {
        const auto at = text.find(separator, from);
        pieces.push_back(
            text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) break;
        from = at + 1;
    }
    return pieces;
}

std::string FilterScriptLines(const std::string& script) {
    static const char* kDropped[] = {"/*", "begin transaction", "commit transaction", "drop table",
                                     "pragma"};
    std::string joined;
    for (const auto& line : Split(script, '\n')) {
        if (line.empty()) continue;
        bool drop = false;
        for (const char* marker : kDropped) drop = drop || line.find(marker) != std::string::npos;
        if (!drop) joined += line;
    }
    std::string clean;
    clean.reserve(joined.size());
    for (const char c : joined)
        if (c != '\r' && c != '\n') clean.push_back(c);
    return clean;
}

// Runs one statement in a write transaction of its own; a failure is rolled back silently.
void RunStatement(DbConnection& db, const std::string& sql) {
    db.execute("BEGIN IMMEDIATE");
    bool failed;
    {
        DbStatement statement(db, sql);
        failed = !StepSucceeded(statement.step());
    }
    db.execute(failed ? "ROLLBACK" : "COMMIT");
}

int CountTables(DbConnection& db, const std::string& table) {
    DbStatement count(db, "SELECT COUNT(*) FROM SQLITE_MASTER WHERE TBL_NAME=? AND TYPE='table'");
    count.bindText(1, table);
    return ReadSingleInt(count);
}

// Adds the columns of a CREATE TABLE statement that the stored table lacks.
bool AddMissingColumns(DbConnection& db, const std::string& statement, const std::string& table) {
    const std::string columnList =
        TextBetween(statement + ";", "CREATE TABLE [" + table + "] (", ");");
    for (const auto& piece : Split(columnList, ',')) {
        const std::string column = TrimWhitespace(piece);
        const std::string name = TextBetween(column, "[", "]");
        DbStatement count(db,
                          "SELECT COUNT(*) FROM SQLITE_MASTER WHERE TBL_NAME=? AND TYPE='table' "
                          "AND SQL LIKE ?");
        count.bindText(1, table);
        count.bindText(2, "%[" + name + "]%");
        if (ReadSingleInt(count) != 0) continue;
        DbStatement alter(db, fmt::format("ALTER TABLE [{0}] ADD {1}", table, column));
        if (!StepSucceeded(alter.step())) return false;
    }
    return true;
}

}  // namespace

bool SyncSchema(const std::string& databasePath, const std::string& script, int mode,
                UserNotifier& notifier) {
    std::string text;
    if (mode == kSchemaFromText) {
        text = script;
    } else if (mode == kSchemaFromFile) {
        std::ifstream file(script, std::ios::binary);
        if (!file) return false;
        std::ostringstream content;
        content << file.rdbuf();
        if (file.bad()) return false;
        text = content.str();
    } else {
        return false;
    }

    const std::string clean = FilterScriptLines(text);
    DbConnection db;
    if (!db.open(databasePath)) {
        notifier.showMessage(kDatabaseOpenFailed, "");
        return false;
    }
    for (const auto& statement : Split(clean, ';')) {
        if (statement.empty()) continue;
        if (statement.find("CREATE TABLE") != std::string::npos) {
            const std::string table = TextBetween(statement, "CREATE TABLE [", "]");
            if (CountTables(db, table) == 0) {
                RunStatement(db, statement);
            } else if (!AddMissingColumns(db, statement, table)) {
                return false;
            }
        } else if (statement.find("CREATE ") != std::string::npos &&
                   statement.find(" INDEX ") != std::string::npos) {
            const std::string index = TextBetween(statement, "INDEX [", "]");
            DbStatement count(db,
                              "SELECT COUNT(*) FROM SQLITE_MASTER WHERE TYPE='index' AND "
                              "NAME=:indexname");
            count.bindText(":indexname", index);
            if (ReadSingleInt(count) == 0) RunStatement(db, statement);
        } else {
            RunStatement(db, statement);
        }
    }
    return true;
}

bool EnsureRankHistoryTables(const std::string& databasePath) {
    DbConnection db;
    return db.open(databasePath) && EnsureRankHistoryTables(db);
}

bool EnsureRankHistoryTables(DbConnection& db) {
    // Keywords are kept by name, so a keyword deleted and added again continues its history and
    // a reused keywordId never inherits another keyword's. Rows are keyed keyword, time, site:
    // one keyword's checks lie together in time order, and a run's append touches one page.
    static const char* const kTables[] = {
        "CREATE TABLE IF NOT EXISTS historykeyword (id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, "
        "keyword TEXT NOT NULL, plan TEXT NOT NULL, unit TEXT NOT NULL, "
        "UNIQUE (kind, keyword, plan, unit))",
        "CREATE TABLE IF NOT EXISTS historysite (id INTEGER PRIMARY KEY, url TEXT NOT NULL UNIQUE)",
        "CREATE TABLE IF NOT EXISTS historyrank (id INTEGER PRIMARY KEY, rank TEXT NOT NULL "
        "UNIQUE)",
        "CREATE TABLE IF NOT EXISTS rankhistory (historyKeywordId INTEGER NOT NULL, "
        "time INTEGER NOT NULL, siteId INTEGER NOT NULL, rankId INTEGER NOT NULL, "
        "rankNum INTEGER NOT NULL, state INTEGER NOT NULL, "
        "PRIMARY KEY (historyKeywordId, time, siteId)) WITHOUT ROWID",
    };
    // Only a database that lacks them takes the write lock, so a start never waits on a run.
    if (ReadSingleInt(db,
                      "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name IN "
                      "('historykeyword','historysite','historyrank','rankhistory')") == 4)
        return true;
    WriteTransaction transaction(db);
    if (!transaction.begun()) return false;
    for (const char* sql : kTables) {
        DbStatement statement(db, sql);
        if (!StepSucceeded(statement.step())) return false;
    }
    return transaction.commit();
}

bool PrepareDatabase(const std::string& dataFolder, const std::string& databaseFolder,
                     const std::string& databasePath, UserNotifier& notifier) {
    EnsureFolder(dataFolder);
    EnsureFolder(databaseFolder);
    // The sync reports a database it cannot open itself; its other failures (a column that
    // could not be added) do not stop the start, the check below decides.
    if (!SyncSchema(databasePath, BuiltinSchemaScript(), kSchemaFromText, notifier)) {
        DbConnection probeOpen;
        if (!probeOpen.open(databasePath)) return false;
    }
    DbConnection db;
    bool usable = db.open(databasePath);
    if (usable) {
        // A file that is not a database opens lazily; reading the catalogue shows it.
        DbStatement probe(db,
                          "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND "
                          "name='seokeyword'");
        usable = probe.step() == kSqliteRow && probe.columnInt(0) == 1;
    }
    if (!usable) {
        notifier.showMessage(kDatabaseOpenFailed, "");
        return false;
    }
    // A database that cannot take the history tables still serves reads; its stores fail then.
    EnsureRankHistoryTables(db);
    return true;
}

}  // namespace velquist
