#include "server/table_output.h"

#include <algorithm>
#include <ostream>

#include "core/text.h"

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

}  // namespace

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
