#include "core/paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/text.h"

namespace velquist {

namespace fs = std::filesystem;

namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Reads XDG_DOCUMENTS_DIR="$HOME/..." from the user-dirs file, expanding $HOME.
std::string XdgDocumentsFromUserDirs(const std::string& home) {
    std::string configHome = EnvOrEmpty("XDG_CONFIG_HOME");
    if (configHome.empty()) {
        if (home.empty()) return {};
        configHome = home + "/.config";
    }
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        line = TrimWhitespace(line);
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            // Without a home, "$HOME/Documents" would become "/Documents" at the root.
            if (home.empty()) return {};
            value = home + value.substr(5);
        }
        if (!value.empty() && value.front() == '/') return value;
    }
    return {};
}

std::string CurrentFolder() {
    std::error_code ec;
    const auto cwd = fs::current_path(ec);
    return ec ? std::string(".") : cwd.string();
}

}  // namespace

std::string DocumentsFolder() {
    const std::string home = EnvOrEmpty("HOME");
    std::string docs = XdgDocumentsFromUserDirs(home);
    if (docs.empty() && !home.empty()) docs = home + "/Documents";
    return docs;
}

AppPaths PathsForDataFolder(const std::string& dataFolder) {
    AppPaths paths;
    paths.programFolder = CurrentFolder();
    paths.dataFolder = dataFolder;
    paths.settingsPath = dataFolder + "/RankSettings.ini";
    paths.databaseFolder = dataFolder + "/database";
    paths.databasePath = paths.databaseFolder + "/main_360.db";
    return paths;
}

AppPaths ResolvePaths(const std::optional<std::string>& dataFolderOverride) {
    if (dataFolderOverride && !dataFolderOverride->empty())
        return PathsForDataFolder(*dataFolderOverride);
    std::string docs = ReplaceAll(DocumentsFolder(), "\\", "/");
    const std::string data = docs.empty() ? CurrentFolder() : docs + "/Velquist";
    return PathsForDataFolder(data);
}

bool EnsureFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

}  // namespace velquist
