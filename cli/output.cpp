#include "cli/output.h"

#include <json/json.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <ostream>

#include "core/text.h"

namespace velquist::cli {

namespace {

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
