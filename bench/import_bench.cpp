// Times the keyword import of a 100,000-line text file and of a 100,000-row workbook against the
// sqlite3 command line importing the same keywords in the same run, and prints medians and ratios.

#include <fcntl.h>
#include <fmt/format.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/schema.h"
#include "core/user_notifier.h"
#include "records/keyword_import.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeywords = 100000;
constexpr int kRuns = 5;
const char* const kSqliteShell = "/usr/bin/sqlite3";

double SecondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool RunShell(const std::string& dbPath, const std::string& script) {
    std::string program = kSqliteShell;
    std::string db = dbPath;
    char* argv[] = {program.data(), db.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, script.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kSqliteShell, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int CountRows(const std::string& dbPath, const char* table) {
    sqlite3* db = nullptr;
    sqlite3_open(dbPath.c_str(), &db);
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, fmt::format("SELECT COUNT(*) FROM {}", table).c_str(), -1, &count,
                       nullptr);
    const int rows = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int(count, 0) : -1;
    sqlite3_finalize(count);
    sqlite3_close(db);
    return rows;
}

std::string FreshDatabase(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    std::filesystem::remove(path);
    velquist::SilentNotifier silent;
    velquist::SyncSchema(path, velquist::BuiltinSchemaScript(), velquist::kSchemaFromText, silent);
    return path;
}

// Keywords in a scattered order, so the unique index is not filled in sequence.
std::vector<std::string> MakeKeywords() {
    std::vector<std::string> keywords;
    keywords.reserve(kKeywords);
    for (int i = 0; i < kKeywords; ++i)
        keywords.push_back(
            fmt::format("北京鲜花速递关键词{}号", (static_cast<long long>(i) * 7919) % kKeywords));
    return keywords;
}

// A workbook as a spreadsheet program saves it: shared strings, the heading in A1.
void WriteWorkbook(const std::string& path, const std::vector<std::string>& keywords) {
    lxw_workbook* workbook = workbook_new(path.c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    worksheet_write_string(sheet, 0, 0, "关键词", nullptr);
    for (std::size_t i = 0; i < keywords.size(); ++i)
        worksheet_write_string(sheet, static_cast<lxw_row_t>(i + 1), 0, keywords[i].c_str(),
                               nullptr);
    workbook_close(workbook);
}

struct Figures {
    double ours = 0;
    double shell = 0;
    double read = 0;
    int added = 0;
    int imported = 0;
};

Figures Bench(const std::string& folder, const std::string& file, const std::string& script) {
    std::vector<double> ours, shell, read;
    Figures figures;
    for (int run = 0; run < kRuns; ++run) {
        read.push_back(
            SecondsOf([&] { velquist::ReadKeywordFile(file, velquist::ImportKind::Natural); }));

        const std::string ourDb = FreshDatabase(folder, "import.db");
        velquist::SilentNotifier silent;
        ours.push_back(SecondsOf([&] {
            figures.added =
                velquist::ImportKeywordFile(ourDb, file, velquist::ImportKind::Natural, silent)
                    .add.added;
        }));

        const std::string shellDb = folder + "/shell.db";
        std::filesystem::remove(shellDb);
        sqlite3* db = nullptr;
        sqlite3_open(shellDb.c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE seokeyword ([keyword] VARCHAR(1024), [keywordId] INTEGER);"
                     "CREATE UNIQUE INDEX keywordOly ON seokeyword (keyword);",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
        bool ok = false;
        shell.push_back(SecondsOf([&] { ok = RunShell(shellDb, script); }));
        figures.imported = ok ? CountRows(shellDb, "seokeyword") : -1;
    }
    figures.ours = Median(ours);
    figures.shell = Median(shell);
    figures.read = Median(read);
    return figures;
}

void Print(const char* what, const Figures& f, double target) {
    fmt::print("import {} keywords from {} (median of {}):\n", kKeywords, what, kRuns);
    fmt::print("  ImportKeywordFile            {:8.3f} s   ({} added; reading alone {:.3f} s)\n",
               f.ours, f.added, f.read);
    fmt::print("  sqlite3 .import, one tx      {:8.3f} s   ({} rows)\n", f.shell, f.imported);
    fmt::print("  ratio                        {:8.2f} x   (target <= {:g})\n\n", f.ours / f.shell,
               target);
}

}  // namespace

int main() {
    const std::string folder =
        (std::filesystem::temp_directory_path() / fmt::format("velquist-import-bench-{}", getpid()))
            .string();
    std::filesystem::create_directories(folder);
    const auto keywords = MakeKeywords();

    const std::string text = folder + "/keywords.txt";
    const std::string tsv = folder + "/keywords.tsv";
    {
        std::ofstream out(text, std::ios::binary);
        std::ofstream lines(tsv, std::ios::binary);
        for (int i = 0; i < kKeywords; ++i) {
            out << keywords[i] << "\r\n";
            lines << keywords[i] << '\t' << (i + 1) << '\n';
        }
    }
    const std::string workbook = folder + "/keywords.xlsx";
    WriteWorkbook(workbook, keywords);
    const std::string script = folder + "/import.sql";
    std::ofstream(script) << ".mode tabs\nBEGIN;\n.import " << tsv << " seokeyword\nCOMMIT;\n";

    Print("a text file", Bench(folder, text, script), 2);
    Print("an xlsx workbook", Bench(folder, workbook, script), 4);
    std::filesystem::remove_all(folder);
    return 0;
}
