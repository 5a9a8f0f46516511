#include "tools/search_standin/world.h"

#include <json/json.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <sstream>

namespace velquist::standin {
namespace {

constexpr int kPlantedPages = 5;

std::string Hex32(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return out;
}

bool IsComment(const std::string& key) { return !key.empty() && key.front() == '_'; }

bool CheckKeys(const Json::Value& object, std::initializer_list<std::string_view> allowed,
               const std::string& where, std::string& error) {
    for (const std::string& key : object.getMemberNames()) {
        if (IsComment(key)) {
            continue;
        }
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            error = where + ": unknown key \"" + key + "\"";
            return false;
        }
    }
    return true;
}

bool ReadStringList(const Json::Value& value, const std::string& where,
                    std::vector<std::string>& out, std::string& error) {
    if (!value.isArray()) {
        error = where + ": expected a list of strings";
        return false;
    }
    for (const Json::Value& item : value) {
        if (!item.isString()) {
            error = where + ": expected a list of strings";
            return false;
        }
        out.push_back(item.asString());
    }
    return true;
}

bool ReadInt(const Json::Value& object, const char* key, int low, int high,
             const std::string& where, int& out, std::string& error) {
    if (!object.isMember(key)) {
        return true;
    }
    const Json::Value& value = object[key];
    if (!value.isInt() || value.asInt() < low || value.asInt() > high) {
        error = where + ": \"" + key + "\" must be a whole number from " + std::to_string(low) +
                " to " + std::to_string(high);
        return false;
    }
    out = value.asInt();
    return true;
}

bool ReadBool(const Json::Value& object, const char* key, const std::string& where, bool& out,
              std::string& error) {
    if (!object.isMember(key)) {
        return true;
    }
    if (!object[key].isBool()) {
        error = where + ": \"" + key + "\" must be true or false";
        return false;
    }
    out = object[key].asBool();
    return true;
}

std::string FillerAddress(std::string_view keyword, int pageNo, int slot) {
    const std::string tag = Hex32(Fnv1a64(keyword));
    const int number = (pageNo - 1) * kResultsPerPage + slot + 1;
    const std::string base = "site-" + tag + "-" + std::to_string(number);
    const std::uint64_t roll = Fnv1a64(std::string(keyword) + "\n" + std::to_string(number));
    std::string path;
    switch ((roll >> 8) % 4) {
        case 0:
            path = "/news/" + std::to_string(roll % 900000 + 100000) + ".html";
            break;
        case 1:
            path = "/p/" + std::to_string(roll % 90000 + 10000);
            break;
        case 2:
            path = "/article/20" + std::to_string(10 + (roll >> 20) % 14) + "/" +
                   std::to_string(roll % 9000 + 1000) + ".shtml";
            break;
        default:
            path = "/";
            break;
    }
    // The forms a result page uses to show an address, with and without keyword highlighting.
    switch (roll % 5) {
        case 0:
            return "www." + base + ".com" + path;
        case 1:
            return "www.<b>" + base + "</b>.com" + path;
        case 2:
            return "<b>www." + base + ".com</b>" + path;
        case 3:
            return base + ".com" + path;
        default:
            return "m." + base + ".com" + path;
    }
}

std::string StripScheme(std::string_view site) {
    for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (site.substr(0, scheme.size()) == scheme) {
            site.remove_prefix(scheme.size());
        }
    }
    while (!site.empty() && site.back() == '/') {
        site.remove_suffix(1);
    }
    return std::string(site);
}

// A planted site is shown exactly as listed (plus a page path), plain or wholly highlighted, so a
// client that looks for the listed address finds it.
std::string PlantedOrganicAddress(std::string_view site, std::uint64_t roll) {
    const std::string shown = StripScheme(site);
    const std::string path = (roll >> 40) % 2 == 0
                                 ? "/index.html"
                                 : "/products/" + std::to_string(roll % 9000 + 1000) + ".html";
    if ((roll >> 32) % 2 == 0) {
        return shown + path;
    }
    return "<b>" + shown + "</b>" + path;
}

std::string PlantedAdAddress(std::string_view site) {
    const std::string shown = StripScheme(site);
    return shown.substr(0, shown.find('/'));
}

std::vector<std::string>* Block(AdSlots& ads, std::uint64_t choice) {
    switch (choice % 3) {
        case 0:
            return &ads.top;
        case 1:
            return &ads.bottom;
        default:
            return &ads.right;
    }
}

std::vector<std::string> FillerPage(std::string_view keyword, int pageNo, int count) {
    std::vector<std::string> page;
    for (int slot = 0; slot < count; ++slot) {
        page.push_back(FillerAddress(keyword, pageNo, slot));
    }
    return page;
}

PageResults GeneratedResults(const World& world, std::string_view keyword, int pageNo) {
    PageResults results;
    if (pageNo < 1 || pageNo > kLastPage) {
        return results;
    }
    results.hasNext = pageNo < kLastPage;
    results.organic = FillerPage(keyword, pageNo, kResultsPerPage);
    std::array<bool, kResultsPerPage> planted{};
    for (const std::string& site : world.plantedSites) {
        const std::uint64_t roll = Fnv1a64(std::string(keyword) + "\n" + site);
        // One keyword in five does not show the site at all.
        if (roll % 5 == 0 || static_cast<int>(1 + (roll >> 8) % kPlantedPages) != pageNo) {
            continue;
        }
        std::size_t slot = (roll >> 16) % kResultsPerPage;
        for (int tries = 0; planted[slot] && tries < kResultsPerPage; ++tries) {
            slot = (slot + 1) % kResultsPerPage;
        }
        if (planted[slot]) {
            continue;
        }
        planted[slot] = true;
        results.organic[slot] = PlantedOrganicAddress(site, roll);
    }
    if (pageNo != 1) {
        return results;
    }
    const std::uint64_t adRoll = Fnv1a64(std::string(keyword) + "\nads");
    const std::string tag = Hex32(adRoll);
    for (std::uint64_t i = 0; i < adRoll % 4; ++i) {
        Block(results.ads, adRoll >> (8 + 2 * i))
            ->push_back("www.ad-" + tag + "-" + std::to_string(i + 1) + ".com");
    }
    for (const std::string& site : world.plantedSites) {
        const std::uint64_t roll = Fnv1a64(std::string(keyword) + "\nad\n" + site);
        if (roll % 3 != 0) {
            continue;
        }
        std::vector<std::string>* block = Block(results.ads, roll >> 8);
        const std::size_t position = (roll >> 16) % (block->size() + 1);
        block->insert(block->begin() + static_cast<std::ptrdiff_t>(position),
                      PlantedAdAddress(site));
    }
    return results;
}

// The "pages" and "ads" of a keyword entry or of one of its later checks.
bool ReadRound(const std::string& keyword, const Json::Value& entry, const std::string& where,
               std::vector<std::vector<std::string>>& pages, AdSlots& ads, std::string& error) {
    if (entry.isMember("pages")) {
        const Json::Value& list = entry["pages"];
        if (!list.isArray()) {
            error = where + ": \"pages\" must be a list";
            return false;
        }
        int pageNo = 0;
        for (const Json::Value& page : list) {
            ++pageNo;
            const std::string pageWhere = where + " page " + std::to_string(pageNo);
            if (page.isInt()) {
                // A number stands for that many generated addresses that show no planted site.
                if (page.asInt() < 0 || page.asInt() > 100) {
                    error = pageWhere + ": a generated page holds 0 to 100 results";
                    return false;
                }
                pages.push_back(FillerPage(keyword, pageNo, page.asInt()));
            } else {
                pages.emplace_back();
                if (!ReadStringList(page, pageWhere, pages.back(), error)) {
                    return false;
                }
            }
        }
    }
    if (entry.isMember("ads")) {
        const Json::Value& blocks = entry["ads"];
        if (!blocks.isObject() ||
            !CheckKeys(blocks, {"top", "bottom", "right"}, where + " ads", error)) {
            if (error.empty()) {
                error = where + ": \"ads\" must be an object";
            }
            return false;
        }
        for (const auto& [key, list] :
             {std::pair{"top", &ads.top}, std::pair{"bottom", &ads.bottom},
              std::pair{"right", &ads.right}}) {
            if (blocks.isMember(key) &&
                !ReadStringList(blocks[key], where + " ads." + key, *list, error)) {
                return false;
            }
        }
    }
    return true;
}

bool ReadKeyword(const std::string& keyword, const Json::Value& entry, KeywordWorld& out,
                 std::string& error) {
    const std::string where = "keyword \"" + keyword + "\"";
    if (!entry.isObject()) {
        error = where + ": expected an object";
        return false;
    }
    if (!CheckKeys(entry,
                   {"pages", "ads", "later_checks", "fail_status", "fail_times", "drop_times",
                    "delay_ms", "verify", "no_next", "truncate_at"},
                   where, error) ||
        !ReadRound(keyword, entry, where, out.pages, out.ads, error)) {
        return false;
    }
    if (entry.isMember("later_checks")) {
        const Json::Value& later = entry["later_checks"];
        if (!later.isArray()) {
            error = where + ": \"later_checks\" must be a list";
            return false;
        }
        int check = 1;
        for (const Json::Value& round : later) {
            const std::string roundWhere = where + " check " + std::to_string(++check);
            if (!round.isObject()) {
                error = roundWhere + ": expected an object";
                return false;
            }
            // What a check leaves out stays as the check before it showed it.
            KeywordRound next =
                out.laterChecks.empty() ? KeywordRound{out.pages, out.ads} : out.laterChecks.back();
            if (round.isMember("pages")) next.pages.clear();
            if (round.isMember("ads")) next.ads = {};
            if (!CheckKeys(round, {"pages", "ads"}, roundWhere, error) ||
                !ReadRound(keyword, round, roundWhere, next.pages, next.ads, error)) {
                return false;
            }
            out.laterChecks.push_back(std::move(next));
        }
    }
    KeywordBehaviour& behaviour = out.behaviour;
    int truncateAt = -1;
    if (!ReadInt(entry, "fail_status", 100, 599, where, behaviour.failStatus, error) ||
        !ReadInt(entry, "fail_times", 0, 1000000, where, behaviour.failTimes, error) ||
        !ReadInt(entry, "drop_times", 0, 1000000, where, behaviour.dropTimes, error) ||
        !ReadInt(entry, "delay_ms", 0, 600000, where, behaviour.delayMs, error) ||
        !ReadInt(entry, "truncate_at", 0, 1 << 30, where, truncateAt, error) ||
        !ReadBool(entry, "verify", where, behaviour.verify, error) ||
        !ReadBool(entry, "no_next", where, behaviour.noNext, error)) {
        return false;
    }
    behaviour.truncateAt = truncateAt;
    return true;
}

}  // namespace

std::optional<World> ParseWorld(std::string_view json, std::string& error) {
    error.clear();
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string parseErrors;
    if (!reader->parse(json.data(), json.data() + json.size(), &root, &parseErrors)) {
        error = "world is not valid JSON: " + parseErrors;
        return std::nullopt;
    }
    if (!root.isObject()) {
        error = "world must be a JSON object";
        return std::nullopt;
    }
    if (!CheckKeys(root, {"planted_sites", "keywords"}, "world", error)) {
        return std::nullopt;
    }
    World world;
    if (root.isMember("planted_sites") &&
        !ReadStringList(root["planted_sites"], "planted_sites", world.plantedSites, error)) {
        return std::nullopt;
    }
    if (root.isMember("keywords")) {
        const Json::Value& keywords = root["keywords"];
        if (!keywords.isObject()) {
            error = "\"keywords\" must be an object";
            return std::nullopt;
        }
        for (const std::string& keyword : keywords.getMemberNames()) {
            if (IsComment(keyword)) {
                continue;
            }
            KeywordWorld entry;
            if (!ReadKeyword(keyword, keywords[keyword], entry, error)) {
                return std::nullopt;
            }
            world.keywords.emplace(keyword, std::move(entry));
        }
    }
    return world;
}

std::optional<World> LoadWorldFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open world file " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = "cannot read world file " + path;
        return std::nullopt;
    }
    std::optional<World> world = ParseWorld(text.str(), error);
    if (!world) {
        error = path + ": " + error;
    }
    return world;
}

PageResults ResultsFor(const World& world, std::string_view keyword, int pageNo, int check) {
    const auto found = world.keywords.find(keyword);
    if (found == world.keywords.end()) {
        return GeneratedResults(world, keyword, pageNo);
    }
    const KeywordWorld& entry = found->second;
    // Check 1 shows the entry's own pages, checks 2, 3, ... its later ones, then round again.
    const std::size_t round =
        static_cast<std::size_t>(std::max(check, 1) - 1) % (entry.laterChecks.size() + 1);
    const auto& pages = round == 0 ? entry.pages : entry.laterChecks[round - 1].pages;
    const AdSlots& ads = round == 0 ? entry.ads : entry.laterChecks[round - 1].ads;
    const int lastPage = std::max(kLastPage, static_cast<int>(pages.size()));
    PageResults results;
    if (pageNo < 1 || pageNo > lastPage) {
        return results;
    }
    results.hasNext = pageNo < lastPage && !entry.behaviour.noNext;
    if (pageNo <= static_cast<int>(pages.size())) {
        results.organic = pages[static_cast<std::size_t>(pageNo - 1)];
    } else {
        results.organic = FillerPage(keyword, pageNo, kResultsPerPage);
    }
    if (pageNo == 1) {
        results.ads = ads;
    }
    return results;
}

const KeywordBehaviour* BehaviourFor(const World& world, std::string_view keyword) {
    const auto found = world.keywords.find(keyword);
    return found == world.keywords.end() ? nullptr : &found->second.behaviour;
}

std::size_t PageBytesFor(std::string_view keyword, int pageNo) {
    const std::uint64_t roll = Fnv1a64(std::string(keyword) + "#" + std::to_string(pageNo));
    return 60 * 1024 + roll % (140 * 1024);
}

}  // namespace velquist::standin
