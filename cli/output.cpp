#include "cli/output.h"

#include <json/json.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <ostream>

namespace velquist::cli {

namespace {

bool IsWide(char32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
           (cp >= 0x20000 && cp <= 0x3FFFD);
}

Json::Value JsonRow(const Table& table, const std::vector<std::string>& row) {
    Json::Value object(Json::objectValue);
    auto cell = [&](std::size_t c) { return c < row.size() ? row[c] : std::string(); };
    if (table.jsonKeys.empty()) {
        for (std::size_t c = 0; c < table.headings.size(); ++c) object[table.headings[c]] = cell(c);
        return object;
    }
    for (std::size_t c = 0; c < table.jsonKeys.size(); ++c) {
        const JsonKey& key = table.jsonKeys[c];
        const std::string text = cell(c);
        Json::Int64 number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (key.number && text.empty())
            object[key.name] = Json::Value(Json::nullValue);
        else if (key.number && error == std::errc() && end == text.data() + text.size())
            object[key.name] = number;
        else
            object[key.name] = text;
    }
    if (!table.jsonGroupKey.empty()) {
        Json::Value group(Json::objectValue);
        for (std::size_t c = table.jsonKeys.size(); c < table.headings.size(); ++c)
            group[table.headings[c]] = cell(c);
        object[table.jsonGroupKey] = group;
    }
    return object;
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = c;
        std::size_t len = 1;
        if (c >= 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else if (c >= 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xC0) {
            len = 2;
            cp = c & 0x1F;
        }
        for (std::size_t k = 1; k < len && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        width += IsWide(cp) ? 2 : 1;
        i += len;
    }
    return width;
}

std::string TsvCell(const std::string& text) {
    std::string cell = text;
    std::replace_if(
        cell.begin(), cell.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return cell;
}

void PrintTable(std::ostream& out, const Table& table, OutputFormat format) {
    if (format == OutputFormat::Json) {
        Json::Value array(Json::arrayValue);
        for (const auto& row : table.rows) array.append(JsonRow(table, row));
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "  ";
        builder["emitUTF8"] = true;
        std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
        writer->write(array, &out);
        out << '\n';
        return;
    }
    if (format == OutputFormat::Tsv) {
        auto line = [&](const std::vector<std::string>& cells) {
            for (std::size_t c = 0; c < cells.size(); ++c)
                out << (c ? "\t" : "") << TsvCell(cells[c]);
            out << '\n';
        };
        line(table.headings);
        for (const auto& row : table.rows) line(row);
        return;
    }
    std::vector<std::size_t> widths(table.headings.size(), 0);
    auto measure = [&](const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
    };
    measure(table.headings);
    for (const auto& row : table.rows) measure(row);
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            const std::string cell = c < cells.size() ? cells[c] : std::string();
            text += cell;
            if (c + 1 < widths.size()) text += std::string(widths[c] - DisplayWidth(cell) + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << '\n';
    };
    line(table.headings);
    for (const auto& row : table.rows) line(row);
}

}  // namespace velquist::cli
