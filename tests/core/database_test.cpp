#include "core/database.h"

#include <gtest/gtest.h>

#include <fstream>

#include "temp_folder.h"

namespace velquist {
namespace {

using testing::TempFolder;

class DatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(db.open(dir.file("t.db")));
        DbStatement create(db, "CREATE TABLE t (id INTEGER, name TEXT)");
        ASSERT_EQ(create.step(), kSqliteDone);
    }
    int count() { return ReadSingleInt(db, "SELECT COUNT(*) FROM t"); }

    TempFolder dir;
    DbConnection db;
};

TEST_F(DatabaseTest, EmptyMaxReadsZeroAndNullTextReadsEmpty) {
    EXPECT_EQ(ReadSingleInt(db, "SELECT max(id) FROM t"), 0);
    DbStatement insert(db, "INSERT INTO t (id, name) VALUES (?, NULL)");
    insert.bindInt(1, 4);
    ASSERT_EQ(insert.step(), kSqliteDone);
    DbStatement read(db, "SELECT name, id FROM t");
    ASSERT_EQ(read.step(), kSqliteRow);
    EXPECT_EQ(read.columnText(0), "");
    EXPECT_TRUE(read.columnIsNull(0));
    EXPECT_EQ(read.columnInt(1), 4);
}

TEST_F(DatabaseTest, FailedPrepareYieldsNoRowsAndRollsBackAWrite) {
    DbStatement bad(db, "SELEC nonsense");
    EXPECT_FALSE(bad.isPrepared());
    EXPECT_NE(bad.step(), kSqliteRow);
    EXPECT_EQ(ReadSingleInt(bad), 0);

    {
        WriteTransaction tx(db);
        DbStatement good(db, "INSERT INTO t VALUES (1, 'a')");
        ASSERT_TRUE(StepSucceeded(good.step()));
        DbStatement broken(db, "INSERT INTO missing VALUES (1)");
        EXPECT_FALSE(StepSucceeded(broken.step()));
        // going out of scope without commit rolls back
    }
    EXPECT_EQ(count(), 0);
}

TEST_F(DatabaseTest, TextRoundTripsBytesExactly) {
    const std::string texts[] = {"it's; DROP TABLE t;--", "鲜花\"快递\"", "😀 emoji",
                                 std::string(500, 'x'), std::string("nul\0inside", 10)};
    for (const auto& text : texts) {
        DbStatement insert(db, "INSERT INTO t (id, name) VALUES (1, ?)");
        insert.bindText(1, text);
        ASSERT_EQ(insert.step(), kSqliteDone);
        DbStatement read(db, "SELECT name FROM t");
        ASSERT_EQ(read.step(), kSqliteRow);
        EXPECT_EQ(read.columnText(0), text);
        DbStatement clear(db, "DELETE FROM t");
        clear.step();
    }
}

TEST_F(DatabaseTest, CommittedTransactionKeepsRowsAndReprepareSwitchesText) {
    {
        WriteTransaction tx(db);
        ASSERT_TRUE(tx.begun());
        DbStatement s(db, "INSERT INTO t VALUES (1, 'a')");
        ASSERT_EQ(s.step(), kSqliteDone);
        EXPECT_EQ(s.reprepare("INSERT INTO t VALUES (2, 'b')"), kSqliteOk);
        ASSERT_EQ(s.step(), kSqliteDone);
        EXPECT_TRUE(tx.commit());
    }
    EXPECT_EQ(count(), 2);
}

TEST(DbConnection, OpenFailsBelowARegularFile) {
    TempFolder dir;
    { std::ofstream(dir.file("plain")) << "x"; }
    DbConnection db;
    EXPECT_FALSE(db.open(dir.file("plain/sub/x.db")));
    EXPECT_FALSE(db.isOpen());
    DbStatement s(db, "SELECT 1");
    EXPECT_NE(s.step(), kSqliteRow);
}

}  // namespace
}  // namespace velquist
