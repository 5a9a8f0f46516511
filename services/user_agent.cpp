#include "services/user_agent.h"

#include <fmt/format.h>
#include <json/json.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>

#include "core/process_state.h"
#include "core/text.h"
#include "engine/http_client.h"

namespace velquist {

namespace {

std::string WithoutTrailingSlash(std::string base) {
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

// The user agent goes out as a header on every result-page request; a line break or other
// control byte in it would let the answer forge extra header lines.
bool FitsInHeader(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

}  // namespace

std::string MakeStartupGuidText() {
    std::random_device entropy;
    std::uniform_int_distribution<std::uint32_t> word;
    const std::uint32_t data1 = word(entropy);
    const std::uint32_t middle = word(entropy);
    auto data2 = static_cast<std::uint16_t>(middle >> 16);
    // Version 4 (random) in the top bits of the third field, as a freshly made GUID carries.
    auto data3 = static_cast<std::uint16_t>((middle & 0x0FFF) | 0x4000);
    unsigned char data4[8];
    for (int i = 0; i < 8; i += 4) {
        const std::uint32_t bits = word(entropy);
        for (int j = 0; j < 4; ++j) data4[i + j] = static_cast<unsigned char>(bits >> (8 * j));
    }
    data4[0] = static_cast<unsigned char>((data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
    return fmt::format("{:08X}{:04X}{:04X}{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}", data1,
                       data2, data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5],
                       data4[6], data4[7]);
}

std::string UserAgentPushUrl(const std::string& uaBase, const std::string& guid) {
    return fmt::format("{0}/ua/?guid={1}&act=push", WithoutTrailingSlash(uaBase), guid);
}

std::string UserAgentPopUrl(const std::string& uaBase, const std::string& guid) {
    return fmt::format("{0}/ua/?guid={1}&act=pop", WithoutTrailingSlash(uaBase), guid);
}

std::string UserAgentFromPopAnswer(const std::string& body) {
    if (body.size() > kUserAgentPopAnswerMaxBytes) return {};
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors)) return {};
    } catch (const std::exception&) {
        // The reader throws instead of failing on some input, nesting too deep among them.
        return {};
    }
    if (!root.isObject()) return {};
    const Json::Value& value = root["http_user_agent"];
    if (!value.isString()) return {};
    std::string userAgent = value.asString();
    if (userAgent.empty() || userAgent == kUserAgentBare || !FitsInHeader(userAgent)) return {};
    return userAgent;
}

std::string UserAgentExchange(const HostConfig& hosts, const std::string& guid, bool singleAttempt,
                              const Sleeper& sleep) {
    CHttpClient client;
    client.url = UserAgentPopUrl(ServiceBaseUrl(hosts.uaHost), guid);
    client.connectTimeoutSeconds = hosts.httpTimeoutSeconds;
    client.timeoutSeconds = hosts.httpTimeoutSeconds;

    std::string body;
    std::string headers;
    const int attempts = singleAttempt ? 1 : kUserAgentPollAttempts;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // The browser needs time to reach the push page before anything can be read back.
        if (!singleAttempt && sleep) sleep(kUserAgentPollInterval);
        client.Perform(body, headers);
        if (body.find(kUserAgentReadyMarker) != std::string::npos) break;
    }
    return UserAgentFromPopAnswer(body);
}

std::string LocalUserAgent() { return kUserAgentLocalFallback; }

std::string ChooseUserAgent(const std::string& exchanged, const std::string& local) {
    const std::string& chosen = !exchanged.empty() ? exchanged
                                : !local.empty()   ? local
                                                   : std::string(kUserAgentLastResort);
    return Utf8Prefix(chosen, ProcessState::kUserAgentMaxBytes);
}

std::string DiscoverUserAgent(const HostConfig& hosts, const std::string& guid, bool singleAttempt,
                              Sleeper sleep) {
    std::string exchanged;
    try {
        exchanged = UserAgentExchange(hosts, guid, singleAttempt, sleep);
    } catch (const std::exception&) {
        // Discovery runs before any work; whatever goes wrong in it only costs the exchanged
        // identity, never the run.
        exchanged.clear();
    }
    return ChooseUserAgent(exchanged, LocalUserAgent());
}

std::string DiscoverAndStoreUserAgent(const HostConfig& hosts, const std::string& guid,
                                      bool singleAttempt, Sleeper sleep) {
    std::string userAgent = DiscoverUserAgent(hosts, guid, singleAttempt, std::move(sleep));
    Process().setUserAgent(userAgent);
    return userAgent;
}

}  // namespace velquist
