#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velquist::service {

inline constexpr const char* kDefaultReleaseAppName = "Velquist";

// One published update package of application 13.
struct Release {
    std::string version;  // "1.0.2.3"
    std::string appName;
    std::string file;  // "Velquist_1.0.2.3.zip": the name in the download path and in DIR/packages
    std::int64_t size = 0;
    std::string published;  // the service's local time
};

// The published packages: rows of table update_release in service.db, files in DIR/packages.
// Every operation opens its own connection: any thread, several at once.
class ReleaseStore {
  public:
    static std::optional<ReleaseStore> Open(const std::string& dataFolder, std::string& error);

    // Copies the package into the packages folder (written whole, then renamed into place, so a
    // download running meanwhile keeps the old file) and records it; publishing a version again
    // replaces it. False with `error` set when the version or the package is unusable.
    bool publish(const std::string& version, const std::string& packagePath,
                 const std::string& appName, Release& published, std::string& error);

    // The highest version published, by number; nullopt when there is none.
    std::optional<Release> latest() const;
    std::optional<Release> findByFile(const std::string& file) const;
    std::vector<Release> list() const;
    std::string packagePath(const Release& release) const;

  private:
    ReleaseStore(std::string dataFolder, std::string databasePath)
        : m_dataFolder(std::move(dataFolder)), m_databasePath(std::move(databasePath)) {}
    std::string m_dataFolder;
    std::string m_databasePath;
};

// The answer of "/control/dl.php": "404" unless `latest` is newer than the caller's version
// (an unknown application or an unreadable version is answered "404" too), else the JSON
// object with "status" "0", "appname", "newversion" and "updateurl" = `downloadBase` +
// "/download/" + the file.
std::string UpdateCheckAnswer(const std::optional<Release>& latest, const std::string& appId,
                              const std::string& appVersion, const std::string& downloadBase);

}  // namespace velquist::service
