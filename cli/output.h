#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velquist::cli {

enum class OutputFormat { Text, Tsv, Json };

// A result table: printed aligned for people, as TSV or as a JSON array of objects for scripts.
struct Table {
    std::vector<std::string> headings;
    std::vector<std::vector<std::string>> rows;
};

void PrintTable(std::ostream& out, const Table& table, OutputFormat format);

// Columns a terminal gives the text: CJK and other wide characters take two.
std::size_t DisplayWidth(const std::string& utf8);

}  // namespace velquist::cli
