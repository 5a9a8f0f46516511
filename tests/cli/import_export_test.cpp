#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>

#include "../records/workbook_test_support.h"
#include "cli_test_support.h"

namespace velquist {
namespace {

using testing::CliResult;
using testing::CliRunner;
using testing::Has;
using testing::MakeXls;
using testing::MakeXlsx;
using testing::ReadXlsx;
using testing::WriteFile;

using Rows = std::vector<std::vector<std::string>>;
namespace fs = std::filesystem;

class CliImportExport : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return cli.folder() + "/" + name; }
    std::string file(const std::string& name, const std::string& bytes) const {
        WriteFile(path(name), bytes);
        return path(name);
    }

    // Runs SQL on the data folder's database, which an earlier command has created.
    void exec(const std::string& sql) const {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((cli.dataDir + "/database/main_360.db").c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
        const std::string message = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK) << message;
    }

    // The cells of a TSV table, heading row first.
    static Rows Tsv(const std::string& text) {
        Rows rows;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            auto& row = rows.emplace_back();
            std::size_t start = 0;
            for (;;) {
                const auto tab = line.find('\t', start);
                row.push_back(line.substr(start, tab - start));
                if (tab == std::string::npos) break;
                start = tab + 1;
            }
        }
        return rows;
    }

    Rows list(bool paid) const {
        std::vector<std::string> args = {"--format", "tsv", "keywords", "list"};
        if (paid) args.push_back("--paid");
        const CliResult r = cli.run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Tsv(r.out);
    }

    // The exported sheet, each row padded to the heading row.
    Rows exported(const std::string& workbook) const {
        Rows rows = ReadXlsx(cli.folder(), workbook).rows;
        for (auto& row : rows) row.resize(rows.front().size());
        return rows;
    }

    CliRunner cli;
};

TEST_F(CliImportExport, EveryFileKindImportsIntoBothLists) {
    MakeXlsx(cli.folder(), path("natural.xlsx"),
             "ws['C1'] = '关键词'\nws['C2'] = '表格词'\nws['C3'] = 12345");
    MakeXls(cli.folder(), path("paid.xls"), R"(
ws.write(0, 0, '关键词')
ws.write(0, 1, '推广计划')
ws.write(0, 2, '推广单元')
ws.write(1, 0, '旧表格词')
ws.write(1, 1, '计划一')
ws.write(1, 2, '单元甲')
)");
    struct Step {
        std::vector<std::string> args;
        std::string out;
    } steps[] = {
        {{"import", file("natural.txt", "\xEF\xBB\xBF文本词\r\n鲜花\r\n")},
         "velquist: 2 keywords read, 2 added, 0 already"},
        {{"import", path("natural.xlsx")}, "velquist: 2 keywords read, 2 added"},
        {{"import", "--paid", file("paid.csv", "a,b\n鲜花\n")},
         "添加完毕\nvelquist: 2 keywords read"},
        {{"import", "--paid", path("paid.xls")}, "添加完毕\n"},
        {{"import", file("again.txt", "鲜花\n新词\n")},
         "您添加的内容包含已有的或重复的项，其余项已添加完毕\nvelquist: 2 keywords read, 1 added, "
         "1 already"},
    };
    for (const auto& step : steps) {
        const CliResult r = cli.run(step.args);
        EXPECT_EQ(r.exitCode, 0) << step.args.back() << "\n" << r.err;
        EXPECT_TRUE(Has(r.out, step.out)) << step.args.back() << "\n" << r.out;
    }
    EXPECT_EQ(list(false), (Rows{{"编号", "关键词", "查询时间"},
                                 {"1", "文本词", ""},
                                 {"2", "鲜花", ""},
                                 {"3", "表格词", ""},
                                 {"4", "12345", ""},
                                 {"6", "新词", ""}}));
    EXPECT_EQ(list(true), (Rows{{"编号", "关键词", "推广计划", "推广单元", "查询时间"},
                                {"1", "a,b", "默认", "默认", ""},
                                {"2", "鲜花", "默认", "默认", ""},
                                {"3", "旧表格词", "计划一", "单元甲", ""}}));
}

TEST_F(CliImportExport, RefusedFilesExitOneWithTheSystemsMessageAndAddNothing) {
    MakeXlsx(cli.folder(), path("aa.xlsx"), "ws['AA1'] = '关键词'\nws['AA2'] = 'x'");
    struct Case {
        std::string file;
        std::string message;
        std::string reason;
    } cases[] = {
        {file("upper.TXT", "x"), "文件扩展名不正确", "does not end in"},
        {file("blank.txt", "\r\n \r\n"), "该文档无内容", "no keyword"},
        {file("nul.txt", std::string("a\r\nb\0c", 6)), "无法导入的文档", "NUL"},
        {file("text.xls", "关键词\r\nx\r\n"), "无法导入的文档", "neither an xlsx nor an xls"},
        {path("aa.xlsx"), "导入的Excel不符合规则，请查看“导入说明”！", "A1 to Z1"},
        {path("missing.csv"), "无法导入的文档", "cannot be opened"},
    };
    for (const auto& c : cases) {
        for (const bool paid : {false, true}) {
            std::vector<std::string> args = {"import", c.file};
            if (paid) args.insert(args.begin() + 1, "--paid");
            const CliResult r = cli.run(args);
            EXPECT_EQ(r.exitCode, 1) << c.file;
            EXPECT_TRUE(
                r.err.starts_with(c.message + "\nvelquist: " + c.file + " was not imported: "))
                << r.err;
            EXPECT_TRUE(Has(r.err, c.reason)) << r.err;
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(list(false).size(), 1u);
    EXPECT_EQ(list(true).size(), 1u);

    const std::vector<std::vector<std::string>> usage = {
        {"import"}, {"import", "a.txt", "b.txt"}, {"import", "--bogus", "a.txt"}};
    for (const auto& args : usage) EXPECT_EQ(cli.run(args).exitCode, 2) << args.back();
    const CliResult help = cli.run({"import", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Has(help.out, "usage: velquist import [--paid] FILE")) << help.out;
}

// Runs the program alone and returns its peak resident size in kB.
long PeakKb(const CliRunner& cli, std::vector<std::string> args, int& exitCode) {
    std::vector<std::string> full = {std::string(VELQUIST_BINARY_DIR) + "/cli/velquist",
                                     "--data-dir", cli.dataDir};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return usage.ru_maxrss;
}

TEST_F(CliImportExport, FiftyMegabyteTextImportsInBoundedMemoryAndLargerIsRefused) {
    std::string text;
    text.reserve(51u << 20);
    int lines = 0;
    while (text.size() < (50u << 20)) {
        text += "北京鲜花速递同城配送关键词" + std::to_string(1000000 + lines++) + " 上门\r\n";
    }
    file("fifty.txt", text);
    text = {};
    int exitCode = -1;
    const long peakKb = PeakKb(cli, {"import", path("fifty.txt")}, exitCode);
    EXPECT_EQ(exitCode, 0);
    // The file, its keywords and SQLite's cache; far from what the keywords' count would suggest
    // if every line were kept as a separate allocation of the whole file. AddressSanitizer's
    // redzones and its quarantine of freed blocks add about as much again.
#if defined(__SANITIZE_ADDRESS__)
    constexpr long kAllowanceKb = 800 * 1024;
#else
    constexpr long kAllowanceKb = 400 * 1024;
#endif
    EXPECT_LT(peakKb, kAllowanceKb) << lines << " lines";
    const CliResult r = cli.run({"--format", "tsv", "keywords", "list"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), lines + 1);

    const std::string huge = file("huge.txt", "x\n");
    ASSERT_EQ(truncate(huge.c_str(), 65 << 20), 0);
    const CliResult refused = cli.run({"import", huge});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Has(refused.err, "无法导入的文档\nvelquist: " + huge +
                                     " was not imported: it is larger than 64 MB"))
        << refused.err;
}

TEST_F(CliImportExport, JsonUsesStableEnglishKeysAndEndsWithANewline) {
    cli.run({"sites", "add", "www.a.com"});
    cli.run({"sites", "add", "www.b.com"});
    cli.run({"sites", "disable", "www.b.com"});
    cli.run({"keywords", "add", "鲜花", "玫瑰"});
    cli.run({"keywords", "add", "--paid", "--plan", "计划一", "--unit", "单元甲", "付费词"});
    exec(R"(UPDATE seokeyword SET time='2024-05-01 10:00:00' WHERE keyword='鲜花';
            INSERT INTO seorank (keywordId,url,rank,rankNum) VALUES
              (1,'www.a.com','第1名，第1页',1), (1,'www.b.com','无',1001);
            INSERT INTO semrank (keywordId,url,rank,rankNum) VALUES (1,'www.a.com','左4',4);
            UPDATE keyword SET time='2024-05-01 10:00:01';)");

    CliResult r = cli.run({"--format", "json", "keywords", "list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with("]\n"));
    Json::Value rows;
    ASSERT_TRUE(Json::Reader().parse(r.out, rows)) << r.out;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].getMemberNames(),
              (std::vector<std::string>{"id", "keyword", "ranks", "time"}));
    EXPECT_TRUE(rows[0]["id"].isInt());
    EXPECT_EQ(rows[0]["id"].asInt(), 1);
    EXPECT_EQ(rows[0]["keyword"].asString(), "鲜花");
    EXPECT_EQ(rows[0]["time"].asString(), "2024-05-01 10:00:00");
    EXPECT_EQ(rows[0]["ranks"].getMemberNames(), std::vector<std::string>{"www.a.com"});
    EXPECT_EQ(rows[0]["ranks"]["www.a.com"].asString(), "第1名，第1页");
    EXPECT_EQ(rows[1]["ranks"]["www.a.com"].asString(), "");

    r = cli.run({"--format", "json", "keywords", "list", "--paid"});
    ASSERT_TRUE(Json::Reader().parse(r.out, rows)) << r.out;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].getMemberNames(),
              (std::vector<std::string>{"id", "keyword", "plan", "ranks", "time", "unit"}));
    EXPECT_EQ(rows[0]["plan"].asString(), "计划一");
    EXPECT_EQ(rows[0]["unit"].asString(), "单元甲");
    EXPECT_EQ(rows[0]["ranks"]["www.a.com"].asString(), "左4");

    cli.run({"tree", "delete-unit", "--plan", "计划一", "单元甲"});
    cli.run({"keywords", "add", "--paid", "--plan", "计划二", "词"});
    r = cli.run({"--format", "json", "tree"});
    ASSERT_TRUE(Json::Reader().parse(r.out, rows)) << r.out;
    EXPECT_TRUE(r.out.ends_with("]\n"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].getMemberNames(),
              (std::vector<std::string>{"plan", "planId", "unit", "unitId"}));
    EXPECT_EQ(rows[0]["plan"].asString(), "计划一");
    EXPECT_TRUE(rows[0]["unitId"].isNull());  // a plan without units
    EXPECT_EQ(rows[1]["planId"].asInt(), 2);
    EXPECT_EQ(rows[1]["unit"].asString(), "默认");

    // The tables for people and for TSV keep their headings.
    r = cli.run({"keywords", "list"});
    EXPECT_TRUE(r.out.starts_with("编号  关键词  查询时间             www.a.com\n")) << r.out;
    EXPECT_EQ(list(false).front(),
              (std::vector<std::string>{"编号", "关键词", "查询时间", "www.a.com"}));
}

TEST_F(CliImportExport, ExportHoldsExactlyWhatTheListShows) {
    cli.run({"sites", "add", "www.c.com"});
    cli.run({"sites", "add", "www.a.com"});
    cli.run({"sites", "add", "www.b.com"});
    cli.run({"sites", "disable", "www.b.com"});
    cli.run({"import", file("words.txt", "鲜花\n玫瑰\n007\n")});
    cli.run({"import", "--paid", file("paid.txt", "付费词\n")});
    exec(R"(UPDATE seokeyword SET time='2024-05-01 10:00:00' WHERE keyword IN ('鲜花','007');
            INSERT INTO seorank (keywordId,url,rank,rankNum) VALUES
              (1,'www.a.com','第14名，第2页',14), (1,'www.c.com','无',1001),
              (3,'www.a.com','查询失败',0), (3,'www.b.com','第1名，第1页',1);
            UPDATE keyword SET time='2024-05-01 10:00:01';
            INSERT INTO semrank (keywordId,url,rank,rankNum) VALUES (1,'www.c.com','右2',2);)");

    // The list without its id column, the rows the choice takes.
    auto shown = [&](bool paid, const std::string& choice) {
        Rows rows = list(paid);
        const std::size_t timeColumn = paid ? 4 : 2;
        Rows kept;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool queried = !rows[i][timeColumn].empty();
            if (i > 0 &&
                ((choice == "--finished" && !queried) || (choice == "--unqueried" && queried)))
                continue;
            kept.emplace_back(rows[i].begin() + 1, rows[i].end());
        }
        return kept;
    };
    for (const bool paid : {false, true}) {
        for (const std::string choice : {"--all", "--finished", "--unqueried"}) {
            const std::string workbook = path("export.xlsx");
            std::vector<std::string> args = {"export", choice, workbook};
            if (paid) args.insert(args.begin() + 1, "--paid");
            const Rows expected = shown(paid, choice);
            const CliResult r = cli.run(args);
            if (expected.size() == 1) {  // nothing to export
                EXPECT_EQ(r.exitCode, 1) << choice;
                EXPECT_EQ(r.err, "请先选择关键词\n") << choice;
                continue;
            }
            ASSERT_EQ(r.exitCode, 0) << choice << "\n" << r.err;
            EXPECT_EQ(r.out, "成功导出文件 [ export.xlsx ] 到 [ " + cli.folder() + " ]\n");
            EXPECT_EQ(exported(workbook), expected) << (paid ? "paid " : "natural ") << choice;
        }
    }
    EXPECT_EQ(shown(false, "--all").front(),
              (std::vector<std::string>{"关键词", "查询时间", "www.a.com", "www.c.com"}));

    // A folder gets a file named by the time of the export.
    const CliResult r = cli.run({"export", "--paid", cli.folder()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::regex named(
        R"(成功导出文件 \[ (\d{4}-\d\d-\d\d_\d\d-\d\d-\d\dSEM\.xlsx) \] 到 .*\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(r.out, match, named)) << r.out;
    EXPECT_TRUE(fs::exists(path(match[1])));
}

TEST_F(CliImportExport, ExportWithHistoryAddsTheHistorySheetOfTheExportedSites) {
    cli.run({"sites", "add", "www.c.com"});
    cli.run({"sites", "add", "www.a.com"});
    cli.run({"keywords", "add", "鲜花", "玫瑰"});
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 1;
    local.tm_hour = 8;
    local.tm_isdst = -1;
    const std::string time = std::to_string(std::mktime(&local));
    // Two checks of 鲜花, one of them also of a site removed since; 玫瑰 has none.
    exec(R"(INSERT INTO historykeyword (id,kind,keyword,plan,unit) VALUES (1,0,'鲜花','','');
            INSERT INTO historysite (id,url) VALUES (1,'www.a.com'),(2,'www.c.com'),(3,'www.gone.com');
            INSERT INTO historyrank (id,rank) VALUES (1,'第3名，第1页'),(2,'无'),(3,'查询失败');
            INSERT INTO rankhistory (historyKeywordId,time,siteId,rankId,rankNum,state) VALUES
              (1,)" +
         time + R"(,1,1,3,0), (1,)" + time + R"(,2,2,50,1), (1,)" + time + R"(,3,1,3,0), (1,)" +
         time + R"(+60,1,3,10,2);)");

    const std::string workbook = path("history.xlsx");
    CliResult r = cli.run({"export", "--history", workbook});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto sheet = ReadXlsx(cli.folder(), workbook, 1);
    EXPECT_EQ(sheet.sheets, (std::vector<std::string>{"Sheet1", "排名历史"}));
    EXPECT_EQ(sheet.rows, (Rows{{"关键词", "网址", "查询时间", "排名"},
                                {"鲜花", "www.a.com", "2026-03-01 08:00:00", "第3名，第1页"},
                                {"鲜花", "www.c.com", "2026-03-01 08:00:00", "无"},
                                {"鲜花", "www.a.com", "2026-03-01 08:01:00", "查询失败"}}));
    EXPECT_EQ(exported(workbook).size(), 3u);

    r = cli.run({"export", workbook});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadXlsx(cli.folder(), workbook).sheets, std::vector<std::string>{"Sheet1"});
}

TEST_F(CliImportExport, ExportRefusalsWriteNothing) {
    cli.run({"keywords", "add", "鲜花"});
    const std::pair<std::vector<std::string>, int> usage[] = {
        {{"export"}, 2},
        {{"export", "--all", "--finished", path("x.xlsx")}, 2},
        {{"export", path("x.xls")}, 2},
        {{"export", path("x.xlsx"), path("y.xlsx")}, 2},
        {{"export", "--paid", path("x.xlsx")}, 1},  // the paid list is empty
    };
    for (const auto& [args, exitCode] : usage) EXPECT_EQ(cli.run(args).exitCode, exitCode);

    std::string sites;
    for (int s = 0; s < 51; ++s)
        sites += "INSERT INTO website (urlid,url,selected) VALUES (" + std::to_string(s) +
                 ",'www.site" + std::to_string(100 + s) + ".com',1);";
    exec(sites);
    CliResult r = cli.run({"export", path("x.xlsx")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.starts_with("网址太多，暂不支持\n")) << r.err;
    exec("DELETE FROM website WHERE urlid = 50");
    r = cli.run({"export", path("x.xlsx")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadXlsx(cli.folder(), path("x.xlsx")).lastHeadingCell, "AZ1");

    r = cli.run({"export", path("no/such/folder/x.xlsx")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.starts_with("导出失败，无法保存该文件！\nvelquist: ")) << r.err;
    EXPECT_FALSE(fs::exists(path("x.xls")));
}

}  // namespace
}  // namespace velquist
