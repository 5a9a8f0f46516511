#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/file.h>

#include "cli_test_support.h"
#include "tools/search_standin/search_standin.h"

namespace velquist {
namespace {

using testing::CliResult;
using testing::CliRunner;

using testing::Has;

constexpr const char* kWorld = R"({
  "planted_sites": [],
  "keywords": {
    "two pages": {"pages": [10, ["a.cn","b.cn","c.cn","www.mine.com/x"]]},
    "first": {"pages": [["www.mine.com"]], "ads": {"top": ["x.com","y.com","z.com"], "bottom": ["mine.com"]}},
    "slow one": {"pages": [["mine.com"]], "delay_ms": 1500},
    "slow two": {"pages": [["mine.com"]], "delay_ms": 1500},
    "blocked": {"verify": true},
    "flaky": {"pages": [["mine.com"]], "ads": {"right": ["mine.com"]}, "fail_times": 10}
  }
})";

class CliQueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::StandinOptions options;
        options.worldJson = kWorld;
        options.lifetimeSeconds = 120;
        ASSERT_TRUE(server.start(options)) << server.lastError();
        // The vendor's user-agent exchange is refused at once on a closed port.
        cli.globalArgs = {"--search-host", server.host(),    "--ua-host",
                          "127.0.0.1:9",   "--http-timeout", "20"};
    }
    void TearDown() override { server.stop(); }

    standin::SearchStandin server;
    CliRunner cli;
};

TEST_F(CliQueryTest, RefusalsBeforeARunStarts) {
    struct Case {
        std::vector<std::string> setup;
        std::vector<std::string> query;
        const char* message;
    };
    CliResult r = cli.run({"query", "natural", "--all"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "请添加推广网址")) << r.err;
    cli.run({"sites", "add", "www.mine.com"});
    cli.run({"sites", "disable", "1"});
    r = cli.run({"query", "natural", "--all"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "请选择推广网址")) << r.err;
    cli.run({"sites", "enable", "1"});
    for (const char* kind : {"natural", "paid"}) {
        r = cli.run({"query", kind, "--all"});
        EXPECT_EQ(r.exitCode, 1) << kind;
        EXPECT_TRUE(Has(r.err, "请先选择关键词")) << kind << r.err;
    }
    r = cli.run({"query", "natural", "never added"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "not a stored keyword")) << r.err;
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(CliQueryTest, NaturalAndPaidRunsFindThePlantedRanksAndStoreThem) {
    cli.run({"sites", "add", "www.mine.com"});
    cli.run({"sites", "add", "absent.cn"});
    cli.run({"keywords", "add", "two pages", "first"});
    cli.run({"keywords", "add", "--paid", "--plan", "P", "--unit", "U", "first"});

    CliResult r = cli.run({"query", "natural", "--pages", "3", "--all"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "two pages  absent.cn: 无  www.mine.com: 第14名，第2页")) << r.out;
    EXPECT_TRUE(Has(r.out, "当前选中 [2] 词，正在查询 [2] 词，查询完成 [2] 词，剩余 [0] 词"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "查询完毕！"));
    // absent.cn is on no page, so both keywords are read up to the three pages asked for.
    EXPECT_EQ(server.requestCountFor("two pages"), 3);
    EXPECT_EQ(server.requestCountFor("first"), 3);
    EXPECT_EQ(server.requestCountFor("first", 4), 0);

    r = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_TRUE(Has(r.out, "\ttwo pages\t")) << r.out;
    EXPECT_TRUE(Has(r.out, "\t无\t第14名，第2页\n")) << r.out;

    r = cli.run({"--format", "json", "query", "paid", "--plan", "P"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\"www.mine.com\" : \"左4\"")) << r.out;
    EXPECT_TRUE(Has(r.err, "查询完毕！")) << r.err;  // stdout carries only the data
}

TEST_F(CliQueryTest, CtrlCStopsTheRunAndKeepsWhatWasFound) {
    cli.run({"sites", "add", "mine.com"});
    cli.run({"keywords", "add", "slow one", "slow two", "first", "two pages", "x1", "x2", "x3"});
    // Ctrl-C once "first" is done: the two slow keywords are still being fetched then.
    const CliResult r =
        cli.run({"query", "natural", "--pages", "1", "--all"}, "", "first  mine.com: 第1名，第1页");
    EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "当前查询已停止！")) << r.out;
    // Five keywords were taken; none was taken after the stop.
    EXPECT_LE(server.requestCount(), 5);
    EXPECT_EQ(server.requestCountFor("x3"), 0);
    const CliResult list = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_TRUE(Has(list.out, "\tslow one\t20")) << list.out;  // queried: it has a time
    EXPECT_TRUE(Has(list.out, "\tslow two\t20")) << list.out;
    EXPECT_TRUE(Has(list.out, "\tx3\t\t")) << list.out;  // never queried
}

// A check that could not be finished is "查询失败", counted in the last line and in the exit
// code; --failed then checks those keywords again and keeps everyone else's results.
TEST_F(CliQueryTest, FailedChecksAreShownCountedAndRecheckedAlone) {
    cli.run({"sites", "add", "mine.com"});
    cli.run({"keywords", "add", "first", "blocked", "flaky"});
    CliResult r = cli.run({"query", "natural", "--pages", "1", "--all"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "blocked  mine.com: 查询失败\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "flaky  mine.com: 查询失败\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "first  mine.com: 第1名，第1页\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "查询完毕！")) << r.out;
    EXPECT_TRUE(r.out.ends_with("查询失败 [2] 词，未保存 [0] 词\n")) << r.out;
    EXPECT_EQ(server.requestCountFor("blocked"), 1);
    EXPECT_EQ(server.requestCountFor("flaky"), 10);

    r = cli.run({"query", "natural", "--failed"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;  // "blocked" fails again
    EXPECT_TRUE(Has(r.out, "flaky  mine.com: 第1名，第1页\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "first  mine.com")) << r.out;
    EXPECT_TRUE(Has(r.out, "当前选中 [2] 词")) << r.out;
    EXPECT_EQ(server.requestCountFor("first"), 1);
    EXPECT_EQ(server.requestCountFor("blocked"), 2);
    r = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_TRUE(Has(r.out, "\tfirst\t20")) << r.out;  // its result was kept
    EXPECT_TRUE(Has(r.out, "\t第1名，第1页\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "\t查询失败\n")) << r.out;

    // Paid runs count the same way; with nothing failed, --failed has nothing to do.
    cli.run({"keywords", "add", "--paid", "--plan", "P", "--unit", "U", "first", "blocked"});
    r = cli.run({"query", "paid", "--all"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "blocked [P / U]  mine.com: 查询失败")) << r.out;
    cli.run({"keywords", "delete", "--paid", "--plan", "P", "--unit", "U", "blocked"});
    r = cli.run({"query", "paid", "--failed"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "没有查询失败的关键词")) << r.out;
    EXPECT_EQ(cli.run({"query", "paid", "--failed", "--all"}).exitCode, 2);
}

TEST_F(CliQueryTest, ResultsThatCouldNotBeStoredAreNotPassedOffAsDone) {
    cli.run({"sites", "add", "mine.com"});
    cli.run({"keywords", "add", "first", "two pages"});
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((cli.dataDir + "/database/main_360.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TRIGGER refuse BEFORE INSERT ON seorank WHEN "
                               "NEW.rank LIKE '第1名%' BEGIN SELECT RAISE(ABORT, 'full'); END",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const CliResult r = cli.run({"query", "natural", "--pages", "1", "--all"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "first  mine.com: 第1名，第1页（未保存）\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "two pages  mine.com: 无\n")) << r.out;
    EXPECT_TRUE(r.out.ends_with("查询失败 [0] 词，未保存 [1] 词\n")) << r.out;
}

TEST_F(CliQueryTest, ASecondRunOfTheSameKindElsewhereIsRefused) {
    cli.run({"sites", "add", "mine.com"});
    cli.run({"keywords", "add", "first"});
    cli.run({"keywords", "add", "--paid", "--plan", "P", "--unit", "U", "first"});
    cli.run({"query", "natural", "--pages", "1", "--all"});
    // Another copy holds the natural run's lock.
    const std::string lockPath = cli.dataDir + "/natural_query.lock";
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    CliResult r = cli.run({"query", "natural", "--all"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "正在查排名，请稍后再试。")) << r.err;
    EXPECT_EQ(server.requestCountFor("first"), 1);
    r = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_TRUE(Has(r.out, "\t第1名，第1页\n")) << r.out;  // the holder's results are untouched
    EXPECT_EQ(cli.run({"query", "paid", "--all"}).exitCode, 0);  // the other kind may run
    close(fd);
    EXPECT_EQ(cli.run({"query", "natural", "--all"}).exitCode, 0);
}

}  // namespace
}  // namespace velquist
