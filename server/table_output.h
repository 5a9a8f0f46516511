#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velquist::service {

enum class TableFormat { Text, Tsv };

struct Table {
    std::vector<std::string> headings;
    std::vector<std::vector<std::string>> rows;
};

// Text: columns aligned for a terminal (wide characters take two columns), line breaks and
// tabs inside a value shown as spaces. TSV: a heading line, then one line per row, with
// backslash, tab, CR and LF inside values written as \\, \t, \r and \n.
void PrintTable(std::ostream& out, const Table& table, TableFormat format);

}  // namespace velquist::service
