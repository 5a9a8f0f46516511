#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velquist::standin {

// Displayed addresses of the three advertisement blocks, in slot order. Each entry is written
// verbatim between <cite> and </cite>.
struct AdSlots {
    std::vector<std::string> top;
    std::vector<std::string> bottom;
    std::vector<std::string> right;
};

// Everything one result page shows. Addresses are inserted as given (they may carry <b>
// highlighting); the keyword is HTML-escaped wherever it is echoed.
struct ResultPageContent {
    std::string keyword;
    int pageNo = 1;
    std::vector<std::string> organic;
    AdSlots ads;
    // Link target of the next-page anchor, without a leading slash; empty leaves the anchor out.
    std::string nextTarget;
    // The page is padded with markup that carries no result until it is at least this long.
    std::size_t targetBytes = 100 * 1024;
};

// A complete result page: head with styles and scripts, the top advertisement list, the organic
// list, the bottom advertisement list (always present, possibly empty, so the organic list ends
// before it), the pager, then the side column whose first list is the right-hand advertisements.
// <cite> appears only inside those four lists.
std::string BuildResultPage(const ResultPageContent& content);

// The page a client gets when it is throttled: a verification form, no result markup.
std::string BuildVerificationPage();

// A short error page for injected server failures.
std::string BuildErrorPage(int status);

// Relative target of the link to `pageNo` for `keyword`: "s?q=...&pn=N&psid=...&src=srp".
std::string PageLinkTarget(std::string_view keyword, int pageNo);

// Escapes & < > " ' for text and attribute values.
std::string HtmlEscape(std::string_view text);

// 64-bit FNV-1a: stable across runs, builds and platforms, unlike std::hash.
std::uint64_t Fnv1a64(std::string_view bytes);

}  // namespace velquist::standin
