#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/search_standin/result_page.h"

namespace velquist::standin {

inline constexpr int kLastPage = 10;
inline constexpr int kResultsPerPage = 10;

// How the server misbehaves for one keyword. Counts refer to that keyword's requests in arrival
// order (1-based), all pages together: the first dropTimes requests are dropped, the next
// failTimes are answered with failStatus, later ones are served.
struct KeywordBehaviour {
    int failStatus = 503;
    int failTimes = 0;
    int dropTimes = 0;          // the connection is closed without an answer
    int delayMs = 0;            // every answer waits this long
    bool verify = false;        // always the verification page
    bool noNext = false;        // pages carry no next-page link
    long long truncateAt = -1;  // >= 0: the body is cut to this many bytes (a complete response)
};

// What the result pages of one check of a keyword show.
struct KeywordRound {
    std::vector<std::vector<std::string>> pages;  // displayed organic addresses per page
    AdSlots ads;                                  // shown on page 1
};

struct KeywordWorld {
    std::vector<std::vector<std::string>> pages;  // displayed organic addresses per page
    AdSlots ads;                                  // shown on page 1
    // The pages of the keyword's second, third, ... check, so ranks move between runs; after
    // the last one the checks start again with `pages` and `ads`.
    std::vector<KeywordRound> laterChecks;
    KeywordBehaviour behaviour;
};

struct World {
    std::vector<std::string> plantedSites;
    std::map<std::string, KeywordWorld, std::less<>> keywords;
};

// Reads a world from JSON text or a file (format in README.md). Unknown keys are refused so a
// misspelt behaviour does not pass silently; keys starting with "_" are comments.
std::optional<World> ParseWorld(std::string_view json, std::string& error);
std::optional<World> LoadWorldFile(const std::string& path, std::string& error);

struct PageResults {
    std::vector<std::string> organic;
    AdSlots ads;
    bool hasNext = false;
};

// The results page `pageNo` (1-based) shows for `keyword` in its `check`-th check (1-based,
// counted by its page-1 requests): the world's entry when it has one, otherwise generated from
// the keyword's hash with the planted sites placed in it.
PageResults ResultsFor(const World& world, std::string_view keyword, int pageNo, int check = 1);

// The keyword's behaviour, or nullptr for keywords the world does not list.
const KeywordBehaviour* BehaviourFor(const World& world, std::string_view keyword);

// Deterministic page size for a keyword and page, between 60 KB and 200 KB.
std::size_t PageBytesFor(std::string_view keyword, int pageNo);

}  // namespace velquist::standin
