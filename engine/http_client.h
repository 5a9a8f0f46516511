#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace velquist {

// The program's one way to make an HTTP(S) request: a thin layer over a libcurl easy handle
// created and destroyed inside every Perform. Between requests only these fields persist; the
// caller changes url, referer and postData as it goes. One object per thread; never shared
// while a request runs.
class CHttpClient {
  public:
    static constexpr const char* kDefaultUserAgent =
        "Mozilla/5.0 (Windows NT 6.1; WOW64; Trident/7.0; rv:11.0) like Gecko";
    static constexpr long kDefaultTimeoutSeconds = 120;
    // A result page is a few hundred KB; anything far beyond that is broken or hostile.
    static constexpr std::size_t kDefaultMaxBodyBytes = 8 * 1024 * 1024;

    CHttpClient();

    // Fetches `url`. Returns 0 on success, a libcurl code for a failed transfer, -1 when no
    // handle could be made or `url` is empty (nothing sent). An HTTP error status is a success:
    // responseCode tells it. `body` gets the decoded body; `headers` the final response's header
    // block (of a redirect chain) without its closing blank line. postData is cleared afterwards.
    int Perform(std::string& body, std::string& headers);

    // True for the codes Perform returns when a body went over maxBodyBytes.
    static bool IsOversizedBody(int performResult);

    // libcurl's process-wide set-up, once, before worker threads exist. Safe to call again.
    static void GlobalInit();
    // OpenSSL 3 locks internally, so the old lock table is not needed: both only keep the
    // start-up and shutdown calls in their places.
    static bool InstallTlsLocks();
    static void RemoveTlsLocks();

    std::mutex lock;  // guards the observer call and the cookie jar write
    std::function<void(std::string)> cookieObserver;
    std::string url;
    std::string userAgent = kDefaultUserAgent;
    std::string referer;
    std::string postData;
    std::string cookieJarPath;
    std::string cookieLines;
    std::string cookieHeader;
    std::string acceptHeader = "Accept: text/html, application/xhtml+xml, * / *";
    std::string acceptLanguageHeader = "Accept-Language: zh-CN";
    std::string dntHeader = "DNT: 1";
    std::string connectionHeader = "Connection: keep-alive";
    int responseCode = -1;
    bool verbose = false;
    bool noCookieSave = false;
    // Connect and whole-transfer limits; 120 s each unless configuration says otherwise.
    long connectTimeoutSeconds = kDefaultTimeoutSeconds;
    long timeoutSeconds = kDefaultTimeoutSeconds;
    // Decoded body bytes beyond this fail the transfer (CURLE_WRITE_ERROR or
    // CURLE_FILESIZE_EXCEEDED); redirects are followed at most 10 times.
    std::size_t maxBodyBytes = kDefaultMaxBodyBytes;
};

}  // namespace velquist
