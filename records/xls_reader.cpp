#include "records/xls_reader.h"

#include <fmt/format.h>
#include <freexl.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "records/keyword_import.h"
#include "records/sheet_keywords.h"

namespace velquist::import_detail {

namespace {

struct FreexlCloser {
    void operator()(const void* handle) const noexcept { freexl_close(handle); }
};
using FreexlHandle = std::unique_ptr<const void, FreexlCloser>;

std::string FreexlReason(int rc) {
    switch (rc) {
        case FREEXL_FILE_NOT_FOUND:
            return "the file cannot be opened";
        case FREEXL_INSUFFICIENT_MEMORY:
            return "the workbook needs more memory than there is";
        case FREEXL_INVALID_CFBF_HEADER:
        case FREEXL_CFBF_INVALID_SIGNATURE:
            return "it is not an xls workbook";
        case FREEXL_BIFF_OBFUSCATED:
            return "the workbook is protected by a password";
        default:
            return fmt::format("the workbook is damaged (freexl error {})", rc);
    }
}

struct XlsError {
    std::string reason;
};

// A cell's text as a person sees it; "" for an empty cell.
std::string CellText(const void* handle, unsigned row, unsigned short column) {
    FreeXL_CellValue value{};
    const int rc = freexl_get_cell_value(handle, row, column, &value);
    if (rc != FREEXL_OK) throw XlsError{FreexlReason(rc)};
    switch (value.type) {
        case FREEXL_CELL_INT:
            return std::to_string(value.value.int_value);
        case FREEXL_CELL_DOUBLE:
            return NumberText(value.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            return value.value.text_value ? value.value.text_value : "";
        default:
            return {};
    }
}

std::uint32_t U32(std::string_view bytes, std::size_t at) {
    if (at + 4 > bytes.size()) return 0xFFFFFFFF;
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

std::uint16_t U16(std::string_view bytes, std::size_t at) {
    if (at + 2 > bytes.size()) return 0xFFFF;
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// The streams of a compound file (the container of .xls workbooks), read only as far as finding
// the workbook stream needs. Every index is checked: a damaged file yields nothing.
class CompoundFile {
  public:
    explicit CompoundFile(std::string bytes) : m_bytes(std::move(bytes)) {}

    std::optional<std::string> stream(std::u16string_view wanted) {
        const std::string_view file = m_bytes;
        if (file.size() < 512 || !file.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
            return std::nullopt;
        m_shift = U16(file, 0x1E);
        if (m_shift != 9 && m_shift != 12) return std::nullopt;
        if (!readFat()) return std::nullopt;
        const auto directory = chain(U32(file, 0x30), m_fat);
        if (!directory) return std::nullopt;
        for (std::size_t at = 0; at + 128 <= directory->size(); at += 128) {
            const std::string_view entry = std::string_view(*directory).substr(at, 128);
            const std::size_t nameBytes = U16(entry, 0x40);
            if (nameBytes < 2 || nameBytes > 64 || entry[0x42] != 2) continue;
            std::u16string name;
            for (std::size_t i = 0; i + 2 <= nameBytes - 2; i += 2)
                name += static_cast<char16_t>(U16(entry, i));
            if (name != wanted) continue;
            // Streams below the cutoff (4096 bytes) live in the mini stream; spreadsheet programs
            // pad the workbook stream past it, so such a file is left without merged areas.
            const std::uint32_t size = U32(entry, 0x78);
            if (size < U32(file, 0x38)) return std::nullopt;
            auto data = chain(U32(entry, 0x74), m_fat);
            if (!data || data->size() < size) return std::nullopt;
            data->resize(size);
            return data;
        }
        return std::nullopt;
    }

  private:
    std::size_t sectorSize() const { return std::size_t{1} << m_shift; }

    std::optional<std::string_view> sector(std::uint32_t index) const {
        const std::size_t at = (static_cast<std::size_t>(index) + 1) << m_shift;
        if (at + sectorSize() > m_bytes.size()) return std::nullopt;
        return std::string_view(m_bytes).substr(at, sectorSize());
    }

    bool readFat() {
        const std::string_view file = m_bytes;
        std::vector<std::uint32_t> fatSectors;
        for (std::size_t i = 0; i < 109; ++i) {
            const std::uint32_t s = U32(file, 0x4C + 4 * i);
            if (s < 0xFFFFFFFA) fatSectors.push_back(s);
        }
        std::uint32_t difat = U32(file, 0x44);
        for (std::uint32_t n = U32(file, 0x48); n > 0 && difat < 0xFFFFFFFA; --n) {
            const auto data = sector(difat);
            if (!data) return false;
            const std::size_t entries = sectorSize() / 4 - 1;
            for (std::size_t i = 0; i < entries; ++i) {
                const std::uint32_t s = U32(*data, 4 * i);
                if (s < 0xFFFFFFFA) fatSectors.push_back(s);
            }
            difat = U32(*data, 4 * entries);
            if (fatSectors.size() > m_bytes.size() / sectorSize()) return false;
        }
        for (const std::uint32_t s : fatSectors) {
            const auto data = sector(s);
            if (!data) return false;
            for (std::size_t i = 0; i < sectorSize(); i += 4) m_fat.push_back(U32(*data, i));
        }
        return true;
    }

    // The sectors of a chain, joined; nullopt for a broken or looping chain.
    std::optional<std::string> chain(std::uint32_t start, const std::vector<std::uint32_t>& fat) {
        std::string data;
        for (std::size_t steps = 0; start != 0xFFFFFFFE; ++steps) {
            if (start >= fat.size() || steps > fat.size()) return std::nullopt;
            const auto part = sector(start);
            if (!part) return std::nullopt;
            data.append(*part);
            start = fat[start];
        }
        return data;
    }

    std::string m_bytes;
    unsigned m_shift = 9;
    std::vector<std::uint32_t> m_fat;
};

// The merged areas of the workbook's first sheet (BIFF8 MERGEDCELLS records), which freexl does
// not report. Best effort: a structure not understood yields none, and freexl alone decides
// whether the workbook can be read.
std::vector<MergedArea> ReadMergedAreas(const std::string& path) {
    std::vector<MergedArea> areas;
    // Sized before it is read: a file too large to look into is never taken into memory.
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > kMaxWorkbookPartBytes) return areas;
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(size))) return areas;
    CompoundFile file(std::move(bytes));
    const auto workbook = file.stream(u"Workbook");
    if (!workbook) return areas;
    const std::string_view stream = *workbook;
    constexpr std::uint16_t kEof = 0x000A, kBoundSheet = 0x0085, kMergedCells = 0x00E5;
    std::optional<std::size_t> firstSheet;
    std::size_t at = 0;
    while (at + 4 <= stream.size()) {
        const std::uint16_t type = U16(stream, at);
        const std::size_t length = U16(stream, at + 2);
        if (at + 4 + length > stream.size()) return areas;
        if (type == kBoundSheet && !firstSheet) firstSheet = U32(stream, at + 4);
        at += 4 + length;
        if (type == kEof) break;
    }
    if (!firstSheet) return areas;
    for (at = *firstSheet; at + 4 <= stream.size();) {
        const std::uint16_t type = U16(stream, at);
        const std::size_t length = U16(stream, at + 2);
        if (type == kEof || at + 4 + length > stream.size()) break;
        if (type == kMergedCells && length >= 2) {
            const std::size_t count = U16(stream, at + 4);
            for (std::size_t i = 0; i < count && 2 + 8 * (i + 1) <= length; ++i) {
                const std::size_t ref = at + 4 + 2 + 8 * i;
                MergedArea area{U16(stream, ref) + 1, U16(stream, ref + 2) + 1,
                                U16(stream, ref + 4), U16(stream, ref + 6)};
                if (area.firstRow <= area.lastRow && area.firstColumn <= area.lastColumn)
                    areas.push_back(area);
            }
        }
        at += 4 + length;
    }
    return areas;
}

}  // namespace

std::string ReadXlsSheet(const std::string& path, SheetKeywordCollector& sheet) {
    const void* opened = nullptr;
    const int rc = freexl_open(path.c_str(), &opened);
    const FreexlHandle handle(opened);
    if (rc != FREEXL_OK) return FreexlReason(rc);
    if (const int selected = freexl_select_active_worksheet(handle.get(), 0); selected != FREEXL_OK)
        return selected == FREEXL_BIFF_ILLEGAL_SHEET_INDEX ? "the workbook has no worksheet"
                                                           : FreexlReason(selected);
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (const int sized = freexl_worksheet_dimensions(handle.get(), &rows, &columns);
        sized != FREEXL_OK)
        return FreexlReason(sized);
    try {
        auto cell = [&](unsigned row, int column) {
            return row < rows && column >= 0 && column < columns
                       ? CellText(handle.get(), row, static_cast<unsigned short>(column))
                       : std::string();
        };
        std::array<std::string, kHeadingColumns> headings;
        for (int c = 0; c < kHeadingColumns; ++c) headings[c] = cell(0, c);
        if (!sheet.takeHeader(headings)) return {};
        MergedDataCells merged;
        merged.build(ReadMergedAreas(path), sheet.columns());
        // Rows below the last one the sheet records are empty unless a merged area reaches
        // there, so the keyword column ends soon after.
        for (unsigned row = 1;; ++row) {
            std::array<std::string, 3> texts;
            for (std::size_t k = 0; k < 3; ++k) {
                const MergedArea* area = merged.coveringArea(k, static_cast<int>(row) + 1);
                texts[k] = area ? cell(static_cast<unsigned>(area->firstRow - 1), area->firstColumn)
                                : cell(row, sheet.columns()[k]);
            }
            if (!sheet.takeRow({texts[0], texts[1], texts[2]})) break;
        }
    } catch (const XlsError& e) {
        return e.reason;
    }
    return {};
}

}  // namespace velquist::import_detail
