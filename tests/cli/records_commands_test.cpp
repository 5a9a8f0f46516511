#include <gtest/gtest.h>
#include <json/json.h>

#include "cli_test_support.h"

namespace velquist {
namespace {

using testing::CliResult;
using testing::CliRunner;

using testing::Has;

TEST(CliSites, AddCheckEditAndRemove) {
    CliRunner cli;
    struct Step {
        std::vector<std::string> args;
        int exitCode;
        std::string out;  // expected in stdout
        std::string err;  // expected in stderr
    };
    const Step steps[] = {
        {{"sites", "add", "Http://www.abc.com"}, 0, "添加成功！", ""},
        {{"sites", "add", "shop.example.cn/path"}, 0, "添加成功！", ""},
        {{"sites", "add", "localhost"}, 1, "", "您输入的 【 localhost 】 不是正确的网址 ！"},
        {{"sites", "add", "www.abc.com"}, 1, "", "您输入的 【 www.abc.com 】 已经存在表中 ！"},
        {{"sites", "add", "   "}, 1, "", "网址为空，请输入正确的网址！"},
        {{"sites", "add", "EXAMPLE.CN"}, 1, "", "不是正确的网址"},
        {{"sites", "disable", "2"}, 0, "", ""},
        {{"sites", "modify", "www.abc.com", "http://www.abc.net"}, 0, "", ""},
        {{"sites", "remove", "nosuch.com"}, 1, "", "no site nosuch.com"},
        {{"--format", "tsv", "sites", "list"},
         0,
         "序号\t推广网址\t网址状态\n1\twww.abc.net\t已启用\n2\tshop.example.cn/path\t已停用\n",
         ""},
        {{"sites", "remove", "1"}, 0, "", ""},
        {{"--format", "tsv", "sites", "list"}, 0, "1\tshop.example.cn/path\t已停用\n", ""},
    };
    for (const auto& step : steps) {
        const CliResult r = cli.run(step.args);
        const std::string what = step.args[0] + " " + step.args[1];
        EXPECT_EQ(r.exitCode, step.exitCode) << what << "\n" << r.err;
        EXPECT_TRUE(Has(r.out, step.out)) << what << "\nstdout: " << r.out;
        EXPECT_TRUE(Has(r.err, step.err)) << what << "\nstderr: " << r.err;
    }
}

TEST(CliKeywords, NaturalAddFromStdinListAndDelete) {
    CliRunner cli;
    const std::string tricky = "it's; DROP TABLE seokeyword;-- 😀";
    const std::string longKeyword(500, 'k');
    CliResult r = cli.run({"keywords", "add", "-"},
                          "鲜花\n\n   \n" + tricky + "\r\n鲜花\n" + longKeyword + "\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "您添加的内容包含已有的或重复的项，其余项已添加完毕")) << r.out;

    r = cli.run({"keywords", "add", "玫瑰"});
    EXPECT_TRUE(Has(r.out, "添加完毕")) << r.out;

    r = cli.run({"--format", "json", "keywords", "list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Json::Value rows;
    ASSERT_TRUE(Json::Reader().parse(r.out, rows)) << r.out;
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0]["keyword"].asString(), "鲜花");
    EXPECT_EQ(rows[1]["keyword"].asString(), tricky);
    EXPECT_EQ(rows[2]["keyword"].asString(), longKeyword);
    EXPECT_EQ(rows[3]["id"].asInt(), 5);  // the repeated keyword used up id 4

    r = cli.run({"keywords", "delete", "鲜花", tricky});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = cli.run({"keywords", "delete", "nothing-like-this"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "未选择关键词!")) << r.err;
    r = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_FALSE(Has(r.out, "鲜花"));
    EXPECT_TRUE(Has(r.out, "玫瑰"));
}

TEST(CliKeywords, PaidTreeAddListAndDelete) {
    CliRunner cli;
    EXPECT_EQ(cli.run({"keywords", "add", "--paid", "--plan", "春季", "--unit", "鲜花", "a", "b"})
                  .exitCode,
              0);
    EXPECT_EQ(
        cli.run({"keywords", "add", "--paid", "--plan", "春季", "--unit", "家具", "a"}).exitCode,
        0);
    CliResult r = cli.run({"keywords", "add", "--paid", "c"});  // plan and unit default to 默认
    EXPECT_TRUE(Has(r.out, "添加完毕"));
    r = cli.run({"--format", "tsv", "tree"});
    EXPECT_EQ(r.out,
              "推广计划\t计划编号\t推广单元\t单元编号\n春季\t1\t鲜花\t1\n春季\t1\t家具\t2\n默认\t2"
              "\t默认\t3\n");
    r = cli.run(
        {"--format", "tsv", "keywords", "list", "--paid", "--plan", "春季", "--unit", "家具"});
    EXPECT_TRUE(Has(r.out, "\ta\t春季\t家具\t")) << r.out;
    EXPECT_FALSE(Has(r.out, "\tb\t")) << r.out;

    EXPECT_EQ(cli.run({"keywords", "delete", "--paid", "--unit", "鲜花", "a"}).exitCode, 0);
    r = cli.run({"--format", "tsv", "keywords", "list", "--paid"});
    EXPECT_TRUE(Has(r.out, "\ta\t春季\t家具\t")) << r.out;
    EXPECT_FALSE(Has(r.out, "\ta\t春季\t鲜花\t")) << r.out;

    EXPECT_EQ(cli.run({"tree", "delete-plan", "春季"}).exitCode, 0);
    r = cli.run({"--format", "tsv", "keywords", "list", "--paid"});
    EXPECT_FALSE(Has(r.out, "春季"));
    EXPECT_TRUE(Has(r.out, "\tc\t默认\t默认\t"));
}

TEST(CliUsage, ErrorsAndHelp) {
    CliRunner cli;
    const std::vector<std::vector<std::string>> usageErrors = {
        {},
        {"frobnicate"},
        {"sites"},
        {"sites", "add"},
        {"keywords", "add"},
        {"keywords", "list", "--bogus"},
        {"settings", "pages", "11"},
        {"settings", "pages", "abc"},
        {"--format", "xml", "sites", "list"},
        {"query", "natural", "--pages", "0", "x"},
        {"query", "natural", "--plan", "p"},
        {"query", "paid", "--all", "kw"},
        {"sites", "list", "--data-dir"},
    };
    for (const auto& args : usageErrors) {
        const CliResult r = cli.run(args);
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "(none)" : args[0]) << " " << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    for (const char* command : {"sites", "keywords", "tree", "settings", "query"}) {
        const CliResult r = cli.run({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(Has(r.out, "usage: velquist")) << command;
    }
}

TEST(CliSettings, PageCountIsStoredAndRepaired) {
    CliRunner cli;
    EXPECT_TRUE(Has(cli.run({"settings", "pages"}).out, "5"));
    EXPECT_EQ(cli.run({"settings", "pages", "7"}).exitCode, 0);
    EXPECT_TRUE(Has(testing::ReadWhole(cli.dataDir + "/RankSettings.ini"), "PageNum=7"));
    std::ofstream(cli.dataDir + "/RankSettings.ini", std::ios::binary)
        << "\x01\x02\n[RankSettings]\nPageNum=99\n";
    const CliResult r = cli.run({"--format", "tsv", "settings", "pages"});
    EXPECT_EQ(r.out, "PageNum\n5\n");
    EXPECT_TRUE(Has(testing::ReadWhole(cli.dataDir + "/RankSettings.ini"), "PageNum=5"));
}

TEST(CliDatabase, UnopenableDatabaseIsReportedAndNothingIsWritten) {
    CliRunner cli;
    const std::string blocker = cli.folder() + "/blocker";
    std::ofstream(blocker) << "a file where a folder should be";
    cli.dataDir = blocker + "/Velquist";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"sites", "add", "www.abc.com"},
          std::vector<std::string>{"keywords", "add", "x"},
          std::vector<std::string>{"query", "natural", "--all"}}) {
        const CliResult r = cli.run(args);
        EXPECT_EQ(r.exitCode, 1) << args[0];
        EXPECT_TRUE(Has(r.err, "数据库打开失败！")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_EQ(testing::ReadWhole(blocker), "a file where a folder should be");
}

}  // namespace
}  // namespace velquist
