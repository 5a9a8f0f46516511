#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/paths.h"
#include "core/user_notifier.h"
#include "services/http_down_file.h"
#include "services/update_check.h"

namespace velquist {

// The files the program and its updater hand over to each other. The markers live in the data
// folder, the programs and the ".utmp" leftovers in the program folder.
inline constexpr const char* kUpdateMarkerName = "update.txt";
inline constexpr const char* kCleanupMarkerName = "del.txt";
inline constexpr const char* kMainProgramName = "Morvane";
inline constexpr const char* kUpdaterProgramName = "Tallowin";
inline constexpr const char* kUpdaterLeftoverName = "Tallowin.utmp";
inline constexpr const char* kLeftoverSuffix = ".utmp";
// "update.txt" names a package path; more than this is not a path.
inline constexpr std::size_t kUpdateMarkerMaxBytes = 4096;

// The download dialog's fixed texts.
inline constexpr const char* kUpdateDialogCaption =
    "Zanquil关键词排名查询软件（360版-永久免费）升级";
inline constexpr const char* kUpdateDialogText = "正在下载升级包";
inline constexpr const char* kUpdateDownloadFailed = "升级包下载失败，请稍后再试！";

std::string DownloadFolder(const std::string& dataFolder);       // + "/download"
std::string UpdateScratchFolder(const std::string& dataFolder);  // + "/download/temp"
std::string UpdateMarkerPath(const std::string& dataFolder);     // + "/update.txt"
std::string CleanupMarkerPath(const std::string& dataFolder);    // + "/del.txt"

// The progress texts: "已下载 %d%%", sizes as "%.2fMB", a speed as "%.2fMB/S" from 1 MB a
// second up, else "%.2fKB/S", and "%s/%s - 下载速度 %s" of the three.
std::string DownloadPercentText(std::uint64_t received, std::uint64_t total);
std::string MegabytesText(std::uint64_t bytes);
std::string SpeedText(double bytesPerSecond);
std::string DownloadProgressText(std::uint64_t received, std::uint64_t total,
                                 double bytesPerSecond);

// Notes the new version of application 13 in table `app`: its row is updated, or made when
// there is none. False when the database could not be written.
bool RecordAppVersion(const std::string& databasePath, const std::string& appName,
                      const std::string& version);
// The version table `app` holds for application 13; "" when there is none.
std::string RecordedAppVersion(const std::string& databasePath);

// Writes "update.txt" (the package path, UTF-8) whole through a temporary file and a rename.
bool WriteUpdateMarker(const std::string& dataFolder, const std::string& packagePath);
// The package path of "update.txt": at most kUpdateMarkerMaxBytes, up to the first zero byte,
// line breaks at the end dropped. nullopt when there is no such file; "" when it is empty.
std::optional<std::string> ReadUpdateMarker(const std::string& dataFolder);

struct UpdateDownloadResult {
    CHttpDownFile::Outcome download;
    bool versionRecorded = false;
    bool markerWritten = false;
    bool ok() const { return download.ok() && markerWritten; }
};

// What follows a yes from the service: the package into the download folder, the version
// into `app`, and "update.txt" naming the package. A failed step leaves no "update.txt" and no
// package file, so the installed program stays as it is. Blocks; run it on a worker thread.
UpdateDownloadResult DownloadUpdate(const UpdateOffer& offer, const AppPaths& paths,
                                    CHttpDownFile& downloader);

// What the start of the program does with the hand-off markers: start the updater once for
// "del.txt" and once more for "update.txt", and open no window while "update.txt" exists.
struct UpdaterHandOff {
    int updaterStarts = 0;
    bool openWindow = true;
};
UpdaterHandOff PlanUpdaterHandOff(const std::string& dataFolder);

// Deletes "Tallowin.utmp" in the program folder, the updater's own leftover.
void RemoveUpdaterLeftover(const std::string& programFolder);

}  // namespace velquist
