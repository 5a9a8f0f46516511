#include "core/schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <set>

#include "core/database.h"
#include "recording_notifier.h"
#include "temp_folder.h"

namespace velquist {
namespace {

using testing::RecordingNotifier;
using testing::TempFolder;

std::set<std::string> Names(const std::string& db, const char* type) {
    DbConnection c(db);
    DbStatement s(c, std::string("SELECT name FROM sqlite_master WHERE type='") + type + "'");
    std::set<std::string> names;
    while (s.step() == kSqliteRow) names.insert(s.columnText(0));
    return names;
}

std::string TableSql(const std::string& db, const std::string& table) {
    DbConnection c(db);
    DbStatement s(c, "SELECT sql FROM sqlite_master WHERE type='table' AND name=?");
    s.bindText(1, table);
    return s.step() == kSqliteRow ? s.columnText(0) : std::string();
}

std::string Dump(const std::string& db) {
    DbConnection c(db);
    DbStatement s(c, "SELECT type||name||coalesce(sql,'') FROM sqlite_master ORDER BY name");
    std::string all;
    while (s.step() == kSqliteRow) all += s.columnText(0) + "\n";
    return all;
}

TEST(SchemaSync, NewDatabaseGetsAllTablesAndIndexesAndASecondRunChangesNothing) {
    TempFolder dir;
    RecordingNotifier notifier;
    const auto db = dir.file("main_360.db");
    ASSERT_TRUE(SyncSchema(db, BuiltinSchemaScript(), kSchemaFromText, notifier));
    const std::set<std::string> tables = {"keyword", "seokeyword", "app",     "unit",      "plan",
                                          "seorank", "semrank",    "website", "ZQLaccount"};
    auto found = Names(db, "table");
    found.erase("sqlite_sequence");
    EXPECT_EQ(found, tables);
    const auto indexes = Names(db, "index");
    EXPECT_TRUE(indexes.count("keywordIndex"));
    EXPECT_TRUE(indexes.count("keywordOly"));

    const std::string before = Dump(db);
    ASSERT_TRUE(SyncSchema(db, BuiltinSchemaScript(), kSchemaFromText, notifier));
    EXPECT_EQ(Dump(db), before);
    EXPECT_TRUE(notifier.messages.empty());
}

TEST(SchemaSync, AddsAMissingColumnToAnOlderTable) {
    TempFolder dir;
    RecordingNotifier notifier;
    const auto db = dir.file("old.db");
    {
        DbConnection c(db);
        DbStatement s(c,
                      "CREATE TABLE [seokeyword] ([id] INTEGER PRIMARY KEY AUTOINCREMENT, "
                      "[keyword] VARCHAR(1024), [keywordId] INTEGER)");
        ASSERT_EQ(s.step(), kSqliteDone);
        DbStatement ins(c, "INSERT INTO seokeyword (keyword,keywordId) VALUES ('kept',1)");
        ASSERT_EQ(ins.step(), kSqliteDone);
    }
    ASSERT_TRUE(SyncSchema(db, BuiltinSchemaScript(), kSchemaFromText, notifier));
    EXPECT_NE(TableSql(db, "seokeyword").find("[time] VARCHAR(64)"), std::string::npos);
    DbConnection c(db);
    DbStatement s(c, "SELECT keyword, time FROM seokeyword");
    ASSERT_EQ(s.step(), kSqliteRow);
    EXPECT_EQ(s.columnText(0), "kept");
    EXPECT_TRUE(s.columnIsNull(1));
}

TEST(SchemaSync, ColumnNamedLikeItsTableAlwaysCountsAsPresent) {
    // The LIKE test finds "[unit]" in the table's own name, so a unit table lacking its unit
    // column never gains it; kept because stored databases were synchronised this way.
    TempFolder dir;
    RecordingNotifier notifier;
    const auto db = dir.file("quirk.db");
    {
        DbConnection c(db);
        DbStatement s(c, "CREATE TABLE [unit] ([id] INTEGER PRIMARY KEY AUTOINCREMENT)");
        ASSERT_EQ(s.step(), kSqliteDone);
    }
    ASSERT_TRUE(SyncSchema(db, BuiltinSchemaScript(), kSchemaFromText, notifier));
    const auto sql = TableSql(db, "unit");
    EXPECT_EQ(sql.find("VARCHAR"), std::string::npos);
    EXPECT_NE(sql.find("[unitid] INTEGER"), std::string::npos);
    EXPECT_NE(sql.find("[planid] INTEGER"), std::string::npos);
}

TEST(SchemaSync, FilteredLinesNeverReachTheDatabaseAndBadModesFail) {
    TempFolder dir;
    RecordingNotifier notifier;
    const auto db = dir.file("f.db");
    const auto script = dir.file("script.sql");
    {
        std::ofstream out(script);
        out << "CREATE TABLE [a] ([x] INTEGER);\n"
               "drop table a;\n"
               "pragma user_version=7;\n"
               "/* comment */ CREATE TABLE [b] ([y] INTEGER);\n"
               "CREATE TABLE [c] ([z] INTEGER);\n";
    }
    ASSERT_TRUE(SyncSchema(db, script, kSchemaFromFile, notifier));
    const auto tables = Names(db, "table");
    EXPECT_TRUE(tables.count("a"));
    EXPECT_FALSE(tables.count("b"));
    EXPECT_TRUE(tables.count("c"));
    DbConnection c(db);
    EXPECT_EQ(ReadSingleInt(c, "PRAGMA user_version"), 0);

    EXPECT_FALSE(SyncSchema(db, dir.file("missing.sql"), kSchemaFromFile, notifier));
    EXPECT_FALSE(SyncSchema(db, BuiltinSchemaScript(), 3, notifier));
}

TEST(SchemaSync, FailedColumnAddStopsTheSync) {
    TempFolder dir;
    RecordingNotifier notifier;
    const auto db = dir.file("stop.db");
    {
        DbConnection c(db);
        DbStatement s(c, "CREATE TABLE [t] ([a] INTEGER)");
        ASSERT_EQ(s.step(), kSqliteDone);
    }
    // A PRIMARY KEY column cannot be added by ALTER TABLE.
    const std::string script =
        "CREATE TABLE [t] ([a] INTEGER,\t[b] INTEGER PRIMARY KEY);\nCREATE TABLE [later] ([x] "
        "INT);";
    EXPECT_FALSE(SyncSchema(db, script, kSchemaFromText, notifier));
    EXPECT_FALSE(Names(db, "table").count("later"));
}

TEST(PrepareDatabase, UnopenableDatabaseReportsTheMessageOnce) {
    TempFolder dir;
    {
        std::ofstream blocker(dir.file("file"));
        blocker << "x";
    }
    struct Case {
        std::string data;
        std::string dbFolder;
        std::string dbPath;
    };
    // A data folder below a regular file cannot be made; a database file full of junk opens
    // lazily but cannot be read.
    const std::string junkFolder = dir.file("junk");
    std::filesystem::create_directories(junkFolder + "/database");
    {
        std::ofstream junk(junkFolder + "/database/main_360.db");
        junk << std::string(4096, 'j');
    }
    const Case cases[] = {
        {dir.file("file/Velquist"), dir.file("file/Velquist/database"),
         dir.file("file/Velquist/database/main_360.db")},
        {junkFolder, junkFolder + "/database", junkFolder + "/database/main_360.db"},
    };
    for (const auto& c : cases) {
        RecordingNotifier notifier;
        EXPECT_FALSE(PrepareDatabase(c.data, c.dbFolder, c.dbPath, notifier)) << c.data;
        ASSERT_EQ(notifier.messages.size(), 1u) << c.data;
        EXPECT_EQ(notifier.messages[0], kDatabaseOpenFailed);
    }
}

TEST(PrepareDatabase, CreatesFoldersAndDatabase) {
    TempFolder dir;
    RecordingNotifier notifier;
    const auto data = dir.file("docs/Velquist");
    ASSERT_TRUE(
        PrepareDatabase(data, data + "/database", data + "/database/main_360.db", notifier));
    EXPECT_TRUE(std::filesystem::exists(data + "/database/main_360.db"));
    EXPECT_TRUE(notifier.messages.empty());
}

}  // namespace
}  // namespace velquist
