#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velquist::updater {

// Where an entry of a package may go: its path below the target folder with "/" separators
// ("\\" counts as one, "." parts and doubled separators dropped), or nullopt when it would
// leave the folder: absolute, a drive letter, or a ".." part. "" for an entry that names the
// folder itself.
std::optional<std::string> SafeEntryPath(std::string_view name);

struct ExtractResult {
    bool ok = false;
    int files = 0;        // written, on success
    std::string problem;  // why not, naming the entry
};

// Unpacks the zip package at `packagePath` into `targetFolder`, which must exist and should be
// empty. Every entry is checked before the first byte is written: a path outside the folder, a
// symbolic link or other special file, two entries for one path, an encrypted entry or one
// packed in a way this build cannot read refuses the whole package and writes nothing. A
// failure while writing (a damaged entry, a full disk) stops at once; the caller empties the
// folder. Executable entries stay executable; other permission bits are not taken over.
ExtractResult ExtractPackage(const std::string& packagePath, const std::string& targetFolder);

}  // namespace velquist::updater
