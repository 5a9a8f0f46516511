#include "services/update_check.h"

#include <json/json.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/http_client.h"

namespace velquist {

namespace {

std::optional<std::vector<long>> VersionParts(std::string_view text) {
    std::vector<long> parts;
    std::size_t start = 0;
    for (;;) {
        const auto dot = text.find('.', start);
        const std::string_view part = text.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        long value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || part.size() > 9 || error != std::errc() ||
            end != part.data() + part.size() || part.front() == '-' || part.front() == '+')
            return std::nullopt;
        parts.push_back(value);
        if (parts.size() > 8) return std::nullopt;
        if (dot == std::string_view::npos) return parts;
        start = dot + 1;
    }
}

std::string StringMember(const Json::Value& object, const char* key) {
    const Json::Value& value = object[key];
    return value.isString() ? value.asString() : std::string();
}

}  // namespace

int UpdateCheckFlag(const std::string& markerPath) {
    std::error_code ec;
    return std::filesystem::exists(markerPath, ec) ? 0 : 1;
}

std::string UpdateCheckUrl(const HostConfig& hosts, std::string_view version, int checkFlag) {
    return ServiceBaseUrl(hosts.downloadHost) + "/control/dl.php?appid=" + kUpdateAppId +
           "&appversion=" + std::string(version) + "&ischeck=" + std::to_string(checkFlag);
}

UpdateCheckResult ParseUpdateAnswer(const std::string& answer, const std::string& downloadBase) {
    using Outcome = UpdateCheckResult::Outcome;
    UpdateCheckResult result;
    if (answer == "404") {
        result.outcome = Outcome::UpToDate;
        return result;
    }
    result.outcome = Outcome::Unreadable;
    if (answer.find("status") == std::string::npos) return result;
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(answer.data(), answer.data() + answer.size(), &root, &errors))
            return result;
    } catch (const std::exception&) {
        return result;  // the reader throws on some input (nesting too deep)
    }
    if (!root.isObject()) return result;
    if (StringMember(root, "status") != "0") {
        result.outcome = Outcome::UpToDate;
        return result;
    }
    UpdateOffer offer;
    offer.appName = StringMember(root, "appname");
    offer.newVersion = StringMember(root, "newversion");
    offer.updateUrl = StringMember(root, "updateurl");
    // An offer without an address has nothing to download.
    if (offer.updateUrl.empty()) return result;
    if (offer.updateUrl.front() == '/') offer.updateUrl = downloadBase + offer.updateUrl;
    result.outcome = Outcome::Available;
    result.offer = std::move(offer);
    return result;
}

UpdateCheckResult CheckForUpdate(const HostConfig& hosts, std::string_view version,
                                 int timeLimitSeconds) {
    CHttpClient client;
    client.url = UpdateCheckUrl(hosts, version, UpdateCheckFlag());
    client.referer.clear();
    const int limit = std::max(1, std::min(timeLimitSeconds, hosts.httpTimeoutSeconds));
    client.connectTimeoutSeconds = limit;
    client.timeoutSeconds = limit;
    client.maxBodyBytes = kUpdateAnswerMaxBytes;
    std::string answer;
    std::string headers;
    if (client.Perform(answer, headers) != 0) return {};
    return ParseUpdateAnswer(answer, ServiceBaseUrl(hosts.downloadHost));
}

bool IsVersionText(std::string_view text) { return VersionParts(text).has_value(); }

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
    const auto left = VersionParts(a);
    const auto right = VersionParts(b);
    if (!left || !right) return std::nullopt;
    const std::size_t count = std::max(left->size(), right->size());
    for (std::size_t i = 0; i < count; ++i) {
        const long x = i < left->size() ? (*left)[i] : 0;
        const long y = i < right->size() ? (*right)[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace velquist
