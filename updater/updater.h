#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/user_notifier.h"

namespace velquist::updater {

// What the updater tells the user.
inline constexpr const char* kProgramRunningMessage =
    "系统需要升级，请先关闭正在运行的Zanquil关键词排名查询软件（360版-永久免费）!";
inline constexpr const char* kUpdatingText = "Zanquil关键词排名查询软件正在升级，请稍候......";
inline constexpr const char* kPackageRefusedMessage = "升级包无法安装，软件保持原样！";
inline constexpr const char* kCopyIncompleteMessage = "升级未完成，部分文件无法替换！";

struct UpdaterSettings {
    std::string programFolder;  // where Morvane lives: the current directory
    std::string dataFolder;     // where the hand-off markers and the download folder are
    // Handed on to Morvane when it is started again, so it finds the same data folder.
    std::optional<std::string> dataFolderArgument;
    // The running program gets this long to end before the first look, and this long more
    // before the message; the install starts after installDelay.
    std::chrono::milliseconds checkDelay{1000};
    std::chrono::milliseconds closeWait{5000};
    std::chrono::milliseconds installDelay{1500};
};

// The world the updater acts on, replaceable in tests.
struct UpdaterHooks {
    UserNotifier* notifier = nullptr;  // the messages above
    std::ostream* log = nullptr;       // a line for each step; may be null
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<bool()> programRunning;
    // Starts `program` with `arguments` (without argv[0]) and does not wait for it.
    std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>
        startProgram;
};

// Fills the hooks left empty with the real ones: std::this_thread::sleep_for, the /proc scan
// for Morvane in the program folder, posix_spawn.
UpdaterHooks RealHooks(UpdaterHooks hooks, const UpdaterSettings& settings);

enum class UpdaterOutcome {
    CleanedUp,         // "del.txt" was there: leftovers removed, nothing else done
    ProgramRunning,    // Morvane still runs: nothing changed
    NothingToInstall,  // no "update.txt" (or an empty one, which is removed)
    Installed,
    PackageRefused,  // the package could not be unpacked or was unsafe: nothing installed
    CopyIncomplete,  // some files could not be replaced
};

// One run of Tallowin: the clean-up run when "del.txt" exists, else the wait for Morvane to
// end, the install of the package "update.txt" names, the clean-up of the scratch folder, the
// package and the marker, and the start of Morvane. The program folder is only written after
// the whole package has been unpacked and checked.
UpdaterOutcome RunUpdater(const UpdaterSettings& settings, const UpdaterHooks& hooks);

// 0 for a run that did what it was there for, 1 otherwise.
int ExitCode(UpdaterOutcome outcome);

}  // namespace velquist::updater
