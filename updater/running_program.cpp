#include "updater/running_program.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace velquist::updater {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDeletedSuffix = " (deleted)";

bool IsPid(const std::string& name) {
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsProgramRunning(const std::string& programFolder, const std::string& programName,
                      const std::string& procRoot) {
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(programFolder, ec);
    if (ec) folder = programFolder;
    const fs::path program = folder / programName;
    const std::string self = std::to_string(::getpid());

    for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (!IsPid(pid) || pid == self) continue;
        std::error_code linkError;
        std::string executable = fs::read_symlink(it->path() / "exe", linkError).string();
        if (linkError) {
            // Only a process of another user hides its executable; a finished one has none.
            if (linkError != std::errc::permission_denied) continue;
            std::ifstream commFile(it->path() / "comm");
            std::string comm;
            std::getline(commFile, comm);
            // The kernel keeps 15 bytes of the command name.
            if (!comm.empty() && comm == programName.substr(0, 15)) return true;
            continue;
        }
        // A program file replaced while it runs still names its old path.
        if (executable.size() > kDeletedSuffix.size() &&
            executable.compare(executable.size() - kDeletedSuffix.size(), kDeletedSuffix.size(),
                               kDeletedSuffix) == 0)
            executable.resize(executable.size() - kDeletedSuffix.size());
        if (fs::path(executable) == program) return true;
    }
    return false;
}

}  // namespace velquist::updater
