// Organic result parsing on arbitrary pages. Besides crashes, exceptions and sanitizer findings
// it checks the result's shape and, on pages small enough for the old cite pattern to finish,
// that the ranks equal what that pattern gives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cite_reference.h"
#include "core/text.h"
#include "engine/natural_scan.h"
#include "fuzz_check.h"

namespace {

// Larger pages are checked for shape only: the pattern backtracks quadratically on damaged ones.
constexpr std::size_t kReferenceMaxBytes = 16 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velquist;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto [siteText, pageText] = fuzz::SplitSiteAndPage(input);
    const std::string page(pageText);
    const int pageNo = 1 + static_cast<int>(size % 10);

    STRUCT_SITE site;
    site.url = std::string(siteText);
    site.selected = 1;
    const STRUCT_SITE before = site;
    const int result = ParseNaturalPage(page, pageNo, site);

    if (before.url.empty()) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(site.rankNum == before.rankNum && site.rankText == before.rankText);
        return 0;
    }
    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(site.found == (result == 1));
    FUZZ_CHECK(site.rankNum >= before.rankNum);
    if (result == 1) {
        FUZZ_CHECK(!site.rankText.empty());
        FUZZ_CHECK(site.rankText.size() <= kRankTextMaxBytes);
        FUZZ_CHECK(IsValidUtf8(site.rankText));
        FUZZ_CHECK(site.rankText.starts_with("第"));
    } else {
        FUZZ_CHECK(site.rankText.empty());
    }

    if (page.size() <= kReferenceMaxBytes) {
        if (const auto expected = fuzz::ReferenceNatural(page, pageNo, before)) {
            FUZZ_CHECK(result == expected->result);
            FUZZ_CHECK(site.found == expected->found);
            FUZZ_CHECK(site.rankNum == expected->rankNum);
            FUZZ_CHECK(site.rankText == expected->rankText);
        }
    }
    return 0;
}
