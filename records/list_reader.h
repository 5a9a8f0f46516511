#pragma once

// Shared by the natural and paid list loads; not part of the records interface.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/database.h"
#include "core/text.h"
#include "records/record_types.h"

namespace velquist::records_detail {

// Sort texts are composed into SQL, so only plain column names and ASC/DESC get through.
bool IsSafeSortColumn(std::string_view column);
bool IsSafeSortDirection(std::string_view direction);

// Puts a joined result into the site column whose heading equals its url. A result without a
// url, or for a site that has no column, is not placed.
class SitePlacer {
  public:
    explicit SitePlacer(const std::vector<std::string>& headings);

    std::size_t columnCount() const { return m_columnCount; }
    void place(std::vector<SiteResult>& sites, const DbStatement& row, int rankColumn,
               int urlColumn, int rankNumColumn) const;

  private:
    std::size_t m_columnCount;
    std::unordered_map<std::string_view, std::size_t> m_columnOfHeading;  // views into headings
};

// Row loop over a result whose consecutive rows with the same keywordId (column 0) form one
// keyword row. `startRow` fills the row's own texts. Returns the number of queried keywords
// (those whose first joined row has both a time and a rank), or nullopt when the read ended in
// an error: a cut-short list must not pass for the whole one.
template <typename Row, typename StartRow>
std::optional<int> ReadGroupedRows(DbStatement& statement, const SitePlacer& placer, int timeColumn,
                                   int rankColumn, int urlColumn, int rankNumColumn,
                                   std::vector<Row>& rows, StartRow startRow) {
    int queried = 0;
    bool havePrevious = false;
    int previousId = 0;
    int rc = statement.step();
    for (; rc == kSqliteRow; rc = statement.step()) {
        const int keywordId = statement.columnInt(0);
        if (!havePrevious || keywordId != previousId) {
            havePrevious = true;
            previousId = keywordId;
            Row& row = rows.emplace_back();
            row.keywordId = keywordId;
            startRow(row, statement);
            row.sites.resize(placer.columnCount());
            if (!statement.columnIsNull(timeColumn) && !statement.columnIsNull(rankColumn)) {
                row.time = statement.columnText(timeColumn);
                ++queried;
            }
        }
        placer.place(rows.back().sites, statement, rankColumn, urlColumn, rankNumColumn);
    }
    if (rc != kSqliteDone) return std::nullopt;
    return queried;
}

}  // namespace velquist::records_detail
