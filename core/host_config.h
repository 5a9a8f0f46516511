#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velquist {

// Where the program's requests go. Defaults are the real hosts; a "velquist.ini" file beside
// the program or in the data folder (section [hosts]), then VELQUIST_* environment variables,
// then command-line flags override them, so tests and the offline demo point at loopback.
struct HostConfig {
    std::string searchHost = "www.so.com";  // may carry a port: "127.0.0.1:8443"
    std::string searchDomain = "so.com";
    std::string accountHost = "account.velquist.com";
    std::string statisticsHost = "stat.velquist.com";
    std::string reportHost = "report.velquist.com";
    std::string uaHost = "account.velquist.com";
    std::string downloadHost = "download.velquist.com";
    // Connect and whole-transfer time limit of every request, in seconds.
    int httpTimeoutSeconds = 120;

    // Applies velquist.ini from each folder in turn (later wins), then the environment.
    static HostConfig Load(const std::string& programFolder, const std::string& dataFolder);
    void applyFile(const std::string& iniPath);
    void applyEnvironment();
};

// Seconds of an HTTP time limit: a whole number from 1 to 3600 written in plain digits, else
// nullopt (a slip such as "5abc" or a huge number must not become a limit nobody asked for).
std::optional<int> ParseHttpTimeout(std::string_view text);

// A vendor host as a base URL: kept as it is when it names a scheme, else "http://" + host;
// without a trailing "/", since every path is appended with its own.
std::string ServiceBaseUrl(const std::string& host);

}  // namespace velquist
