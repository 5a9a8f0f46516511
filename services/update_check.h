#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/host_config.h"

namespace velquist {

inline constexpr const char* kUpdateAppId = "13";
// On the vendor's own test computers this file marks a check that is not to be counted.
inline constexpr const char* kUncountedCheckMarker = "D://Velquist.txt";
// A check answer is a small JSON object; anything larger is refused unread.
inline constexpr std::size_t kUpdateAnswerMaxBytes = 64 * 1024;
// The window waits for the check before it opens, so the check never waits long.
inline constexpr int kUpdateCheckTimeLimitSeconds = 15;

// What the download service offers when a newer version exists.
struct UpdateOffer {
    std::string appName;
    std::string newVersion;
    std::string updateUrl;
};

// 1, or 0 when `markerPath` exists.
int UpdateCheckFlag(const std::string& markerPath = kUncountedCheckMarker);

// Download service base + "/control/dl.php?appid=13&appversion=VERSION&ischeck=FLAG".
std::string UpdateCheckUrl(const HostConfig& hosts, std::string_view version, int checkFlag);

struct UpdateCheckResult {
    enum class Outcome {
        UpToDate,     // "404", or a status other than "0"
        Available,    // status "0" with an address to download
        Unreachable,  // the request did not complete
        Unreadable,   // an answer without "status", or one that is not a JSON object
    };
    Outcome outcome = Outcome::Unreachable;
    UpdateOffer offer;  // on Available
};

// Reads a check answer. An address that starts with "/" is taken on `downloadBase`.
UpdateCheckResult ParseUpdateAnswer(const std::string& answer, const std::string& downloadBase);

// Asks the download service whether a version newer than `version` exists. Blocks for the
// request, at most `timeLimitSeconds` (and never longer than the configured HTTP time limit).
// Any thread.
UpdateCheckResult CheckForUpdate(const HostConfig& hosts, std::string_view version,
                                 int timeLimitSeconds = kUpdateCheckTimeLimitSeconds);

// A version is one to eight dot-separated numbers of up to nine digits ("1.0.2.3").
bool IsVersionText(std::string_view text);
// <0, 0 or >0 as `a` is older than, the same as or newer than `b`; missing parts count as 0
// ("1.0" == "1.0.0.0"). nullopt when either is not a version.
std::optional<int> CompareVersions(std::string_view a, std::string_view b);

}  // namespace velquist
