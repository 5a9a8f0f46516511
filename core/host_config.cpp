#include "core/host_config.h"

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstdlib>
#include <fstream>

#include "core/text.h"

namespace velquist {

namespace {

struct Field {
    const char* key;
    const char* env;
    std::string HostConfig::*member;
};

const Field kFields[] = {
    {"search_host", "VELQUIST_SEARCH_HOST", &HostConfig::searchHost},
    {"search_domain", "VELQUIST_SEARCH_DOMAIN", &HostConfig::searchDomain},
    {"account_host", "VELQUIST_ACCOUNT_HOST", &HostConfig::accountHost},
    {"statistics_host", "VELQUIST_STATISTICS_HOST", &HostConfig::statisticsHost},
    {"report_host", "VELQUIST_REPORT_HOST", &HostConfig::reportHost},
    {"ua_host", "VELQUIST_UA_HOST", &HostConfig::uaHost},
    {"download_host", "VELQUIST_DOWNLOAD_HOST", &HostConfig::downloadHost},
};

// A value that is not a usable number of seconds changes nothing.
void SetTimeout(HostConfig& config, const std::string& text) {
    if (const auto seconds = ParseHttpTimeout(TrimWhitespace(text)))
        config.httpTimeoutSeconds = *seconds;
}

}  // namespace

void HostConfig::applyFile(const std::string& iniPath) {
    std::ifstream in(iniPath);
    if (!in) return;
    boost::property_tree::ptree tree;
    try {
        boost::property_tree::read_ini(in, tree);
    } catch (const boost::property_tree::ptree_error&) {
        return;  // a broken file changes nothing
    }
    const auto hosts = tree.get_child_optional("hosts");
    if (!hosts) return;
    for (const auto& field : kFields) {
        if (auto value = hosts->get_optional<std::string>(field.key))
            if (!TrimWhitespace(*value).empty()) this->*field.member = TrimWhitespace(*value);
    }
    if (auto timeout = hosts->get_optional<std::string>("http_timeout"))
        SetTimeout(*this, *timeout);
}

void HostConfig::applyEnvironment() {
    for (const auto& field : kFields) {
        const char* value = std::getenv(field.env);
        if (value && *value) this->*field.member = value;
    }
    if (const char* timeout = std::getenv("VELQUIST_HTTP_TIMEOUT")) SetTimeout(*this, timeout);
}

HostConfig HostConfig::Load(const std::string& programFolder, const std::string& dataFolder) {
    HostConfig config;
    config.applyFile(programFolder + "/velquist.ini");
    if (dataFolder != programFolder) config.applyFile(dataFolder + "/velquist.ini");
    config.applyEnvironment();
    return config;
}

std::optional<int> ParseHttpTimeout(std::string_view text) {
    constexpr int kMaxSeconds = 3600;
    if (text.empty() || text.size() > 4) return std::nullopt;
    int seconds = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    if (seconds < 1 || seconds > kMaxSeconds) return std::nullopt;
    return seconds;
}

std::string ServiceBaseUrl(const std::string& host) {
    std::string base = host.find("://") != std::string::npos ? host : "http://" + host;
    // Paths are appended with their own "/".
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

}  // namespace velquist
