#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "core/host_config.h"
#include "engine/sleeper.h"

namespace velquist {

// Fixed browser identities. On Linux there is no local browser to ask, so the last two are the
// only ones discovery can fall back to; the others name what a corrected local answer would be.
inline constexpr const char* kUserAgentIe10 =
    "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; Trident/6.0)";
inline constexpr const char* kUserAgentIe10Wow64 =
    "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; WOW64; Trident/6.0)";
inline constexpr const char* kUserAgentIe9 =
    "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)";
inline constexpr const char* kUserAgentIe9Wow64 =
    "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
// Used when the local page yields nothing.
inline constexpr const char* kUserAgentLocalFallback =
    "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; SLCC2; .NET CLR 2.0.50727; "
    ".NET CLR 3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0; .NET4.0C; .NET4.0E; "
    "InfoPath.2)";
// Used when every other way left the user agent empty.
inline constexpr const char* kUserAgentLastResort = kUserAgentIe10;

// The pop answer's user agent when it is only this, the recording page saw no real browser.
inline constexpr const char* kUserAgentBare = "Mozilla/4.0";
// A pop answer carrying this has the recorded user agent; polling stops at it.
inline constexpr const char* kUserAgentReadyMarker = "\"error\":\"200\"";
// A pop answer is a small JSON object; anything larger is refused unread.
inline constexpr std::size_t kUserAgentPopAnswerMaxBytes = 64 * 1024;
inline constexpr int kUserAgentPollAttempts = 30;
inline constexpr std::chrono::milliseconds kUserAgentPollInterval{2000};

// 32 uppercase hex digits of a fresh random GUID, fields in order, no separators.
std::string MakeStartupGuidText();

// Where a browser leaves its User-Agent under `guid`, and where the program reads it back.
std::string UserAgentPushUrl(const std::string& uaBase, const std::string& guid);
std::string UserAgentPopUrl(const std::string& uaBase, const std::string& guid);

// The user agent of a pop answer: member "http_user_agent" of a JSON object when it is a
// non-empty string other than "Mozilla/4.0" and fit to travel as a header value; else "". An
// answer over kUserAgentPopAnswerMaxBytes, or one that does not parse, gives "" too.
std::string UserAgentFromPopAnswer(const std::string& body);

// Polls the pop URL on the ua host: `kUserAgentPollAttempts` attempts, each after a pause of
// `kUserAgentPollInterval`, until a body carries the ready marker; `singleAttempt` makes one
// attempt without a pause. Returns the accepted user agent of the last body, or "".
std::string UserAgentExchange(const HostConfig& hosts, const std::string& guid, bool singleAttempt,
                              const Sleeper& sleep);

// What local discovery gives here: no browser can be asked, so the fixed local fallback.
std::string LocalUserAgent();

// The first non-empty of the exchanged and the local user agent, else the last resort; cut to
// the size of the process-wide user-agent text.
std::string ChooseUserAgent(const std::string& exchanged, const std::string& local);

// The exchange, then local discovery; never returns an empty text and never throws: a failed
// exchange only means falling back.
std::string DiscoverUserAgent(const HostConfig& hosts, const std::string& guid, bool singleAttempt,
                              Sleeper sleep);

// DiscoverUserAgent, stored as the process-wide user agent the query runs send. Returns it.
std::string DiscoverAndStoreUserAgent(const HostConfig& hosts, const std::string& guid,
                                      bool singleAttempt, Sleeper sleep);

}  // namespace velquist
