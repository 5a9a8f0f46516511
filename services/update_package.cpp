#include "services/update_package.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/database.h"
#include "services/unique_fd.h"

namespace velquist {

namespace {

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool Readable(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return file.is_open();
}

}  // namespace

std::string DownloadFolder(const std::string& dataFolder) { return dataFolder + "/download"; }

std::string UpdateScratchFolder(const std::string& dataFolder) {
    return DownloadFolder(dataFolder) + "/temp";
}

std::string UpdateMarkerPath(const std::string& dataFolder) {
    return dataFolder + "/" + kUpdateMarkerName;
}

std::string CleanupMarkerPath(const std::string& dataFolder) {
    return dataFolder + "/" + kCleanupMarkerName;
}

std::string DownloadPercentText(std::uint64_t received, std::uint64_t total) {
    const std::uint64_t percent =
        total == 0 ? 0 : std::min<std::uint64_t>(received, total) * 100 / total;
    return "已下载 " + std::to_string(percent) + "%";
}

std::string MegabytesText(std::uint64_t bytes) {
    return Format("%.2fMB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

std::string SpeedText(double bytesPerSecond) {
    if (bytesPerSecond >= 1024.0 * 1024.0)
        return Format("%.2fMB/S", bytesPerSecond / (1024.0 * 1024.0));
    return Format("%.2fKB/S", bytesPerSecond / 1024.0);
}

std::string DownloadProgressText(std::uint64_t received, std::uint64_t total,
                                 double bytesPerSecond) {
    return MegabytesText(received) + "/" + MegabytesText(total) + " - 下载速度 " +
           SpeedText(bytesPerSecond);
}

bool RecordAppVersion(const std::string& databasePath, const std::string& appName,
                      const std::string& version) {
    DbConnection db;
    if (!db.open(databasePath)) return false;
    WriteTransaction transaction(db);
    if (!transaction.begun()) return false;
    DbStatement count(db,
                      std::string("SELECT COUNT(*) FROM app WHERE appid=") + kUpdateAppId + ";");
    const int rc = count.step();
    if (rc != kSqliteRow) return false;
    const bool exists = count.columnInt(0) > 0;
    count.finish();
    if (exists) {
        DbStatement update(db, "UPDATE app SET appname=?, VERSION=? WHERE appid=?;");
        update.bindText(1, appName);
        update.bindText(2, version);
        update.bindText(3, kUpdateAppId);
        if (!StepSucceeded(update.step())) return false;
    } else {
        DbStatement insert(db, "INSERT INTO app(appid, appname, version) VALUES(?,?,?);");
        insert.bindText(1, kUpdateAppId);
        insert.bindText(2, appName);
        insert.bindText(3, version);
        if (!StepSucceeded(insert.step())) return false;
    }
    return transaction.commit();
}

std::string RecordedAppVersion(const std::string& databasePath) {
    DbConnection db;
    if (!db.open(databasePath)) return {};
    DbStatement select(db, std::string("SELECT version FROM app WHERE appid=") + kUpdateAppId);
    return select.step() == kSqliteRow ? select.columnText(0) : std::string();
}

bool WriteUpdateMarker(const std::string& dataFolder, const std::string& packagePath) {
    const std::string path = UpdateMarkerPath(dataFolder);
    const std::string temporary = path + ".tmp";
    ::unlink(temporary.c_str());
    UniqueFd file = AdoptFd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!file) return false;
    const bool written = ::write(file.get().fd, packagePath.data(), packagePath.size()) ==
                             static_cast<ssize_t>(packagePath.size()) &&
                         ::fsync(file.get().fd) == 0;
    if (::close(file.release().fd) != 0 || !written ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> ReadUpdateMarker(const std::string& dataFolder) {
    std::ifstream file(UpdateMarkerPath(dataFolder), std::ios::binary);
    if (!file.is_open()) return std::nullopt;
    std::string text(kUpdateMarkerMaxBytes, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (const auto zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

UpdateDownloadResult DownloadUpdate(const UpdateOffer& offer, const AppPaths& paths,
                                    CHttpDownFile& downloader) {
    UpdateDownloadResult result;
    const std::string folder = DownloadFolder(paths.dataFolder);
    if (!EnsureFolder(folder)) {
        result.download = {CHttpDownFile::Result::CreateFileFailed,
                           {},
                           "cannot create the download folder " + folder};
        return result;
    }
    result.download = downloader.Download(offer.updateUrl, folder);
    if (!result.download.ok()) return result;
    result.versionRecorded = RecordAppVersion(paths.databasePath, offer.appName, offer.newVersion);
    // The updater may run in another folder: the marker names the package by its full path.
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(result.download.path, ec);
    if (!ec) result.download.path = absolute.lexically_normal().string();
    result.markerWritten = WriteUpdateMarker(paths.dataFolder, result.download.path);
    if (!result.markerWritten) {
        // Without the marker nobody installs the package; it would only take up room.
        ::unlink(result.download.path.c_str());
        result.download.detail = "cannot write " + UpdateMarkerPath(paths.dataFolder);
    }
    return result;
}

UpdaterHandOff PlanUpdaterHandOff(const std::string& dataFolder) {
    UpdaterHandOff plan;
    if (Readable(CleanupMarkerPath(dataFolder))) ++plan.updaterStarts;
    if (Readable(UpdateMarkerPath(dataFolder))) {
        ++plan.updaterStarts;
        plan.openWindow = false;
    }
    return plan;
}

void RemoveUpdaterLeftover(const std::string& programFolder) {
    ::unlink((programFolder + "/" + kUpdaterLeftoverName).c_str());
}

}  // namespace velquist
