#include "core/settings.h"

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>

#include "core/text.h"

namespace velquist {

namespace pt = boost::property_tree;

namespace {

constexpr const char* kSection = "RankSettings";
// The page count was read through a 12-character buffer, so at most 11 characters count.
constexpr std::size_t kPageNumChars = 11;

// Keeps only the lines the INI parser accepts (sections, key=value, comments), and only the
// first occurrence of a section or key, as the profile functions see them. Everything else in a
// damaged file (binary bytes, stray text, repeats) is passed over instead of failing the read.
std::string SanitiseIni(const std::string& raw) {
    std::istringstream in(raw);
    std::ostringstream out;
    std::set<std::string> sections;
    std::set<std::string> keys;
    bool inSection = false;
    bool skipping = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string trimmed = TrimWhitespace(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
        if (trimmed.find('\0') != std::string::npos) continue;
        if (trimmed.front() == '[') {
            const auto close = trimmed.find(']');
            if (close == std::string::npos) continue;
            const std::string name = TrimWhitespace(trimmed.substr(1, close - 1));
            if (name.empty() || name.find('.') != std::string::npos) {
                skipping = true;
                continue;
            }
            skipping = !sections.insert(name).second;
            if (!skipping) {
                out << '[' << name << "]\n";
                keys.clear();
                inSection = true;
            }
            continue;
        }
        if (skipping || !inSection) continue;
        const auto eq = trimmed.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = TrimWhitespace(trimmed.substr(0, eq));
        const std::string value = TrimWhitespace(trimmed.substr(eq + 1));
        if (key.empty() || key.find('.') != std::string::npos || !keys.insert(key).second) continue;
        out << key << '=' << value << '\n';
    }
    return out.str();
}

pt::ptree LoadTree(const std::string& path) {
    pt::ptree tree;
    std::ifstream file(path, std::ios::binary);
    if (!file) return tree;
    std::ostringstream raw;
    raw << file.rdbuf();
    std::istringstream clean(SanitiseIni(raw.str()));
    try {
        pt::read_ini(clean, tree);
    } catch (const pt::ptree_error&) {
        tree.clear();
    }
    return tree;
}

}  // namespace

std::string RankSettings::readValue(const std::string& key, const std::string& fallback) const {
    const pt::ptree tree = LoadTree(m_path);
    const auto section = tree.get_child_optional(kSection);
    if (!section) return fallback;
    const auto value = section->get_optional<std::string>(pt::ptree::path_type(key, '\0'));
    return value ? *value : fallback;
}

void RankSettings::writeValue(const std::string& key, const std::string& value) const {
    pt::ptree tree = LoadTree(m_path);
    tree.put(pt::ptree::path_type(std::string(kSection) + '\0' + key, '\0'), value);
    // Write failures are ignored, as for the profile functions.
    try {
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        if (out) pt::write_ini(out, tree);
    } catch (const pt::ptree_error&) {
    }
}

int RankSettings::readPageCount(int currentPageCount) const {
    const std::string stored = readValue("PageNum", "5");
    const int value = DecimalToInt(std::string_view(stored).substr(0, kPageNumChars));
    if (value >= 1 && value <= 10) return value;
    writePageCount(currentPageCount);
    return currentPageCount;
}

void RankSettings::writePageCount(int pageCount) const {
    writeValue("PageNum", std::to_string(pageCount));
}

std::string RankSettings::readClientId() const { return readValue("Time", ""); }

std::string RankSettings::writeClientId() const {
    const auto seconds = static_cast<std::int32_t>(std::time(nullptr));
    const std::string id = "time_" + std::to_string(seconds);
    writeValue("Time", id);
    return id;
}

}  // namespace velquist
