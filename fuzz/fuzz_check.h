#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken property is a crash to libFuzzer, so it keeps the input that shows it.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__,       \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)

namespace velquist::fuzz {

// The page harnesses read their input as "SITE-ADDRESS\nPAGE": the first line is the promotion
// site, the rest the page. An input without a line break is a page for a fixed site.
struct SiteAndPage {
    std::string_view site;
    std::string_view page;
};

inline SiteAndPage SplitSiteAndPage(std::string_view input) {
    const auto newline = input.find('\n');
    if (newline == std::string_view::npos) return {"www.mine.com", input};
    return {input.substr(0, newline), input.substr(newline + 1)};
}

}  // namespace velquist::fuzz
