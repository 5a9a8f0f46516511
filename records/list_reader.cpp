#include "records/list_reader.h"

#include <cctype>

namespace velquist::records_detail {

bool IsSafeSortColumn(std::string_view column) {
    if (column.empty()) return false;
    const auto isLetter = [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
    };
    if (!isLetter(column.front())) return false;
    for (const char c : column)
        if (!isLetter(c) && !std::isdigit(static_cast<unsigned char>(c)) && c != '.') return false;
    return true;
}

bool IsSafeSortDirection(std::string_view direction) {
    const auto equalsNoCase = [direction](std::string_view word) {
        if (direction.size() != word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i)
            if (std::toupper(static_cast<unsigned char>(direction[i])) != word[i]) return false;
        return true;
    };
    return equalsNoCase("ASC") || equalsNoCase("DESC");
}

SitePlacer::SitePlacer(const std::vector<std::string>& headings) : m_columnCount(headings.size()) {
    m_columnOfHeading.reserve(headings.size());
    // emplace keeps the first column of a heading that appears twice.
    for (std::size_t i = 0; i < headings.size(); ++i) m_columnOfHeading.emplace(headings[i], i);
}

void SitePlacer::place(std::vector<SiteResult>& sites, const DbStatement& row, int rankColumn,
                       int urlColumn, int rankNumColumn) const {
    // No url is a keyword without results; a url without a column belongs to a site that was
    // edited or removed since the run, and its rank must not pass for another site's.
    if (row.columnIsNull(urlColumn)) return;
    const std::string_view url = row.columnView(urlColumn);
    const auto found = m_columnOfHeading.find(url);
    if (found == m_columnOfHeading.end()) return;
    SiteResult& site = sites[found->second];
    site.url.assign(url);
    const std::string_view rank = row.columnView(rankColumn);
    if (rank.size() <= kRankTextMaxBytes)
        site.rankText.assign(rank);
    else
        site.rankText = Utf8Prefix(rank, kRankTextMaxBytes);
    site.rankNum = row.columnInt(rankNumColumn);
}

}  // namespace velquist::records_detail
