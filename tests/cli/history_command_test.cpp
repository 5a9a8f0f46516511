#include <gtest/gtest.h>
#include <json/json.h>

#include <ctime>
#include <sstream>

#include "cli_test_support.h"
#include "tools/search_standin/search_standin.h"

namespace velquist {
namespace {

using testing::CliResult;
using testing::CliRunner;
using testing::Has;

// Two days of the engine: "rise" climbs, "found" appears, "lost" disappears, "same" stays.
constexpr const char* kFirstWorld = R"({"planted_sites": [], "keywords": {
  "rise": {"pages": [["a.cn","b.cn","c.cn","d.cn","www.mine.com/x"]],
           "ads": {"top": ["x.com","y.com","z.com"], "bottom": ["mine.com"]}},
  "found": {"pages": [["a.cn"]]},
  "lost": {"pages": [["www.mine.com"]]},
  "same": {"pages": [["b.cn","www.mine.com"]]}}})";
constexpr const char* kSecondWorld = R"({"planted_sites": [], "keywords": {
  "rise": {"pages": [["www.mine.com/x"]], "ads": {"top": ["mine.com"]}},
  "found": {"pages": [["x.cn","y.cn","www.mine.com"]]},
  "lost": {"pages": [["a.cn"]]},
  "same": {"pages": [["b.cn","www.mine.com"]]}}})";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Tomorrow() {
    const std::time_t t = std::time(nullptr) + 24 * 3600;
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

class CliHistoryTest : public ::testing::Test {
  protected:
    // Runs the natural and the paid query of every keyword against a stand-in with `world`.
    void runQueries(const char* world) {
        standin::SearchStandin server;
        standin::StandinOptions options;
        options.worldJson = world;
        options.lifetimeSeconds = 120;
        ASSERT_TRUE(server.start(options)) << server.lastError();
        cli.globalArgs = {"--search-host", server.host(),    "--ua-host",
                          "127.0.0.1:9",   "--http-timeout", "20"};
        CliResult r = cli.run({"query", "natural", "--pages", "1", "--all"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        r = cli.run({"query", "paid", "--all"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        server.stop();
        cli.globalArgs.clear();
    }

    CliRunner cli;
};

TEST_F(CliHistoryTest, TwoRunsGiveSeriesChangesAndPruneInEveryFormat) {
    cli.run({"sites", "add", "www.mine.com"});
    cli.run({"sites", "add", "absent.cn"});
    cli.run({"keywords", "add", "rise", "found", "lost", "same"});
    cli.run({"keywords", "add", "--paid", "--plan", "P", "--unit", "U", "rise"});
    runQueries(kFirstWorld);
    runQueries(kSecondWorld);

    // Newly found first, newly lost last; unchanged sites are left out.
    CliResult r = cli.run({"history", "changes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_TRUE(Has(lines[0], "原排名")) << lines[0];
    EXPECT_TRUE(Has(lines[1], "found") && Has(lines[1], "无") && Has(lines[1], "第3名，第1页") &&
                Has(lines[1], "新上榜"))
        << lines[1];
    EXPECT_TRUE(Has(lines[2], "rise") && Has(lines[2], "第5名，第1页") &&
                Has(lines[2], "第1名，第1页") && Has(lines[2], "↑4"))
        << lines[2];
    EXPECT_TRUE(Has(lines[3], "lost") && Has(lines[3], "掉出")) << lines[3];

    r = cli.run({"--format", "json", "history", "changes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Json::Value changes;
    ASSERT_TRUE(Json::Reader().parse(r.out, changes)) << r.out;
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0]["keyword"].asString(), "found");
    EXPECT_EQ(changes[0]["site"].asString(), "www.mine.com");
    EXPECT_EQ(changes[0]["oldRank"].asString(), "无");
    EXPECT_EQ(changes[0]["newRank"].asString(), "第3名，第1页");
    EXPECT_EQ(changes[0]["change"].asString(), "新上榜");
    EXPECT_LT(changes[0]["oldTime"].asString(), changes[0]["newTime"].asString());
    EXPECT_FALSE(changes[0].isMember("plan"));

    r = cli.run({"--format", "tsv", "history", "changes", "--paid"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0],
              "关键词\t推广计划\t推广单元\t网址\t原排名\t新排名\t变化\t原查询时间\t新查询时间");
    EXPECT_EQ(lines[1].rfind("rise\tP\tU\twww.mine.com\t左4\t左1\t↑3\t", 0), 0u) << lines[1];

    // The series: each site's checks in time order; the last one is the live result's time.
    r = cli.run({"--format", "tsv", "history", "rise"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "关键词\t网址\t查询时间\t排名");
    EXPECT_TRUE(Has(lines[1], "rise\tabsent.cn\t") && Has(lines[1], "\t无")) << lines[1];
    EXPECT_TRUE(Has(lines[3], "rise\twww.mine.com\t") && Has(lines[3], "\t第5名，第1页"));
    EXPECT_TRUE(Has(lines[4], "rise\twww.mine.com\t") && Has(lines[4], "\t第1名，第1页"));
    const std::string lastTime = lines[4].substr(18, 19);
    const CliResult live = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_TRUE(Has(live.out, "\trise\t" + lastTime + "\t")) << live.out << lastTime;

    r = cli.run({"--format", "json", "history", "--site", "1", "rise", "lost"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Json::Value series;
    ASSERT_TRUE(Json::Reader().parse(r.out, series)) << r.out;
    ASSERT_EQ(series.size(), 2u) << r.out;
    EXPECT_EQ(series[0]["keyword"].asString(), "rise");
    EXPECT_EQ(series[1]["keyword"].asString(), "lost");
    for (const auto& entry : series) {
        EXPECT_EQ(entry["site"].asString(), "www.mine.com");
        ASSERT_EQ(entry["series"].size(), 2u);
        EXPECT_EQ(entry["series"][0]["time"].asString().size(), 19u);
    }
    EXPECT_EQ(series[1]["series"][0]["rank"].asString(), "第1名，第1页");
    EXPECT_EQ(series[1]["series"][1]["rank"].asString(), "无");

    r = cli.run({"history", "--paid", "rise"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0], "rise [P / U]");
    EXPECT_TRUE(Has(lines[4], "www.mine.com") && Has(lines[4], "左4")) << r.out;
    EXPECT_TRUE(Has(lines[5], "www.mine.com") && Has(lines[5], "左1")) << r.out;

    // Nothing is checked tomorrow.
    r = cli.run({"history", "--since", Tomorrow()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = cli.run({"--format", "json", "history", "changes", "--since", Tomorrow()});
    EXPECT_EQ(r.out, "[]\n");

    // Pruning everything leaves the live results alone.
    r = cli.run({"history", "prune", "--before", Tomorrow()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "removed 20 history rows")) << r.out;
    r = cli.run({"history", "rise"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "no history for keyword rise")) << r.err;
    EXPECT_TRUE(Has(cli.run({"--format", "tsv", "keywords", "list"}).out, "\t第1名，第1页"));
}

TEST_F(CliHistoryTest, RefusalsAndUsageErrors) {
    cli.run({"sites", "add", "www.mine.com"});
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* err;
    };
    const Case cases[] = {
        {{"history", "nosuch"}, 1, "no history for keyword nosuch"},
        {{"history", "--site", "other.com"}, 1, "no site other.com"},
        {{"history", "--site", "7"}, 1, "no site 7"},
        {{"history", "--since", "2026-02-30"}, 2, "--since takes YYYY-MM-DD"},
        {{"history", "--since"}, 2, "usage: velquist history"},
        {{"history", "prune"}, 2, "usage: velquist history"},
        {{"history", "prune", "--before", "yesterday"}, 2, "--before takes YYYY-MM-DD"},
        {{"history", "prune", "--before", "2026-01-01", "--paid"}, 2, "usage: velquist history"},
        {{"history", "changes", "rise"}, 2, "usage: velquist history"},
        {{"history", "--before", "2026-01-01"}, 2, "usage: velquist history"},
        {{"history", "--bogus"}, 2, "usage: velquist history"},
        {{"history", std::string("bad\xff")}, 1, "keyword 1 is not valid UTF-8 text"},
    };
    for (const auto& c : cases) {
        const CliResult r = cli.run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back() << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.err)) << c.args.back() << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args.back();
    }
    // A listed site without checks yet is no refusal: it simply has no series.
    const CliResult r = cli.run({"history", "--site", "www.mine.com"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(cli.run({"history", "--help"}).exitCode, 0);
}

}  // namespace
}  // namespace velquist
