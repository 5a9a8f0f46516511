#include "records/xlsx_reader.h"

#include <fmt/format.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <orcus/sax_parser.hpp>
#include <unordered_map>
#include <vector>

#include "records/keyword_import.h"
#include "records/sheet_keywords.h"
#include "records/text_decoding.h"

// The package is read with libzip and its XML parts with orcus' SAX parser. orcus' own xlsx
// import finds no worksheet in workbooks whose relationships name their parts by absolute path,
// as Python's writers do, and it keeps every cell of every sheet; the import needs three columns
// of one sheet.

namespace velquist::import_detail {

namespace {

// Why the workbook cannot be read, thrown from deep inside a parse.
struct WorkbookError {
    std::string reason;
};

// The keyword column has ended: the rest of the sheet is not needed.
struct StopReading {};

struct ZipDiscarder {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};

// The workbook's zip container, opened read-only. One reader owns it; not shared between threads.
class WorkbookArchive {
  public:
    void open(const std::string& path) {
        int error = 0;
        m_zip.reset(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
        if (m_zip) return;
        zip_error_t details;
        zip_error_init_with_code(&details, error);
        WorkbookError failure{std::string("it is not a readable xlsx (zip) file: ") +
                              zip_error_strerror(&details)};
        zip_error_fini(&details);
        throw failure;
    }

    bool has(const std::string& name) const {
        return zip_name_locate(m_zip.get(), name.c_str(), ZIP_FL_NOCASE) >= 0;
    }

    // The unpacked part. Refuses one that unpacks to more than the part limit, whatever its
    // header claims, so a small hostile file cannot make the import allocate gigabytes.
    std::string read(const std::string& name) const {
        const zip_int64_t index = zip_name_locate(m_zip.get(), name.c_str(), ZIP_FL_NOCASE);
        if (index < 0) throw WorkbookError{fmt::format("the workbook lacks its part {}", name)};
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(m_zip.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0)
            throw WorkbookError{fmt::format("its part {} cannot be read", name)};
        const bool sized = (stat.valid & ZIP_STAT_SIZE) != 0;
        if (sized && stat.size > kMaxWorkbookPartBytes) throw tooLarge(name);
        const std::unique_ptr<zip_file_t, ZipFileCloser> file(
            zip_fopen_index(m_zip.get(), static_cast<zip_uint64_t>(index), 0));
        if (!file)
            throw WorkbookError{
                fmt::format("its part {} cannot be unpacked: {}", name, zip_strerror(m_zip.get()))};
        std::string content(sized ? stat.size + 1 : 1 << 16, '\0');
        std::size_t total = 0;
        for (;;) {
            if (total == content.size()) {
                if (total > kMaxWorkbookPartBytes) throw tooLarge(name);
                content.resize(std::min<std::size_t>(total * 2, kMaxWorkbookPartBytes + 1));
            }
            const zip_int64_t n = zip_fread(file.get(), content.data() + total,
                                            static_cast<zip_uint64_t>(content.size() - total));
            if (n < 0)
                throw WorkbookError{
                    fmt::format("its part {} is damaged: {}", name, zip_file_strerror(file.get()))};
            if (n == 0) break;
            total += static_cast<std::size_t>(n);
        }
        if (total > kMaxWorkbookPartBytes) throw tooLarge(name);
        content.resize(total);
        return content;
    }

  private:
    static WorkbookError tooLarge(const std::string& name) {
        return {fmt::format("its part {} unpacks to more than {} MB", name,
                            kMaxWorkbookPartBytes >> 20)};
    }

    std::unique_ptr<zip_t, ZipDiscarder> m_zip;
};

template <typename Handler>
void ParseXml(const std::string& content, Handler& handler, const std::string& part) {
    orcus::sax_parser<Handler> parser(content.data(), content.size(), handler);
    try {
        parser.parse();
    } catch (const orcus::parse_error& e) {
        throw WorkbookError{fmt::format("its part {} is not well-formed XML: {}", part, e.what())};
    }
}

std::string FolderOf(std::string_view part) {
    const auto slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string RelationshipsOf(std::string_view part) {
    const std::string folder = FolderOf(part);
    return folder + "_rels/" + std::string(part.substr(folder.size())) + ".rels";
}

// A relationship target as a part name: relative to the source's folder, or absolute from the
// package root ("/xl/worksheets/sheet1.xml").
std::string ResolveTarget(std::string_view sourceFolder, std::string_view target) {
    std::string joined = target.starts_with('/') ? std::string(target.substr(1))
                                                 : std::string(sourceFolder) + std::string(target);
    std::vector<std::string_view> segments;
    std::string_view rest = joined;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
    }
    std::string part;
    for (const auto segment : segments) {
        if (!part.empty()) part += '/';
        part += segment;
    }
    return part;
}

// "B12" → row 12 (1-based), column 1 (0-based). False when the text is no cell reference.
bool ParseCellReference(std::string_view text, int& row, int& column) {
    std::size_t i = 0;
    int col = 0;
    while (i < text.size() && i < 3 &&
           ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z'))) {
        col = col * 26 + ((text[i] & ~0x20) - 'A' + 1);
        ++i;
    }
    if (i == 0 || i == text.size()) return false;
    int number = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || number < 1 || number > 1048576)
        return false;
    row = number;
    column = col - 1;
    return true;
}

struct Relationship {
    std::string id;
    std::string type;
    std::string target;
};

class RelationshipsHandler : public orcus::sax_handler {
  public:
    void end_declaration(std::string_view) { m_pending = {}; }
    void attribute(const orcus::sax::parser_attribute& a) {
        if (a.name == "Id") m_pending.id = a.value;
        if (a.name == "Type") m_pending.type = a.value;
        if (a.name == "Target") m_pending.target = a.value;
        if (a.name == "TargetMode") m_external = a.value == "External";
    }
    void start_element(const orcus::sax::parser_element& e) {
        if (e.name == "Relationship" && !m_external) relationships.push_back(m_pending);
        m_pending = {};
        m_external = false;
    }

    const Relationship* withType(std::string_view suffix) const {
        for (const auto& r : relationships)
            if (r.type.ends_with(suffix)) return &r;
        return nullptr;
    }
    const Relationship* withId(std::string_view id) const {
        for (const auto& r : relationships)
            if (r.id == id) return &r;
        return nullptr;
    }

    std::vector<Relationship> relationships;

  private:
    Relationship m_pending;
    bool m_external = false;
};

// The relationship ids of the workbook's sheets, in tab order.
class WorkbookHandler : public orcus::sax_handler {
  public:
    void attribute(const orcus::sax::parser_attribute& a) {
        if (a.name == "id" && !a.ns.empty()) m_id = a.value;
    }
    void start_element(const orcus::sax::parser_element& e) {
        if (e.name == "sheet" && !m_id.empty()) sheetIds.push_back(m_id);
        m_id.clear();
    }

    std::vector<std::string> sheetIds;

  private:
    std::string m_id;
};

// Shared strings, already trimmed and cut as the import keeps them: nothing else is ever read
// from them, and a long text costs no more than 63 characters.
class SharedStringsHandler : public orcus::sax_handler {
  public:
    void start_element(const orcus::sax::parser_element& e) {
        if (e.name == "si") {
            m_text.clear();
            m_inItem = true;
        } else if (e.name == "rPh") {
            ++m_phonetic;  // reading aids shown above the text, not part of it
        } else if (e.name == "t") {
            m_capture = m_inItem && m_phonetic == 0;
        }
    }
    void end_element(const orcus::sax::parser_element& e) {
        if (e.name == "t") {
            m_capture = false;
        } else if (e.name == "rPh") {
            --m_phonetic;
        } else if (e.name == "si") {
            strings.push_back(ImportedText(m_text));
            m_inItem = false;
        }
    }
    void characters(std::string_view text, bool) {
        if (m_capture) m_text.append(text);
    }

    std::vector<std::string> strings;

  private:
    std::string m_text;
    bool m_inItem = false;
    bool m_capture = false;
    int m_phonetic = 0;
};

// First pass over a sheet: its merged areas, which the file lists after the cells.
class MergedAreasHandler : public orcus::sax_handler {
  public:
    void attribute(const orcus::sax::parser_attribute& a) {
        if (a.name == "ref") m_ref = a.value;
    }
    void start_element(const orcus::sax::parser_element& e) {
        if (e.name == "mergeCell") add(m_ref);
        m_ref.clear();
    }

    std::vector<MergedArea> areas;

  private:
    void add(std::string_view ref) {
        const auto colon = ref.find(':');
        if (colon == std::string_view::npos) return;
        MergedArea area;
        if (!ParseCellReference(ref.substr(0, colon), area.firstRow, area.firstColumn) ||
            !ParseCellReference(ref.substr(colon + 1), area.lastRow, area.lastColumn))
            return;
        if (area.firstRow > area.lastRow) std::swap(area.firstRow, area.lastRow);
        if (area.firstColumn > area.lastColumn) std::swap(area.firstColumn, area.lastColumn);
        areas.push_back(area);
    }

    std::string m_ref;
};

// Second pass: the cells of the heading row and of the columns the import reads, row by row,
// with the value cells of the merged areas over those columns.
class SheetRowsHandler : public orcus::sax_handler {
  public:
    SheetRowsHandler(SheetKeywordCollector& sheet, const std::vector<std::string>& sharedStrings,
                     const std::vector<MergedArea>& merged)
        : m_sheet(sheet), m_sharedStrings(sharedStrings), m_merged(merged) {}

    void attribute(const orcus::sax::parser_attribute& a) {
        if (a.name == "r") m_attrR = a.value;
        if (a.name == "t") m_attrT = a.value;
    }

    void start_element(const orcus::sax::parser_element& e) {
        const std::string_view name = e.name;
        if (name == "sheetData") {
            m_inData = true;
        } else if (m_inData && name == "row") {
            int row = 0;
            int unused = 0;
            if (!ParseRowNumber(m_attrR, row) && !ParseCellReference(m_attrR, row, unused))
                row = m_lastRowSeen + 1;
            beginRow(row);
        } else if (m_inData && name == "c") {
            int cellRow = 0;
            int column = m_lastColumn + 1;  // kept when the cell has no reference
            ParseCellReference(m_attrR, cellRow, column);
            m_lastColumn = column;
            m_cellColumn = column;
            m_cellType = m_attrT;
            m_wantCell = !m_skipRow && wants(column);
            m_value.clear();
            m_inline.clear();
        } else if (name == "v") {
            m_captureValue = m_wantCell;
        } else if (name == "is") {
            m_inInline = true;
        } else if (name == "rPh") {
            ++m_phonetic;
        } else if (name == "t") {
            m_captureInline = m_wantCell && m_inInline && m_phonetic == 0;
        }
        m_attrR.clear();
        m_attrT.clear();
    }

    void end_element(const orcus::sax::parser_element& e) {
        const std::string_view name = e.name;
        if (name == "v") {
            m_captureValue = false;
        } else if (name == "t") {
            m_captureInline = false;
        } else if (name == "is") {
            m_inInline = false;
        } else if (name == "rPh") {
            --m_phonetic;
        } else if (name == "c" && m_wantCell) {
            storeCell(m_cellColumn, cellText());
            m_wantCell = false;
        } else if (name == "row" && m_inData) {
            endRow();
        } else if (name == "sheetData") {
            m_inData = false;
        }
    }

    void characters(std::string_view text, bool) {
        if (m_captureValue)
            m_value.append(text);
        else if (m_captureInline)
            m_inline.append(text);
    }

    // After the whole sheet: a missing heading row breaks the rules; a merged keyword cell may
    // reach below the last row the file lists.
    void finish() {
        if (!m_headerTaken) {
            m_sheet.takeHeader({});
            return;
        }
        try {
            for (;;) emitRow(m_nextRow++, {});
        } catch (const StopReading&) {
        }
    }

  private:
    static bool ParseRowNumber(std::string_view text, int& row) {
        int number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
            number < 1 || number > 1048576)
            return false;
        row = number;
        return true;
    }

    bool wants(int column) const {
        if (column < 0 || column >= kHeadingColumns) return false;
        if (!m_headerTaken) return true;
        return m_readColumn[column] || m_mergedCells.isValueCell(m_currentRow, column);
    }

    std::string cellText() const {
        if (m_cellType == "s") {
            std::size_t index = 0;
            const auto [end, error] =
                std::from_chars(m_value.data(), m_value.data() + m_value.size(), index);
            if (m_value.empty() || error != std::errc() || index >= m_sharedStrings.size())
                throw WorkbookError{
                    fmt::format("row {} refers to a shared text the workbook lacks", m_currentRow)};
            return m_sharedStrings[index];
        }
        if (m_cellType == "inlineStr" || (m_value.empty() && !m_inline.empty())) return m_inline;
        if (m_cellType == "b") return m_value.empty() ? "" : m_value == "0" ? "FALSE" : "TRUE";
        if (m_cellType == "str" || m_cellType == "e" || m_cellType == "d" || m_value.empty())
            return m_value;
        double number = 0;
        const auto [end, error] =
            std::from_chars(m_value.data(), m_value.data() + m_value.size(), number);
        if (error != std::errc() || end != m_value.data() + m_value.size()) return m_value;
        return NumberText(number);
    }

    void storeCell(int column, std::string text) {
        if (m_headerTaken && m_mergedCells.isValueCell(m_currentRow, column))
            m_mergedValues[MergedDataCells::Key(m_currentRow, column)] = text;
        m_cells[column] = std::move(text);
    }

    void beginRow(int row) {
        m_lastRowSeen = row;
        m_lastColumn = -1;
        m_skipRow = row < m_nextRow;  // a row listed twice or out of order
        if (m_skipRow) return;
        if (!m_headerTaken && row > 1) takeHeader({});
        while (m_nextRow < row) emitRow(m_nextRow++, {});
        m_currentRow = row;
        for (auto& cell : m_cells) cell.clear();
    }

    void endRow() {
        if (m_skipRow) return;
        if (!m_headerTaken) {
            takeHeader(m_cells);
            return;
        }
        emitRow(m_currentRow, m_cells);
        m_nextRow = m_currentRow + 1;
    }

    void takeHeader(const std::array<std::string, kHeadingColumns>& cells) {
        m_headerTaken = true;
        m_nextRow = 2;
        if (!m_sheet.takeHeader(cells)) throw StopReading{};
        for (const int column : m_sheet.columns())
            if (column >= 0) m_readColumn[column] = true;
        m_mergedCells.build(m_merged, m_sheet.columns());
    }

    void emitRow(int row, const std::array<std::string, kHeadingColumns>& cells) {
        static const std::string kNothing;
        std::array<std::string_view, 3> values;
        for (std::size_t k = 0; k < 3; ++k) {
            const int column = m_sheet.columns()[k];
            if (column < 0) continue;
            values[k] = cells[column];
            if (const MergedArea* area = m_mergedCells.coveringArea(k, row)) {
                const auto value =
                    m_mergedValues.find(MergedDataCells::Key(area->firstRow, area->firstColumn));
                values[k] = value == m_mergedValues.end() ? kNothing : value->second;
            }
        }
        if (!m_sheet.takeRow(values)) throw StopReading{};
    }

    SheetKeywordCollector& m_sheet;
    const std::vector<std::string>& m_sharedStrings;
    const std::vector<MergedArea>& m_merged;

    std::string m_attrR;
    std::string m_attrT;
    bool m_inData = false;
    bool m_headerTaken = false;
    int m_nextRow = 1;
    int m_currentRow = 0;
    int m_lastRowSeen = 0;
    int m_lastColumn = -1;
    bool m_skipRow = false;

    int m_cellColumn = 0;
    std::string m_cellType;
    bool m_wantCell = false;
    bool m_captureValue = false;
    bool m_captureInline = false;
    bool m_inInline = false;
    int m_phonetic = 0;
    std::string m_value;
    std::string m_inline;

    std::array<std::string, kHeadingColumns> m_cells;
    std::array<bool, kHeadingColumns> m_readColumn{};
    MergedDataCells m_mergedCells;
    std::unordered_map<std::uint64_t, std::string> m_mergedValues;
};

RelationshipsHandler ReadRelationships(const WorkbookArchive& archive, const std::string& part) {
    RelationshipsHandler handler;
    const std::string content = archive.read(part);
    ParseXml(content, handler, part);
    return handler;
}

}  // namespace

std::string ReadXlsxSheet(const std::string& path, SheetKeywordCollector& sheet) {
    try {
        WorkbookArchive archive;
        archive.open(path);

        std::string workbookPart = "xl/workbook.xml";
        if (archive.has("_rels/.rels")) {
            const auto package = ReadRelationships(archive, "_rels/.rels");
            if (const Relationship* main = package.withType("/officeDocument"))
                workbookPart = ResolveTarget("", main->target);
        }
        const std::string workbookFolder = FolderOf(workbookPart);
        const auto parts = ReadRelationships(archive, RelationshipsOf(workbookPart));

        WorkbookHandler workbook;
        ParseXml(archive.read(workbookPart), workbook, workbookPart);
        // The first worksheet in tab order; chart sheets hold no cells.
        std::string sheetPart;
        for (const std::string& id : workbook.sheetIds) {
            const Relationship* r = parts.withId(id);
            if (r && r->type.ends_with("/worksheet")) {
                sheetPart = ResolveTarget(workbookFolder, r->target);
                break;
            }
        }
        if (sheetPart.empty()) return "the workbook has no worksheet";

        SharedStringsHandler shared;
        if (const Relationship* r = parts.withType("/sharedStrings")) {
            const std::string part = ResolveTarget(workbookFolder, r->target);
            ParseXml(archive.read(part), shared, part);
        }

        const std::string content = archive.read(sheetPart);
        MergedAreasHandler merged;
        ParseXml(content, merged, sheetPart);
        SheetRowsHandler rows(sheet, shared.strings, merged.areas);
        try {
            ParseXml(content, rows, sheetPart);
            rows.finish();
        } catch (const StopReading&) {
        }
        return {};
    } catch (const WorkbookError& e) {
        return e.reason;
    } catch (const std::bad_alloc&) {
        return "the workbook needs more memory than there is";
    } catch (const std::exception& e) {
        return std::string("the workbook is damaged: ") + e.what();
    }
}

}  // namespace velquist::import_detail
