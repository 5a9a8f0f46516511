#pragma once

// Shared by the workbook readers of the keyword import; not part of the records interface.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "records/keyword_import.h"

namespace velquist::import_detail {

// Headings are looked for in A1 to Z1.
inline constexpr int kHeadingColumns = 26;

// The workbook rules of the import, fed by a reader with the first worksheet's cells: the
// headings in row 1, then one call per data row from row 2 until the keyword cell is empty.
// Fills `file` and sets its message when the sheet breaks a rule.
class SheetKeywordCollector {
  public:
    SheetKeywordCollector(ImportKind kind, KeywordFile& file) : m_kind(kind), m_file(file) {}

    // Row 1's cells A to Z as shown. False (rule message set) when none is "关键词".
    bool takeHeader(const std::array<std::string, kHeadingColumns>& cells);

    // The columns the data rows need: keyword, plan, unit; -1 for one the headings lack.
    const std::array<int, 3>& columns() const { return m_columns; }

    // One data row: the cells of columns(), in that order ("" for a column the sheet lacks).
    // False when reading should stop: the keyword cell is empty, or the file was refused.
    bool takeRow(const std::array<std::string_view, 3>& cells);

    // Sets the empty-file message when no keyword was read.
    void finish();

  private:
    ImportKind m_kind;
    KeywordFile& m_file;
    std::array<int, 3> m_columns{-1, -1, -1};
    std::size_t m_row = 1;  // the last row taken, 1-based
};

// A merged area of a worksheet: rows 1-based, columns 0-based, the first cell holding its value.
struct MergedArea {
    int firstRow = 0;
    int lastRow = 0;
    int firstColumn = 0;
    int lastColumn = 0;
};

// A merged area shows its first cell's value in every cell it covers, so a covered data cell
// reads that value. Areas that start in the heading row are headings, not data. Built once the
// columns are known; rows are then asked in ascending order, so each column's areas are walked
// once.
class MergedDataCells {
  public:
    void build(const std::vector<MergedArea>& areas, const std::array<int, 3>& columns);

    // The area whose value cell (row, columns[k]) shows when that is not the area's own first
    // cell; nullptr otherwise.
    const MergedArea* coveringArea(std::size_t k, int row);

    // True when (row, column) holds the value of an area covering a column that is read.
    bool isValueCell(int row, int column) const {
        return !m_valueCells.empty() && m_valueCells.count(Key(row, column)) != 0;
    }
    static constexpr std::uint64_t Key(int row, int column) {
        return (static_cast<std::uint64_t>(row) << 16) | static_cast<std::uint16_t>(column);
    }

  private:
    std::array<int, 3> m_columns{-1, -1, -1};
    std::array<std::vector<MergedArea>, 3> m_areas;
    std::array<std::size_t, 3> m_next{};
    std::unordered_set<std::uint64_t> m_valueCells;
};

// A number cell's text as a person sees it in the sheet: 12345, 1.5, 1E+20.
std::string NumberText(double value);

}  // namespace velquist::import_detail
