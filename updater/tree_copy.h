#pragma once

#include <string>
#include <vector>

namespace velquist::updater {

struct CopyReport {
    int moved = 0;
    int keptAside = 0;                 // program files renamed to NAME.utmp
    std::vector<std::string> skipped;  // ".db" files, never copied over
    std::vector<std::string> failed;   // files that could not be put in place, left as they were
};

// Moves the unpacked package `source` over the program folder `target`, entry by entry:
// "Thumbs.db" is ignored; a folder, and an empty file, become a folder of that name that the
// copy goes into; a file ending in ".db" is never copied, so the user's databases stay; any
// other file replaces its namesake. A namesake that cannot be deleted is renamed NAME.utmp and
// `cleanupMarker` ("del.txt") is created, so the next start has the leftover removed.
void CopyTree(const std::string& source, const std::string& target,
              const std::string& cleanupMarker, CopyReport& report);

// Deletes everything under `programFolder` (links are not followed) whose name holds ".utmp".
// Returns how many were removed.
int RemoveLeftovers(const std::string& programFolder);

// Deletes what is inside `folder`, keeping the folder itself. False when something stayed.
bool EmptyFolder(const std::string& folder);

}  // namespace velquist::updater
