// Times the report export of 100,000 keywords x 10 sites and measures its peak memory, against
// libxlsxwriter's default (in-memory) mode and a plain TSV file of the same cells, each in a
// child process of its own so that every peak is that writer's alone.

#include <fmt/format.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/schema.h"
#include "core/user_notifier.h"
#include "records/report_export.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeywords = 100000;
constexpr int kSites = 10;
constexpr int kRuns = 3;

struct Measure {
    double seconds = 0;
    long tableKb = 0;  // peak before the work: the process and its table
    long peakKb = 0;   // peak after it
    bool ok = false;
};

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

velquist::ExportTable MakeTable() {
    velquist::ExportTable table;
    table.kind = velquist::ExportKind::Natural;
    for (int s = 0; s < kSites; ++s) table.sites.push_back(fmt::format("www.site{}.com", s));
    table.rows.reserve(kKeywords);
    for (int k = 1; k <= kKeywords; ++k) {
        velquist::ExportRow row;
        row.keyword = fmt::format("北京鲜花速递关键词{}号", k);
        row.time = "2024-05-01 10:00:00";
        for (int s = 0; s < kSites; ++s) {
            const int rank = (k * 31 + s * 7) % 60 + 1;
            row.ranks.push_back(
                rank > 50 ? "无" : fmt::format("第{}名，第{}页", rank, (rank - 1) / 10 + 1));
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

// Runs `prepare` then `work` in a child and reports the work's time and the peaks around it.
Measure InChild(const std::function<void()>& prepare, const std::function<bool()>& work) {
    int pipes[2];
    Measure measure;
    if (pipe(pipes) != 0) return measure;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipes[0]);
        prepare();
        Measure child;
        child.tableKb = PeakKb();
        const auto start = Clock::now();
        child.ok = work();
        child.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        child.peakKb = PeakKb();
        const bool written = write(pipes[1], &child, sizeof child) == sizeof child;
        _exit(written ? 0 : 1);
    }
    close(pipes[1]);
    if (pid > 0) {
        if (read(pipes[0], &measure, sizeof measure) != sizeof measure) measure = {};
        waitpid(pid, nullptr, 0);
    }
    close(pipes[0]);
    return measure;
}

Measure Median(const std::function<Measure()>& run) {
    std::vector<Measure> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(run());
    std::sort(runs.begin(), runs.end(),
              [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

bool WriteDefaultMode(const velquist::ExportTable& table, const std::string& path) {
    lxw_workbook* workbook = workbook_new(path.c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_col_t column = 0;
    for (const auto& heading : velquist::ExportFixedHeadings(table.kind))
        worksheet_write_string(sheet, 0, column++, heading.c_str(), nullptr);
    for (const auto& site : table.sites)
        worksheet_write_string(sheet, 0, column++, site.c_str(), nullptr);
    lxw_row_t row = 1;
    for (const auto& r : table.rows) {
        column = 0;
        worksheet_write_string(sheet, row, column++, r.keyword.c_str(), nullptr);
        worksheet_write_string(sheet, row, column++, r.time.c_str(), nullptr);
        for (const auto& rank : r.ranks)
            worksheet_write_string(sheet, row, column++, rank.c_str(), nullptr);
        ++row;
    }
    return workbook_close(workbook) == LXW_NO_ERROR;
}

bool WriteTsv(const velquist::ExportTable& table, const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    for (const auto& r : table.rows) {
        std::fputs(r.keyword.c_str(), out);
        std::fputc('\t', out);
        std::fputs(r.time.c_str(), out);
        for (const auto& rank : r.ranks) {
            std::fputc('\t', out);
            std::fputs(rank.c_str(), out);
        }
        std::fputc('\n', out);
    }
    return std::fclose(out) == 0;
}

// A database holding the same keywords with their results, for the export a user runs.
std::string MakeDatabase(const std::string& folder, const velquist::ExportTable& table) {
    const std::string path = folder + "/export.db";
    velquist::SilentNotifier silent;
    velquist::SyncSchema(path, velquist::BuiltinSchemaScript(), velquist::kSchemaFromText, silent);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* keyword = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO seokeyword (keyword,time,keywordId) VALUES (?,?,?)", -1,
                       &keyword, nullptr);
    sqlite3_stmt* rank = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO seorank (rank,rankNum,url,keywordId) VALUES (?,?,?,?)", -1,
                       &rank, nullptr);
    for (int k = 0; k < kKeywords; ++k) {
        const auto& row = table.rows[k];
        sqlite3_bind_text(keyword, 1, row.keyword.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(keyword, 2, row.time.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int(keyword, 3, k + 1);
        sqlite3_step(keyword);
        sqlite3_reset(keyword);
        for (int s = 0; s < kSites; ++s) {
            sqlite3_bind_text(rank, 1, row.ranks[s].c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int(rank, 2, s + 1);
            sqlite3_bind_text(rank, 3, table.sites[s].c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int(rank, 4, k + 1);
            sqlite3_step(rank);
            sqlite3_reset(rank);
        }
    }
    sqlite3_finalize(keyword);
    sqlite3_finalize(rank);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path;
}

void Print(const char* what, const Measure& m) {
    fmt::print("  {:38} {:7.3f} s   peak {:6.1f} MB ({:+6.1f} MB for the work){}\n", what,
               m.seconds, m.peakKb / 1024.0, (m.peakKb - m.tableKb) / 1024.0,
               m.ok ? "" : "  FAILED");
}

}  // namespace

int main() {
    const std::string folder =
        (std::filesystem::temp_directory_path() / fmt::format("velquist-export-bench-{}", getpid()))
            .string();
    std::filesystem::create_directories(folder);
    const std::string file = folder + "/export.xlsx";
    velquist::ExportTable table;  // filled in each child, so the parent stays small

    const Measure ours = Median([&] {
        return InChild([&] { table = MakeTable(); },
                       [&] { return velquist::WriteExportWorkbook(table, file).written; });
    });
    const Measure defaultMode = Median([&] {
        return InChild([&] { table = MakeTable(); },
                       [&] { return WriteDefaultMode(table, folder + "/default.xlsx"); });
    });
    const Measure tsv = Median([&] {
        return InChild([&] { table = MakeTable(); },
                       [&] { return WriteTsv(table, folder + "/plain.tsv"); });
    });
    const std::string db = MakeDatabase(folder, MakeTable());
    std::vector<velquist::PromotionSite> sites;
    for (int s = 0; s < kSites; ++s) sites.push_back({fmt::format("www.site{}.com", s), 1});
    const Measure fromDatabase = Median([&] {
        return InChild([] {},
                       [&] {
                           velquist::SilentNotifier silent;
                           const auto loaded = velquist::LoadExportTable(
                               db, velquist::ExportKind::Natural, velquist::ExportChoice::All,
                               sites, silent);
                           return loaded && velquist::WriteExportWorkbook(*loaded, file).written;
                       });
    });

    fmt::print("export {} keywords x {} sites (median of {}, each in its own process):\n",
               kKeywords, kSites, kRuns);
    Print("WriteExportWorkbook (constant memory)", ours);
    Print("libxlsxwriter default mode", defaultMode);
    Print("plain TSV of the same cells", tsv);
    Print("load from the database + write", fromDatabase);
    fmt::print("  {:38} {:7.2f} x\n", "time vs plain TSV", ours.seconds / tsv.seconds);
    fmt::print("  {:38} {:7.2f} x\n", "time vs default mode", ours.seconds / defaultMode.seconds);
    fmt::print("  {:38} {:7.2f} x\n", "memory for the work vs default mode",
               static_cast<double>(ours.peakKb - ours.tableKb) /
                   std::max(1L, defaultMode.peakKb - defaultMode.tableKb));
    fmt::print("  {:38} {:7.1f} MB\n", "workbook size",
               std::filesystem::file_size(file) / 1048576.0);
    std::filesystem::remove_all(folder);
    return 0;
}
