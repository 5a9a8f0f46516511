#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/user_notifier.h"

namespace velquist {

// Shown when the package file cannot be made in the download folder.
inline constexpr const char* kDownloadCreateFileFailed = "HTTP下载[创建文件失败]!";
// Used when the address names no usable file, so the package always lands inside its folder.
inline constexpr const char* kFallbackPackageName = "update.zip";

// The parts of a plain "http://" address the downloader connects with.
struct DownloadUrl {
    std::string host;
    std::string port = "80";
    std::string target = "/";  // path and query, as sent in the request line
};

// "http://HOST[:PORT]/PATH" (the scheme may be left out); nullopt for other schemes, an empty
// host, a bad port, or characters that would break the request line.
std::optional<DownloadUrl> SplitDownloadUrl(std::string_view url);

// The file name a package is stored under: the last "/" part of the address, cut just after
// ".zip" when it holds ".zip". A name that could leave the download folder or clash with its
// scratch folder ("", ".", "..", "temp", control characters, backslashes) becomes
// kFallbackPackageName; a very long one is cut to 200 bytes.
std::string PackageFileName(std::string_view url);

// A plain HTTP/1.1 download over a POSIX socket, separate from the libcurl client: one GET,
// a "200" answer with a Content-Length written to a file in 1 MiB pieces, and "302" answers
// followed. Every wait is bounded, so a stalled or misbehaving server fails the download
// instead of holding it. Download() runs on one thread at a time; received(), total() and
// cancel() may be called from any thread while it runs.
class CHttpDownFile {
  public:
    struct Limits {
        int maxRedirects = 5;
        std::size_t maxHeaderBytes = 64 * 1024;
        // Connecting, and every wait for more bytes, fails after this long without progress.
        std::chrono::milliseconds idleLimit{60000};
    };

    enum class Result {
        Done,
        BadUrl,
        ConnectFailed,
        CreateFileFailed,
        BadAnswer,         // neither "200" nor "302", or an answer that cannot be read
        NoContentLength,   // "200" without a usable Content-Length
        Encoded,           // a transfer or content coding this downloader does not undo
        TooManyRedirects,  // more than maxRedirects "302" answers
        HeaderTooLarge,    // no end of the header within maxHeaderBytes
        TimedOut,          // idleLimit without a byte
        ClosedEarly,       // the connection ended before the header or the body was whole
        WriteFailed,
        Cancelled,
    };

    struct Outcome {
        Result result = Result::BadUrl;
        std::string path;    // the package file, on Done
        std::string detail;  // what went wrong, for logs and the command line
        bool ok() const { return result == Result::Done; }
    };

    // `notifier` (may be null) is told kDownloadCreateFileFailed.
    explicit CHttpDownFile(UserNotifier* notifier = nullptr) : CHttpDownFile(notifier, Limits{}) {}
    CHttpDownFile(UserNotifier* notifier, Limits limits);

    // Downloads `url` into `targetFolder` + "/" + PackageFileName of the final address. A
    // failure removes what was written of the file.
    Outcome Download(const std::string& url, const std::string& targetFolder);

    // Makes a running Download() end with Cancelled within a fraction of a second.
    void cancel() { m_cancelled = true; }

    std::uint64_t received() const { return m_received; }
    std::uint64_t total() const { return m_total; }

  private:
    Outcome fetchOnce(const DownloadUrl& url, const std::string& targetFolder,
                      std::string& redirect);

    UserNotifier* m_notifier;
    Limits m_limits;
    std::atomic<bool> m_cancelled{false};
    std::atomic<std::uint64_t> m_received{0};
    std::atomic<std::uint64_t> m_total{0};
};

// A short English name of a result, for messages on the command line.
const char* DownloadResultText(CHttpDownFile::Result result);

}  // namespace velquist
