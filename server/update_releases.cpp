#include "server/update_releases.h"

#include <fcntl.h>
#include <json/json.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "core/database.h"
#include "core/paths.h"
#include "core/text.h"
#include "services/envelope.h"
#include "services/unique_fd.h"
#include "services/update_check.h"

namespace velquist::service {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS update_release("
    " version TEXT PRIMARY KEY NOT NULL, appname TEXT NOT NULL, file TEXT NOT NULL,"
    " size INTEGER NOT NULL, published TEXT NOT NULL);";

std::optional<DbConnection> Connect(const std::string& path) {
    DbConnection db;
    if (!db.open(path) || db.execute("PRAGMA synchronous=FULL") != kSqliteOk) return std::nullopt;
    return db;
}

std::int64_t ColumnInt64(const DbStatement& statement, int column) {
    const std::string_view text = statement.columnView(column);
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::vector<Release> ReadReleases(const std::string& databasePath, const std::string& where,
                                  const std::string& value) {
    std::vector<Release> releases;
    auto db = Connect(databasePath);
    if (!db) return releases;
    DbStatement select(*db, "SELECT version,appname,file,size,published FROM update_release" +
                                where + " ORDER BY published, version");
    if (!where.empty()) select.bindText(1, value);
    while (select.step() == kSqliteRow)
        releases.push_back({select.columnText(0), select.columnText(1), select.columnText(2),
                            ColumnInt64(select, 3), select.columnText(4)});
    return releases;
}

// Copies `from` to `to` through `to`.tmp, on disk before the rename. The size copied, or -1.
std::int64_t CopyWhole(const std::string& from, const std::string& to, std::string& error) {
    const std::string temporary = to + ".tmp";
    UniqueFd in = AdoptFd(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) {
        error = "cannot read " + from + ": " + std::strerror(errno);
        return -1;
    }
    ::unlink(temporary.c_str());
    UniqueFd out = AdoptFd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!out) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        return -1;
    }
    std::vector<char> buffer(1 << 20);
    std::int64_t size = 0;
    for (;;) {
        const ssize_t got = ::read(in.get().fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) break;
        if (got < 0) {
            error = "cannot read " + from + ": " + std::strerror(errno);
            size = -1;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t written = ::write(out.get().fd, buffer.data() + done, got - done);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                error = "cannot write " + temporary + ": " + std::strerror(errno);
                ::unlink(temporary.c_str());
                return -1;
            }
            done += written;
        }
        size += got;
    }
    if (size < 0 || ::fsync(out.get().fd) != 0 || ::close(out.release().fd) != 0 ||
        std::rename(temporary.c_str(), to.c_str()) != 0) {
        if (error.empty()) error = "cannot write " + to + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return -1;
    }
    return size;
}

// A zip archive starts with a local file header, or, when empty, with its end record.
bool LooksLikeZip(const std::string& path) {
    UniqueFd in = AdoptFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char magic[4] = {};
    return in && ::read(in.get().fd, magic, 4) == 4 &&
           (std::memcmp(magic, "PK\x03\x04", 4) == 0 || std::memcmp(magic, "PK\x05\x06", 4) == 0);
}

}  // namespace

std::optional<ReleaseStore> ReleaseStore::Open(const std::string& dataFolder, std::string& error) {
    if (!EnsureFolder(dataFolder + "/packages")) {
        error = "cannot create the folder " + dataFolder + "/packages";
        return std::nullopt;
    }
    const std::string path = dataFolder + "/service.db";
    auto db = Connect(path);
    if (!db || db->execute(kSchema) != kSqliteOk) {
        error = "cannot create the release table of " + path;
        return std::nullopt;
    }
    return ReleaseStore(dataFolder, path);
}

bool ReleaseStore::publish(const std::string& version, const std::string& sourcePath,
                           const std::string& appName, Release& published, std::string& error) {
    if (!IsVersionText(version)) {
        error = "a version is one to eight dot-separated numbers, such as 1.0.2.3";
        return false;
    }
    if (appName.empty() || !IsValidUtf8(appName)) {
        error = "the application name must be UTF-8 text";
        return false;
    }
    if (!LooksLikeZip(sourcePath)) {
        error = sourcePath + " is not a readable zip archive";
        return false;
    }
    Release release;
    release.version = version;
    release.appName = appName;
    release.file = "Velquist_" + version + ".zip";
    release.size = CopyWhole(sourcePath, packagePath(release), error);
    if (release.size < 0) return false;
    release.published = LocalTimeText();
    auto db = Connect(m_databasePath);
    if (!db) {
        error = "cannot open " + m_databasePath;
        return false;
    }
    DbStatement insert(*db,
                       "INSERT OR REPLACE INTO update_release(version,appname,file,size,published)"
                       " VALUES(?,?,?,?,?)");
    insert.bindText(1, release.version);
    insert.bindText(2, release.appName);
    insert.bindText(3, release.file);
    insert.bindText(4, std::to_string(release.size));
    insert.bindText(5, release.published);
    if (!StepSucceeded(insert.step())) {
        error = "cannot record the release: " + db->errorMessage();
        return false;
    }
    published = release;
    return true;
}

std::optional<Release> ReleaseStore::latest() const {
    std::optional<Release> best;
    for (auto& release : list()) {
        const auto order = best ? CompareVersions(release.version, best->version) : 1;
        if (order && *order >= 0) best = std::move(release);
    }
    return best;
}

std::optional<Release> ReleaseStore::findByFile(const std::string& file) const {
    auto found = ReadReleases(m_databasePath, " WHERE file=?", file);
    if (found.empty()) return std::nullopt;
    return std::move(found.back());
}

std::vector<Release> ReleaseStore::list() const { return ReadReleases(m_databasePath, "", ""); }

std::string ReleaseStore::packagePath(const Release& release) const {
    return m_dataFolder + "/packages/" + release.file;
}

std::string UpdateCheckAnswer(const std::optional<Release>& latest, const std::string& appId,
                              const std::string& appVersion, const std::string& downloadBase) {
    if (!latest || appId != kUpdateAppId) return "404";
    const auto order = CompareVersions(appVersion, latest->version);
    if (!order || *order >= 0) return "404";
    Json::Value answer(Json::objectValue);
    answer["status"] = "0";
    answer["appname"] = latest->appName;
    answer["newversion"] = latest->version;
    answer["updateurl"] = downloadBase + "/download/" + latest->file;
    return WriteJson(answer);
}

}  // namespace velquist::service
