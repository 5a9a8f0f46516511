#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>

#include "cli_test_support.h"
#include "tools/search_standin/search_standin.h"

namespace velquist {
namespace {

using namespace std::string_literals;
using testing::CliResult;
using testing::CliRunner;
using testing::Has;

namespace fs = std::filesystem;

Json::Value JsonRows(const CliResult& r) {
    Json::Value rows;
    EXPECT_TRUE(Json::Reader().parse(r.out, rows)) << r.out;
    return rows;
}

TEST(CliEdges, BadGlobalOptionsAreUsageErrorsAndTouchNothing) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--data-dir", "", "sites", "add", "www.abc.com"}, "--data-dir"},
        {{"--data-dir=", "settings", "pages", "3"}, "--data-dir"},
        {{"--http-timeout", "5abc", "settings", "pages", "3"}, "--http-timeout"},
        {{"--http-timeout", "99999999999", "settings", "pages", "3"}, "--http-timeout"},
        {{"--http-timeout", "4294967301", "settings", "pages", "3"}, "--http-timeout"},
        {{"--http-timeout", "0", "keywords", "add", "x"}, "--http-timeout"},
        {{"--http-timeout=3601", "keywords", "add", "x"}, "--http-timeout"},
        {{"--http-timeout", "-1", "keywords", "add", "x"}, "--http-timeout"},
    };
    for (const auto& c : cases) {
        CliRunner cli;
        const std::string home = cli.folder() + "/home";
        fs::create_directories(home);
        cli.environment = {{"HOME", home}, {"XDG_CONFIG_HOME", std::nullopt}};
        const std::string dataDir = cli.dataDir;
        // A case that names its own data folder gets none from the runner.
        if (c.args[0].rfind("--data-dir", 0) == 0) cli.dataDir.clear();
        const CliResult r = cli.run(c.args);
        const std::string what = c.args[0] + " " + c.args[1];
        EXPECT_EQ(r.exitCode, 2) << what << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << what << "\n" << r.err;
        EXPECT_TRUE(fs::is_empty(home)) << what;  // the real data folder is left alone
        EXPECT_FALSE(fs::exists(dataDir)) << what;
    }
    CliRunner cli;
    cli.globalArgs = {"--http-timeout", "3600"};
    EXPECT_EQ(cli.run({"settings", "pages"}).exitCode, 0);
}

TEST(CliEdges, FailedSettingsWriteIsReported) {
    CliRunner folderInTheWay;
    fs::create_directories(folderInTheWay.dataDir + "/RankSettings.ini");
    CliRunner unwritable;
    unwritable.dataDir = "/proc";  // not writable even by root
    for (const CliRunner* cli : {&folderInTheWay, &unwritable}) {
        const CliResult r = cli->run({"settings", "pages", "3"});
        EXPECT_EQ(r.exitCode, 1) << cli->dataDir << "\n" << r.out;
        EXPECT_TRUE(Has(r.err, "could not write the settings file")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_TRUE(fs::is_directory(folderInTheWay.dataDir + "/RankSettings.ini"));
    EXPECT_TRUE(fs::is_empty(folderInTheWay.dataDir + "/RankSettings.ini"));
}

TEST(CliEdges, TextThatIsNotUtf8RefusesTheWholeBatch) {
    CliRunner cli;
    ASSERT_EQ(cli.run({"sites", "add", "www.abc.com"}).exitCode, 0);
    struct Case {
        std::vector<std::string> args;
        std::string input;
        const char* message;
    };
    const Case cases[] = {
        {{"keywords", "add", "good", "bad\xff"}, "", "keyword 2 is not valid UTF-8 text"},
        {{"keywords", "add", "-"}, "ok\n\xc3\x28\nlater\n", "input line 2 is not valid UTF-8 text"},
        {{"keywords", "add", "-"}, "ok\r\n\nnul\0here\n"s, "input line 3 holds a NUL byte"},
        {{"keywords", "add", "--paid", "-"},
         "a\n\xed\xa0\x80\n",  // an encoded UTF-16 surrogate
         "input line 2 is not valid UTF-8 text"},
        {{"keywords", "add", "--paid", "--plan", "\xff\xfe", "x"}, "", "--plan"},
        {{"keywords", "add", "--paid", "--unit", "\xe4\xb8", "x"}, "", "--unit"},
        {{"sites", "add", "www.\xe4\xb8.com"}, "", "address 1 is not valid UTF-8 text"},
        {{"sites", "modify", "1", "www.\xff.com"}, "", "address 2 is not valid UTF-8 text"},
    };
    for (const auto& c : cases) {
        const CliResult r = cli.run(c.args, c.input);
        const std::string what = c.args[0] + " " + c.args[1] + " " + c.args.back();
        EXPECT_EQ(r.exitCode, 1) << what << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << what << "\n" << r.err;
    }
    EXPECT_EQ(JsonRows(cli.run({"--format", "json", "keywords", "list"})).size(), 0u);
    EXPECT_EQ(JsonRows(cli.run({"--format", "json", "keywords", "list", "--paid"})).size(), 0u);
    EXPECT_EQ(JsonRows(cli.run({"--format", "json", "tree"})).size(), 0u);
    const Json::Value sites = JsonRows(cli.run({"--format", "json", "sites", "list"}));
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0]["url"].asString(), "www.abc.com");
}

constexpr const char* kWorld = R"({
  "planted_sites": [],
  "keywords": {"-dash": {"pages": [["www.mine.com"]]}}
})";

TEST(CliEdges, DoubleDashEndsTheOptions) {
    standin::SearchStandin server;
    standin::StandinOptions options;
    options.worldJson = kWorld;
    options.lifetimeSeconds = 120;
    ASSERT_TRUE(server.start(options)) << server.lastError();
    CliRunner cli;
    cli.globalArgs = {"--search-host", server.host(), "--ua-host", "127.0.0.1:9"};

    ASSERT_EQ(cli.run({"sites", "add", "www.mine.com"}).exitCode, 0);
    CliResult r = cli.run({"keywords", "add", "--", "-dash", "--paid", "--help"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = cli.run({"keywords", "add", "--paid", "--plan", "P", "--", "-p"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = cli.run({"--format", "tsv", "keywords", "list"});
    for (const char* keyword : {"\t-dash\t", "\t--paid\t", "\t--help\t"})
        EXPECT_TRUE(Has(r.out, keyword)) << keyword << "\n" << r.out;
    EXPECT_TRUE(Has(cli.run({"--format", "tsv", "keywords", "list", "--paid"}).out, "\t-p\tP\t"));

    r = cli.run({"query", "natural", "--pages", "1", "--", "-dash"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "-dash  www.mine.com: 第1名，第1页")) << r.out;
    EXPECT_EQ(server.requestCountFor("-dash"), 1);

    EXPECT_EQ(cli.run({"keywords", "delete", "--", "-dash", "--paid"}).exitCode, 0);
    EXPECT_EQ(cli.run({"keywords", "delete", "--paid", "--plan", "P", "--", "-p"}).exitCode, 0);
    r = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_FALSE(Has(r.out, "-dash")) << r.out;
    EXPECT_FALSE(Has(r.out, "\t--paid\t")) << r.out;
    EXPECT_TRUE(Has(r.out, "\t--help\t")) << r.out;
    EXPECT_FALSE(Has(cli.run({"--format", "tsv", "keywords", "list", "--paid"}).out, "\t-p\t"));
    server.stop();
}

}  // namespace
}  // namespace velquist
