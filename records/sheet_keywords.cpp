#include "records/sheet_keywords.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "records/text_decoding.h"

namespace velquist::import_detail {

namespace {

// A text the database and every reader after it can hold.
bool IsStorable(std::string_view text) {
    return IsValidUtf8(text) && text.find('\0') == std::string_view::npos;
}

}  // namespace

bool SheetKeywordCollector::takeHeader(const std::array<std::string, kHeadingColumns>& cells) {
    const char* wanted[3] = {kKeywordHeading, kPlanHeading, kUnitHeading};
    const int needed = m_kind == ImportKind::Paid ? 3 : 1;
    for (int c = 0; c < kHeadingColumns; ++c) {
        const std::string heading = ImportedText(cells[c]);
        for (int w = 0; w < needed; ++w)
            if (m_columns[w] < 0 && heading == wanted[w]) m_columns[w] = c;
    }
    if (m_columns[0] >= 0) return true;
    m_file.message = kImportBadWorkbook;
    m_file.reason = "no cell from A1 to Z1 reads 关键词";
    return false;
}

bool SheetKeywordCollector::takeRow(const std::array<std::string_view, 3>& cells) {
    ++m_row;
    std::string keyword = ImportedText(cells[0]);
    if (keyword.empty()) return false;
    for (std::string_view cell : cells) {
        if (!IsStorable(cell)) {
            m_file.message = kImportUnreadable;
            m_file.reason = fmt::format("row {} holds text that cannot be stored", m_row);
            return false;
        }
    }
    if (m_file.size() == kMaxImportKeywords) {
        m_file.message = kImportUnreadable;
        m_file.reason = fmt::format("the sheet holds more than {} keywords", kMaxImportKeywords);
        return false;
    }
    if (m_kind == ImportKind::Natural) {
        m_file.keywords.push_back(std::move(keyword));
        return true;
    }
    std::string plan = ImportedText(cells[1]);
    std::string unit = ImportedText(cells[2]);
    m_file.entries.push_back({std::move(keyword), unit.empty() ? kDefaultTreeName : unit,
                              plan.empty() ? kDefaultTreeName : plan});
    return true;
}

void SheetKeywordCollector::finish() {
    if (m_file.ok() && m_file.size() == 0) {
        m_file.message = kImportEmpty;
        m_file.reason = "no keyword below the heading 关键词";
    }
}

void MergedDataCells::build(const std::vector<MergedArea>& areas,
                            const std::array<int, 3>& columns) {
    m_columns = columns;
    for (std::size_t k = 0; k < 3; ++k) {
        if (columns[k] < 0) continue;
        for (const MergedArea& area : areas) {
            if (area.firstRow < 2 || columns[k] < area.firstColumn || columns[k] > area.lastColumn)
                continue;
            m_areas[k].push_back(area);
            m_valueCells.insert(Key(area.firstRow, area.firstColumn));
        }
        std::sort(m_areas[k].begin(), m_areas[k].end(),
                  [](const MergedArea& a, const MergedArea& b) { return a.firstRow < b.firstRow; });
    }
}

const MergedArea* MergedDataCells::coveringArea(std::size_t k, int row) {
    const auto& areas = m_areas[k];
    std::size_t& next = m_next[k];
    while (next < areas.size() && areas[next].lastRow < row) ++next;
    if (next == areas.size() || areas[next].firstRow > row) return nullptr;
    const MergedArea& area = areas[next];
    if (area.firstRow == row && area.firstColumn == m_columns[k]) return nullptr;
    return &area;
}

std::string NumberText(double value) {
    if (!std::isfinite(value)) return fmt::format("{}", value);
    // Fifteen significant digits, as a spreadsheet shows a number in its general format.
    std::string text = fmt::format("{:.15G}", value);
    return text == "-0" ? "0" : text;
}

}  // namespace velquist::import_detail
