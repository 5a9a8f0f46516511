// Times the keyword add and the natural list load against the sqlite3 command line doing the
// same work on the same data in the same run, and prints the medians and their ratios.

#include <fcntl.h>
#include <fmt/format.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/schema.h"
#include "core/user_notifier.h"
#include "records/natural_records.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeywords = 100000;
constexpr int kSites = 10;
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

// Runs the sqlite3 shell with `arguments`, stdin from `input` (or /dev/null), stdout discarded.
bool RunShell(const std::vector<std::string>& arguments, const std::string& input = "/dev/null") {
    std::vector<char*> argv;
    std::string program = kSqliteShell;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kSqliteShell, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Exec(const std::string& dbPath, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(dbPath.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
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

void BenchAdd(const std::string& folder, const std::vector<std::string>& keywords) {
    const std::string lines = folder + "/keywords.tsv";
    {
        std::ofstream out(lines);
        for (int i = 0; i < kKeywords; ++i) out << keywords[i] << '\t' << (i + 1) << '\n';
    }
    const std::string script = folder + "/import.sql";
    std::ofstream(script) << ".mode tabs\nBEGIN;\n.import " << lines << " seokeyword\nCOMMIT;\n";

    std::vector<double> ours, shell;
    int added = 0, imported = 0;
    for (int run = 0; run < kRuns; ++run) {
        const std::string ourDb = FreshDatabase(folder, "add.db");
        velquist::SilentNotifier silent;
        ours.push_back(SecondsOf(
            [&] { added = velquist::addNaturalKeywords(ourDb, keywords, silent).added; }));

        const std::string shellDb = folder + "/import.db";
        std::filesystem::remove(shellDb);
        Exec(shellDb,
             "CREATE TABLE seokeyword ([keyword] VARCHAR(1024), [keywordId] INTEGER);"
             "CREATE UNIQUE INDEX keywordOly ON seokeyword (keyword);");
        bool ok = false;
        shell.push_back(SecondsOf([&] { ok = RunShell({shellDb}, script); }));
        sqlite3* db = nullptr;
        sqlite3_open(shellDb.c_str(), &db);
        sqlite3_stmt* count = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM seokeyword", -1, &count, nullptr);
        imported = sqlite3_step(count) == SQLITE_ROW && ok ? sqlite3_column_int(count, 0) : -1;
        sqlite3_finalize(count);
        sqlite3_close(db);
    }
    const double oursMedian = Median(ours), shellMedian = Median(shell);
    fmt::print("add {} keywords (median of {}):\n", kKeywords, kRuns);
    fmt::print("  addNaturalKeywords          {:8.3f} s   ({} added)\n", oursMedian, added);
    fmt::print("  sqlite3 .import, one tx     {:8.3f} s   ({} rows)\n", shellMedian, imported);
    fmt::print("  ratio                       {:8.2f} x   (target <= 2)\n\n",
               oursMedian / shellMedian);
}

std::string NaturalSelect() {
    return "SELECT a.keywordId,a.keyword,a.time,b.rank,b.url,b.rankNum FROM seokeyword AS a "
           "\t\t\t\t\t\t  LEFT JOIN seorank AS b ON a.keywordId=b.keywordId ORDER BY id ASC, url "
           "ASC";
}

// Loads in a child process, so its peak resident size is the load's own.
struct LoadMemory {
    long beforeKb = 0;
    long peakKb = 0;
    long rows = 0;
};

LoadMemory MeasureLoadMemory(const std::string& dbPath, const std::vector<std::string>& sites) {
    int pipes[2];
    LoadMemory memory;
    if (pipe(pipes) != 0) return memory;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipes[0]);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        LoadMemory child;
        child.beforeKb = usage.ru_maxrss;
        const auto list = velquist::loadNaturalList(dbPath, sites);
        child.rows = list ? static_cast<long>(list->rows.size()) : -1;
        getrusage(RUSAGE_SELF, &usage);
        child.peakKb = usage.ru_maxrss;
        const bool written = write(pipes[1], &child, sizeof child) == sizeof child;
        _exit(written ? 0 : 1);
    }
    close(pipes[1]);
    if (pid > 0) {
        if (read(pipes[0], &memory, sizeof memory) != sizeof memory) memory = {};
        waitpid(pid, nullptr, 0);
    }
    close(pipes[0]);
    return memory;
}

void BenchLoad(const std::string& folder) {
    const std::string dbPath = FreshDatabase(folder, "load.db");
    std::vector<std::string> sites;
    for (int s = 0; s < kSites; ++s) sites.push_back(fmt::format("www.site{}.com", s));
    {
        sqlite3* db = nullptr;
        sqlite3_open(dbPath.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* keyword = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO seokeyword (keyword,time,keywordId) VALUES (?,?,?)", -1,
                           &keyword, nullptr);
        sqlite3_stmt* rank = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO seorank (rank,rankNum,url,keywordId) VALUES (?,?,?,?)",
                           -1, &rank, nullptr);
        for (int k = 1; k <= kKeywords; ++k) {
            const std::string text = fmt::format("北京鲜花速递关键词{}号", k);
            sqlite3_bind_text(keyword, 1, text.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(keyword, 2, "2024-05-01 10:00:00", -1, SQLITE_STATIC);
            sqlite3_bind_int(keyword, 3, k);
            sqlite3_step(keyword);
            sqlite3_reset(keyword);
            for (int s = 0; s < kSites; ++s) {
                const int rankNum = (k * 31 + s * 7) % 60 + 1;
                const std::string rankText =
                    fmt::format("第{}名，第{}页", rankNum, (rankNum - 1) / 10 + 1);
                sqlite3_bind_text(rank, 1, rankText.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(rank, 2, rankNum);
                sqlite3_bind_text(rank, 3, sites[s].c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_int(rank, 4, k);
                sqlite3_step(rank);
                sqlite3_reset(rank);
            }
        }
        sqlite3_finalize(keyword);
        sqlite3_finalize(rank);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }

    std::vector<double> ours, shell;
    std::size_t rows = 0;
    int queried = 0;
    bool shellOk = true;
    for (int run = 0; run < kRuns; ++run) {
        ours.push_back(SecondsOf([&] {
            const auto list = velquist::loadNaturalList(dbPath, sites);
            rows = list ? list->rows.size() : 0;
            queried = list ? list->queriedCount : 0;
        }));
        shell.push_back(SecondsOf([&] {
            shellOk = RunShell({dbPath, NaturalSelect()}) && shellOk;
        }));
    }
    const LoadMemory memory = MeasureLoadMemory(dbPath, sites);
    const double oursMedian = Median(ours), shellMedian = Median(shell);
    fmt::print("load {} keywords x {} site results (median of {}):\n", kKeywords, kSites, kRuns);
    fmt::print("  loadNaturalList             {:8.3f} s   ({} rows, {} queried)\n", oursMedian,
               rows, queried);
    fmt::print("  sqlite3 same SELECT         {:8.3f} s   ({})\n", shellMedian,
               shellOk ? "ok" : "FAILED");
    fmt::print("  ratio                       {:8.2f} x   (target <= 1.5)\n",
               oursMedian / shellMedian);
    fmt::print("  peak memory (child)         {:8.1f} MB  (before the load {:.1f} MB, rows {})\n",
               memory.peakKb / 1024.0, memory.beforeKb / 1024.0, memory.rows);
}

}  // namespace

int main() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velquist-records-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        fmt::print(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const std::string folder = pattern;
    BenchAdd(folder, MakeKeywords());
    BenchLoad(folder);
    std::filesystem::remove_all(folder);
    return 0;
}
