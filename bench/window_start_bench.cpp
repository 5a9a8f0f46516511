// Window start to first paint with 100,000 keywords in the database: makes the main window
// (which clears the results and loads the sites), opens it and waits until it has painted once,
// against the sqlite3 command line reading the same keyword rows in the same run.

#include <fcntl.h>
#include <fmt/format.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/schema.h"
#include "core/user_notifier.h"
#include "records/natural_records.h"
#include "records/site_records.h"
#include "ui/skin.h"
#include "ui/velquist_dlg.h"
#include "ui/window_mailbox.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeywords = 100000;
constexpr int kRuns = 5;
const char* const kSqliteShell = "/usr/bin/sqlite3";

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The sqlite3 shell reading every keyword row, its output discarded.
bool ReadWithShell(const std::string& dbPath) {
    std::string program = kSqliteShell;
    std::string path = dbPath;
    std::string sql = "SELECT id,keyword,time,keywordId FROM seokeyword ORDER BY id ASC;";
    char* argv[] = {program.data(), path.data(), sql.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kSqliteShell, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Notes the window's first paint.
class PaintWatch final : public QObject {
  public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return false;
    }
};

double SecondsToFirstPaint(const velquist::AppPaths& paths) {
    velquist::ui::MainWindowSettings settings;
    settings.paths = paths;
    velquist::ui::MainWindowHooks hooks;
    hooks.startUserAgentDiscovery = [](const std::string&,
                                       std::shared_ptr<velquist::ui::WindowMailbox>) {};
    const auto start = Clock::now();
    velquist::ui::CVelquistDlg window(settings, hooks);
    PaintWatch watch;
    window.installEventFilter(&watch);
    window.openWindow();
    while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The skins beside the program, as Morvane finds them in its folder.
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    velquist::ui::SetProgramFolder(
        QString::fromStdString((self.parent_path().parent_path() / "app").string()));

    const std::string folder =
        (std::filesystem::temp_directory_path() / "velquist-window-bench").string();
    std::filesystem::remove_all(folder);
    const velquist::AppPaths paths = velquist::PathsForDataFolder(folder);
    velquist::SilentNotifier silent;
    velquist::PrepareDatabase(paths.dataFolder, paths.databaseFolder, paths.databasePath, silent);
    velquist::SaveSites(paths.databasePath, {{"www.velquist-demo.com", 1}, {"shop.example.cn", 1}});
    std::vector<std::string> keywords;
    keywords.reserve(kKeywords);
    for (int i = 0; i < kKeywords; ++i)
        keywords.push_back(fmt::format("北京鲜花速递关键词{}号", i));
    const int added = velquist::addNaturalKeywords(paths.databasePath, keywords, silent).added;

    std::vector<double> window, shell;
    bool shellOk = true;
    for (int run = 0; run < kRuns; ++run) {
        window.push_back(SecondsToFirstPaint(paths));
        const auto start = Clock::now();
        shellOk &= ReadWithShell(paths.databasePath);
        shell.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    const double ours = Median(window);
    const double base = Median(shell);
    fmt::print("window start to first paint, {} keywords stored (median of {}):\n", added, kRuns);
    fmt::print("  CVelquistDlg made, opened, painted  {:8.3f} s\n", ours);
    fmt::print("  sqlite3 reads the keyword rows      {:8.3f} s{}\n", base,
               shellOk ? "" : "   (sqlite3 failed)");
    fmt::print("  ratio                               {:8.2f} x\n", ours / base);
    std::filesystem::remove_all(folder);
    return shellOk ? 0 : 1;
}
