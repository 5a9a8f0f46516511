#include <gtest/gtest.h>

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
    "slow two": {"pages": [["mine.com"]], "delay_ms": 1500}
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

}  // namespace
}  // namespace velquist
