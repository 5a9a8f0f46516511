// The report list with 100,000 keyword rows x 12 columns (tick, keyword, time and nine sites):
// time to populate it as the natural-ranking page does (load the rows, hand the count to the
// list, first paint), time to scroll it from top to bottom offscreen, and peak memory, against
// the sqlite3 command line reading the same rows with the same SELECT in the same run.

#include <fcntl.h>
#include <fmt/format.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/schema.h"
#include "core/user_notifier.h"
#include "records/natural_records.h"
#include "ui/qt_text.h"
#include "ui/report_control.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeywords = 100000;
constexpr int kSites = 9;
constexpr int kColumns = 3 + kSites;
constexpr int kRuns = 5;
const char* const kSqliteShell = "/usr/bin/sqlite3";

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// CPU time of this process, so a busy machine shows apart from the work itself.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long CurrentRssKb() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::vector<std::string> SiteUrls() {
    std::vector<std::string> sites;
    for (int s = 0; s < kSites; ++s) sites.push_back(fmt::format("www.site{}.com", s));
    return sites;
}

std::string NaturalSelect() {
    return "SELECT a.keywordId,a.keyword,a.time,b.rank,b.url,b.rankNum FROM seokeyword AS a "
           "\t\t\t\t\t\t  LEFT JOIN seorank AS b ON a.keywordId=b.keywordId ORDER BY id ASC, url "
           "ASC";
}

bool MakeDatabase(const std::string& dbPath) {
    velquist::SilentNotifier silent;
    if (!velquist::SyncSchema(dbPath, velquist::BuiltinSchemaScript(), velquist::kSchemaFromText,
                              silent))
        return false;
    const auto sites = SiteUrls();
    sqlite3* db = nullptr;
    if (sqlite3_open(dbPath.c_str(), &db) != SQLITE_OK) return false;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* keyword = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO seokeyword (keyword,time,keywordId) VALUES (?,?,?)", -1,
                       &keyword, nullptr);
    sqlite3_stmt* rank = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO seorank (rank,rankNum,url,keywordId) VALUES (?,?,?,?)", -1,
                       &rank, nullptr);
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
    const bool committed = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return committed;
}

struct ShellRun {
    double seconds = 0;
    long peakKb = 0;
    bool ok = false;
};

// The sqlite3 shell running the list's SELECT with its output discarded.
ShellRun RunShell(const std::string& dbPath) {
    std::string program = kSqliteShell;
    std::string path = dbPath;
    std::string sql = NaturalSelect();
    char* argv[] = {program.data(), path.data(), sql.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ShellRun run;
    const auto start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kSqliteShell, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = Since(start);
    run.peakKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// What the natural-ranking page answers for its list: the loaded rows, converted per cell.
class NaturalRows final : public velquist::ui::CReportRowSource {
  public:
    QString cellText(int row, int column) const override {
        ++cellsAsked;
        const auto& keyword = list.rows[static_cast<std::size_t>(row)];
        switch (column) {
            case 0:
                return QString::number(row + 1);
            case 1:
                return velquist::ui::Q(keyword.keyword);
            case 2:
                return velquist::ui::Q(keyword.time);
            default: {
                const auto site = static_cast<std::size_t>(column - 3);
                return site < keyword.sites.size() ? velquist::ui::Q(keyword.sites[site].rankText)
                                                   : QString();
            }
        }
    }
    velquist::NaturalList list;
    mutable long cellsAsked = 0;
};

// Filled by the child that runs the list, read by the parent through a pipe.
struct ListFigures {
    double populate[kRuns] = {};
    double load[kRuns] = {};
    double scrollSeconds = 0;
    double scrollCpuSeconds = 0;
    long scrollPages = 0;
    long cellsAskedScrolling = 0;
    long rows = 0;
    long qobjectsEmpty = 0;
    long qobjectsFull = 0;
    long rssBeforeKb = 0;         // application and empty list shown
    long rssRowsLoadedKb = 0;     // rows loaded, list still empty
    long rssListPopulatedKb = 0;  // after the list took the rows and painted
    long peakKb = 0;
    char lastCell[64] = {};
    bool ok = false;
};

void Settle(QWidget& widget) {
    for (int i = 0; i < 200 && !(widget.windowHandle() && widget.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
}

ListFigures RunList(const std::string& dbPath) {
    ListFigures figures;
    int argc = 1;
    char name[] = "report_list_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    const auto sites = SiteUrls();

    NaturalRows source;
    velquist::ui::CMyReportControl list;
    list.setRowSource(&source);
    list.addReportColumn(QStringLiteral("序号"), 62, false, velquist::ui::ReportColumnKind::Check);
    list.addReportColumn(QStringLiteral("关键词"), 200, true);
    list.addReportColumn(QStringLiteral("查询时间"), 180, true);
    for (const auto& site : sites)
        list.addReportColumn(velquist::ui::Q(site),
                             velquist::ui::CMyReportControl::kSiteColumnWidth, true);
    list.resize(1280, 720);
    list.show();
    Settle(list);
    figures.qobjectsEmpty = list.findChildren<QObject*>().size();
    figures.rssBeforeKb = CurrentRssKb();

    for (int run = 0; run < kRuns; ++run) {
        list.setRows(0);
        source.list = {};
        QCoreApplication::processEvents();
        const auto start = Clock::now();
        auto loaded = velquist::loadNaturalList(dbPath, sites);
        if (!loaded) return figures;
        source.list = std::move(*loaded);
        figures.load[run] = Since(start);
        if (run == 0) figures.rssRowsLoadedKb = CurrentRssKb();
        list.setRows(static_cast<int>(source.list.rows.size()));
        QCoreApplication::processEvents();
        list.viewport()->repaint();
        figures.populate[run] = Since(start);
        if (run == 0) figures.rssListPopulatedKb = CurrentRssKb();
    }
    figures.rows = list.reportRowCount();
    figures.qobjectsFull = list.findChildren<QObject*>().size();

    QScrollBar* bar = list.verticalScrollBar();
    source.cellsAsked = 0;
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    for (int value = bar->minimum();; value += bar->pageStep()) {
        bar->setValue(std::min(value, bar->maximum()));
        list.viewport()->repaint();
        ++figures.scrollPages;
        if (value >= bar->maximum()) break;
    }
    figures.scrollSeconds = Since(start);
    figures.scrollCpuSeconds = CpuSeconds() - cpuStart;
    figures.cellsAskedScrolling = source.cellsAsked;
    const QString last = source.cellText(kKeywords - 1, kColumns - 1);
    const QByteArray lastUtf8 = last.toUtf8();
    std::snprintf(figures.lastCell, sizeof figures.lastCell, "%s", lastUtf8.constData());
    figures.ok = figures.rows == kKeywords && source.cellsAsked > 0;
    return figures;
}

// Runs the list in a child process, so its peak memory is the list's own.
ListFigures RunListInChild(const std::string& dbPath) {
    ListFigures figures;
    int pipes[2];
    if (pipe(pipes) != 0) return figures;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipes[0]);
        const ListFigures child = RunList(dbPath);
        const bool written = write(pipes[1], &child, sizeof child) == sizeof child;
        _exit(written ? 0 : 1);
    }
    close(pipes[1]);
    if (pid > 0) {
        if (read(pipes[0], &figures, sizeof figures) != sizeof figures) figures = {};
        rusage usage{};
        wait4(pid, nullptr, 0, &usage);
        figures.peakKb = usage.ru_maxrss;
    }
    close(pipes[0]);
    return figures;
}

}  // namespace

int main() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string pattern = (std::filesystem::temp_directory_path() / "velquist-report-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        fmt::print(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const std::string folder = pattern;
    const std::string dbPath = folder + "/main_360.db";
    if (!MakeDatabase(dbPath)) {
        fmt::print(stderr, "cannot make the test database\n");
        std::filesystem::remove_all(folder);
        return 1;
    }

    std::vector<double> shellSeconds;
    long shellPeakKb = 0;
    bool shellOk = true;
    for (int run = 0; run < kRuns; ++run) {
        const ShellRun shell = RunShell(dbPath);
        shellSeconds.push_back(shell.seconds);
        shellPeakKb = std::max(shellPeakKb, shell.peakKb);
        shellOk = shellOk && shell.ok;
    }
    const ListFigures list = RunListInChild(dbPath);
    std::filesystem::remove_all(folder);
    if (!list.ok || !shellOk) {
        fmt::print(stderr, "run failed: list {}, sqlite3 {}\n", list.ok ? "ok" : "FAILED",
                   shellOk ? "ok" : "FAILED");
        return 1;
    }

    const double populate = Median(std::vector<double>(list.populate, list.populate + kRuns));
    const double load = Median(std::vector<double>(list.load, list.load + kRuns));
    const double shell = Median(shellSeconds);
    fmt::print("report list, {} rows x {} columns (median of {}):\n", list.rows, kColumns, kRuns);
    fmt::print("  populate: load + set rows + first paint  {:8.3f} s\n", populate);
    fmt::print("    of which loadNaturalList               {:8.3f} s\n", load);
    fmt::print("    of which set rows + first paint        {:8.3f} s\n", populate - load);
    fmt::print("  sqlite3 same SELECT to /dev/null         {:8.3f} s\n", shell);
    fmt::print("  ratio populate / sqlite3                 {:8.2f} x   (target <= 1.5)\n",
               populate / shell);
    fmt::print(
        "  scroll top to bottom, {} pages          {:8.3f} s   ({:.2f} ms a page, {} cells "
        "asked)\n",
        list.scrollPages, list.scrollSeconds, 1000.0 * list.scrollSeconds / list.scrollPages,
        list.cellsAskedScrolling);
    fmt::print("    CPU time while scrolling               {:8.3f} s   ({:.2f} ms a page)\n",
               list.scrollCpuSeconds, 1000.0 * list.scrollCpuSeconds / list.scrollPages);
    fmt::print("  last cell                                {}\n", list.lastCell);
    fmt::print("  peak memory, list process                {:8.1f} MB\n", list.peakKb / 1024.0);
    fmt::print("  peak memory, sqlite3                     {:8.1f} MB\n", shellPeakKb / 1024.0);
    fmt::print("  ratio peak memory list / sqlite3         {:8.2f} x\n",
               static_cast<double>(list.peakKb) / static_cast<double>(std::max(shellPeakKb, 1L)));
    fmt::print(
        "  resident: empty list {:.1f} MB, rows loaded {:.1f} MB, list populated {:.1f} MB\n",
        list.rssBeforeKb / 1024.0, list.rssRowsLoadedKb / 1024.0, list.rssListPopulatedKb / 1024.0);
    fmt::print("  list's own cost                          {:8.1f} bytes a row\n",
               1024.0 * static_cast<double>(list.rssListPopulatedKb - list.rssRowsLoadedKb) /
                   static_cast<double>(list.rows));
    fmt::print("  QObjects in the list: empty {}, with {} rows {}\n", list.qobjectsEmpty, list.rows,
               list.qobjectsFull);
    return 0;
}
