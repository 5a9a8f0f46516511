#include "server/table_output.h"

#include <algorithm>
#include <ostream>

namespace velquist::service {

namespace {

std::string OnOneLine(const std::string& value) {
    std::string line = value;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    return line;
}

std::string TsvValue(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped.push_back(c);
        }
    }
    return escaped;
}

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::size_t DisplayWidth(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80    ? 1
                                   : lead >= 0xF0 ? 4
                                   : lead >= 0xE0 ? 3
                                   : lead >= 0xC0 ? 2
                                                  : 1;
        char32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (std::size_t j = 1; j < length && i + j < text.size(); ++j)
            c = (c << 6) | (static_cast<unsigned char>(text[i + j]) & 0x3F);
        width += IsWide(c) ? 2 : 1;
        i += length;
    }
    return width;
}

void PrintTable(std::ostream& out, const Table& table, TableFormat format) {
    if (format == TableFormat::Tsv) {
        const auto line = [&out](const std::vector<std::string>& values) {
            for (std::size_t i = 0; i < values.size(); ++i)
                out << (i ? "\t" : "") << TsvValue(values[i]);
            out << '\n';
        };
        line(table.headings);
        for (const auto& row : table.rows) line(row);
        return;
    }
    std::vector<std::size_t> widths(table.headings.size(), 0);
    const auto measure = [&widths](const std::vector<std::string>& values) {
        for (std::size_t i = 0; i < values.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], DisplayWidth(OnOneLine(values[i])));
    };
    measure(table.headings);
    for (const auto& row : table.rows) measure(row);
    const auto line = [&](const std::vector<std::string>& values) {
        std::string text;
        for (std::size_t i = 0; i < values.size() && i < widths.size(); ++i) {
            const std::string value = OnOneLine(values[i]);
            text += value;
            if (i + 1 < values.size())
                text += std::string(widths[i] - DisplayWidth(value) + 2, ' ');
        }
        out << text << '\n';
    };
    line(table.headings);
    for (const auto& row : table.rows) line(row);
}

}  // namespace velquist::service
