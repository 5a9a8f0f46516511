#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velquist::cli {

enum class OutputFormat { Text, Tsv, Json };

// The JSON name of a table column; a number column is written as a JSON number.
struct JsonKey {
    std::string name;
    bool number = false;
};

// A result table: printed aligned for people, as TSV or as a JSON array of objects for scripts.
// Scripts get stable English keys: `jsonKeys` names the leading columns, and the columns after
// them (one per site) go into one object under `jsonGroupKey`, keyed by their headings. A table
// without keys uses its headings as keys.
struct Table {
    std::vector<std::string> headings;
    std::vector<std::vector<std::string>> rows;
    std::vector<JsonKey> jsonKeys = {};
    std::string jsonGroupKey = {};
};

void PrintTable(std::ostream& out, const Table& table, OutputFormat format);

// TSV cells cannot hold tabs or line breaks; they become spaces.
std::string TsvCell(const std::string& text);


}  // namespace velquist::cli
