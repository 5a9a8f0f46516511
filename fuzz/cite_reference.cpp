#include "cite_reference.h"

#include <boost/regex.hpp>
#include <stdexcept>

#include "core/text.h"
#include "engine/page_markers.h"

namespace velquist::fuzz {

namespace {

std::size_t CountOccurrences(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// One advertisement column; throws when the regex engine gives up.
bool ReferenceColumn(STRUCT_SITE& site, const std::string& block, const std::string& column) {
    static const boost::regex cite("<cite>(.*?)</cite>", boost::regex::perl);
    site.rankNum = 0;
    std::string address = ReplaceAll(site.url, "http://", "");
    if (const auto slash = address.find('/'); slash != std::string::npos)
        address = address.substr(0, slash);
    const std::string patternA = ReplaceAll(address, "www", "");
    const std::string patternB = ReplaceAll(address, "www.", ">");
    boost::sregex_iterator it(block.begin(), block.end(), cite);
    for (const boost::sregex_iterator end; it != end; ++it) {
        const std::string text = it->str(0);
        site.rankNum += 1;
        if (FindNoCase(text, patternA) || FindNoCase(text, patternB)) {
            site.rankText = Utf8Prefix(column + std::to_string(site.rankNum), kRankTextMaxBytes);
            if (column == markers::kRightColumn) site.rankNum += 50;
            return true;
        }
    }
    site.rankNum += 100;
    return false;
}

}  // namespace

std::optional<NaturalOutcome> ReferenceNatural(const std::string& page, int pageNo,
                                               STRUCT_SITE site) {
    if (site.url.empty()) return NaturalOutcome{-1, site.found, site.rankNum, site.rankText};
    const std::string pattern = ReplaceAll(ReplaceAll(site.url, "http://", ""), "www", "");
    const std::string block = TextBetween(page, markers::kOrganicStart, markers::kOrganicEnd);
    if (!FindNoCase(block, pattern))
        return NaturalOutcome{0, false, site.rankNum + 10, site.rankText};
    static const boost::regex cite("<cite(.*?)>(.*?)</cite>", boost::regex::perl);
    try {
        boost::sregex_iterator it(block.begin(), block.end(), cite);
        for (const boost::sregex_iterator end; it != end; ++it) {
            std::string citeText = it->str(0);
            if (citeText.find("<b>") != std::string::npos &&
                citeText.find("</b>") != std::string::npos)
                citeText = TrimWhitespace(
                    ReplaceAll(TextBetween(citeText, "<b>", "</cite>"), "</b>", ""));
            site.rankNum += 1;
            if (FindNoCase(citeText, pattern)) {
                const std::string text = "第" + std::to_string(site.rankNum) + "名，第" +
                                         std::to_string(pageNo) + "页";
                return NaturalOutcome{1, true, site.rankNum, Utf8Prefix(text, kRankTextMaxBytes)};
            }
        }
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
    return NaturalOutcome{0, site.found, site.rankNum, site.rankText};
}

std::optional<STRUCT_SITE> ReferencePaid(const std::string& page, STRUCT_SITE site) {
    if (site.url.empty()) return site;
    const std::string right = TextBetween(page, markers::kRightAdsStart, markers::kRightAdsEnd);
    const std::string left =
        ReplaceAll(TextBetween(page, markers::kTopAdsStart, markers::kTopAdsEnd) +
                       TextBetween(page, markers::kBottomAdsStart, markers::kBottomAdsEnd),
                   " ", "");
    if (CountOccurrences(right, markers::kAdAddressTag) == 0 &&
        CountOccurrences(left, markers::kAdAddressTag) == 0)
        return site;
    try {
        if (!ReferenceColumn(site, left, markers::kLeftColumn))
            ReferenceColumn(site, right, markers::kRightColumn);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
    return site;
}

}  // namespace velquist::fuzz
