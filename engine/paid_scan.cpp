#include "engine/paid_scan.h"

#include <fmt/format.h>

#include "core/text.h"
#include "engine/address_elements.h"
#include "engine/natural_scan.h"
#include "engine/page_markers.h"

namespace velquist {

namespace {

std::size_t CountOccurrences(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

}  // namespace

bool MatchAdBlock(STRUCT_SITE& site, const std::string& block, const std::string& columnWord) {
    site.rankNum = 0;
    std::string address = ReplaceAll(site.url, "http://", "");
    if (const auto slash = address.find('/'); slash != std::string::npos)
        address = address.substr(0, slash);
    const std::string patternA = ReplaceAll(address, "www", "");
    // Matches an address written directly after the opening tag.
    const std::string patternB = ReplaceAll(address, "www.", ">");

    AddressElements elements(block, AddressElements::Form::Bare);
    while (const auto text = elements.next()) {
        site.rankNum += 1;
        if (FindNoCase(*text, patternA) || FindNoCase(*text, patternB)) {
            site.rankText =
                Utf8Prefix(fmt::format("{0}{1}", columnWord, site.rankNum), kRankTextMaxBytes);
            if (columnWord == markers::kRightColumn) site.rankNum += kRightColumnOffset;
            return true;
        }
    }
    site.rankNum += 100;
    return false;
}

void ParsePaidPage(const std::string& page, STRUCT_SITE& site) {
    if (site.url.empty()) return;
    const std::string right = TextBetween(page, markers::kRightAdsStart, markers::kRightAdsEnd);
    const std::string left =
        ReplaceAll(TextBetween(page, markers::kTopAdsStart, markers::kTopAdsEnd) +
                       TextBetween(page, markers::kBottomAdsStart, markers::kBottomAdsEnd),
                   " ", "");
    if (CountOccurrences(right, markers::kAdAddressTag) == 0 &&
        CountOccurrences(left, markers::kAdAddressTag) == 0)
        return;
    if (!MatchAdBlock(site, left, markers::kLeftColumn))
        MatchAdBlock(site, right, markers::kRightColumn);
}

bool ScanPaid(CHttpClient* client, const std::string& keyword, std::vector<STRUCT_SITE>& sites,
              const ScanEnvironment& env) {
    if (!client) return false;
    client->url = env.endpoints.resultPageUrl(UrlEncodeForm(keyword));
    std::string page;
    if (!FetchResultPage(*client, page, env)) {
        MarkUnfoundSitesFailed(sites);
        return false;
    }
    for (auto& site : sites) ParsePaidPage(page, site);
    return true;
}

}  // namespace velquist
