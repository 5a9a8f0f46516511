#pragma once

#include <optional>
#include <string>

namespace velquist {

// The build sets it (VELQUIST_VERSION_TEXT); a package of a newer version is built with another.
#ifndef VELQUIST_VERSION_TEXT
#define VELQUIST_VERSION_TEXT "1.0.2.2"
#endif
inline constexpr const char* kVersionText = VELQUIST_VERSION_TEXT;

// The folders and files every part of the program finds its data in. Fixed once at start and
// read-only afterwards.
struct AppPaths {
    std::string programFolder;   // the current directory at start
    std::string dataFolder;      // documents folder + "/Velquist", or the program folder
    std::string settingsPath;    // dataFolder + "/RankSettings.ini"
    std::string databaseFolder;  // dataFolder + "/database"
    std::string databasePath;    // dataFolder + "/database/main_360.db"
};

// The user's documents folder: XDG_DOCUMENTS_DIR from user-dirs.dirs, else $HOME/Documents;
// empty when there is no home folder.
std::string DocumentsFolder();

// Fixes the paths. `dataFolderOverride`, when given, replaces the documents-folder rule.
AppPaths ResolvePaths(const std::optional<std::string>& dataFolderOverride = std::nullopt);

// Paths under a data folder given explicitly (the program folder is the current directory).
AppPaths PathsForDataFolder(const std::string& dataFolder);

// Creates a folder and its missing parents; true when it exists afterwards.
bool EnsureFolder(const std::string& folder);

}  // namespace velquist
