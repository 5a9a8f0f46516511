#pragma once

#include <string>

namespace velquist::updater {

// Whether a process runs the program `programName` of `programFolder`, found by a scan of
// `procRoot` (the /proc file system): a process whose executable is that file, also when the
// file has been replaced since it started. A process whose executable cannot be read (another
// user's) counts when its command name is `programName`, since its folder cannot be told.
// The calling process itself never counts.
bool IsProgramRunning(const std::string& programFolder, const std::string& programName,
                      const std::string& procRoot = "/proc");

}  // namespace velquist::updater
