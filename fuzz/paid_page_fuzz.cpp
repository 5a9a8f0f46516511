// Advertisement slot parsing on arbitrary pages. Besides crashes, exceptions and sanitizer
// findings it checks the slot text's shape and, on pages small enough for the old <cite> pattern
// to finish, that slot and rank number equal what that pattern gives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cite_reference.h"
#include "core/text.h"
#include "engine/page_markers.h"
#include "engine/paid_scan.h"
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

    STRUCT_SITE site;
    site.url = std::string(siteText);
    site.selected = 1;
    const STRUCT_SITE before = site;
    ParsePaidPage(page, site);

    FUZZ_CHECK(site.url == before.url);
    if (!site.rankText.empty()) {
        FUZZ_CHECK(site.rankText.size() <= kRankTextMaxBytes);
        FUZZ_CHECK(IsValidUtf8(site.rankText));
        const bool left = site.rankText.starts_with(markers::kLeftColumn);
        const bool right = site.rankText.starts_with(markers::kRightColumn);
        FUZZ_CHECK(left || right);
        // A right-hand slot's number is offset by 50 so that it sorts after the left column.
        FUZZ_CHECK(site.rankNum >= (left ? 1 : 51));
    }

    if (page.size() <= kReferenceMaxBytes) {
        if (const auto expected = fuzz::ReferencePaid(page, before)) {
            FUZZ_CHECK(site.rankText == expected->rankText);
            FUZZ_CHECK(site.rankNum == expected->rankNum);
            FUZZ_CHECK(site.found == expected->found);
        }
    }
    return 0;
}
