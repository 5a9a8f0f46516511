#include "updater/updater.h"

#include <spawn.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <thread>

#include "core/paths.h"
#include "services/update_package.h"
#include "updater/package_extract.h"
#include "updater/running_program.h"
#include "updater/tree_copy.h"

extern char** environ;

namespace velquist::updater {

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kRunningPoll{200};

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> copies;
    copies.push_back(program);
    copies.insert(copies.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    return ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

// Only a package in the download folder is ours to delete; "update.txt" written by someone
// else may name any file.
bool InDownloadFolder(const std::string& package, const std::string& dataFolder) {
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(DownloadFolder(dataFolder), ec);
    if (ec) return false;
    const fs::path file = fs::weakly_canonical(package, ec);
    return !ec && file.parent_path() == folder;
}

}  // namespace

UpdaterHooks RealHooks(UpdaterHooks hooks, const UpdaterSettings& settings) {
    if (!hooks.sleep)
        hooks.sleep = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
    if (!hooks.programRunning)
        hooks.programRunning = [folder = settings.programFolder] {
            return IsProgramRunning(folder, kMainProgramName);
        };
    if (!hooks.startProgram) hooks.startProgram = StartDetached;
    return hooks;
}

UpdaterOutcome RunUpdater(const UpdaterSettings& settings, const UpdaterHooks& hooks) {
    const auto log = [&hooks](const std::string& line) {
        if (hooks.log) *hooks.log << line << std::endl;
    };
    const auto tell = [&hooks, &log](const char* message) {
        if (hooks.notifier) {
            hooks.notifier->showMessage(message);
        } else {
            log(message);
        }
    };
    const std::string cleanupMarker = CleanupMarkerPath(settings.dataFolder);
    std::error_code ec;
    // Claimed by its removal: with both markers the program starts two of us at once, and only
    // the one that took "del.txt" cleans up; the other goes on to install.
    if (fs::remove(cleanupMarker, ec)) {
        const int removed = RemoveLeftovers(settings.programFolder);
        log("removed " + std::to_string(removed) + " leftover file(s) of the last update");
        return UpdaterOutcome::CleanedUp;
    }

    hooks.sleep(settings.checkDelay);
    for (auto waited = std::chrono::milliseconds(0); hooks.programRunning();
         waited += kRunningPoll) {
        if (waited >= settings.closeWait) {
            tell(kProgramRunningMessage);
            return UpdaterOutcome::ProgramRunning;
        }
        hooks.sleep(kRunningPoll);
    }

    const auto restart = [&] {
        std::vector<std::string> arguments;
        if (settings.dataFolderArgument) arguments = {"--data-dir", *settings.dataFolderArgument};
        const std::string program = settings.programFolder + "/" + kMainProgramName;
        if (!hooks.startProgram(program, arguments)) log("cannot start " + program);
    };
    const auto package = ReadUpdateMarker(settings.dataFolder);
    if (!package) {
        log("no update is waiting");
        return UpdaterOutcome::NothingToInstall;
    }
    if (package->empty()) {
        // Left in place it would keep the program from ever opening its window again.
        fs::remove(UpdateMarkerPath(settings.dataFolder), ec);
        restart();
        return UpdaterOutcome::NothingToInstall;
    }
    log(kUpdatingText);
    hooks.sleep(settings.installDelay);

    const std::string scratch = UpdateScratchFolder(settings.dataFolder);
    ExtractResult extracted;
    // Anything left from an earlier run must not be installed with this package.
    if (!EnsureFolder(scratch) || !EmptyFolder(scratch)) {
        extracted.problem = "cannot prepare the folder " + scratch;
    } else {
        extracted = ExtractPackage(*package, scratch);
    }
    CopyReport copied;
    if (extracted.ok) {
        CopyTree(scratch, settings.programFolder, cleanupMarker, copied);
        log("installed " + std::to_string(copied.moved) + " file(s) from " + *package);
        for (const auto& file : copied.failed) log("could not replace " + file);
    } else {
        log("the package " + *package + " was not installed: " + extracted.problem);
    }
    EmptyFolder(scratch);
    if (InDownloadFolder(*package, settings.dataFolder)) fs::remove(*package, ec);
    fs::remove(UpdateMarkerPath(settings.dataFolder), ec);

    UpdaterOutcome outcome = UpdaterOutcome::Installed;
    if (!extracted.ok) {
        tell(kPackageRefusedMessage);
        outcome = UpdaterOutcome::PackageRefused;
    } else if (!copied.failed.empty()) {
        tell(kCopyIncompleteMessage);
        outcome = UpdaterOutcome::CopyIncomplete;
    }
    restart();
    return outcome;
}

int ExitCode(UpdaterOutcome outcome) {
    switch (outcome) {
        case UpdaterOutcome::CleanedUp:
        case UpdaterOutcome::NothingToInstall:
        case UpdaterOutcome::Installed:
            return 0;
        case UpdaterOutcome::ProgramRunning:
        case UpdaterOutcome::PackageRefused:
        case UpdaterOutcome::CopyIncomplete:
            break;
    }
    return 1;
}

}  // namespace velquist::updater
