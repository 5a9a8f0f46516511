#pragma once

// Reads the first worksheet of an .xls (BIFF) workbook for the keyword import; not part of the
// records interface.

#include <string>

namespace velquist::import_detail {

class SheetKeywordCollector;

// Feeds the headings and data rows of the workbook's first worksheet to `sheet`. Returns why the
// workbook could not be read, or "" when it was (the collector may still have refused it).
std::string ReadXlsSheet(const std::string& path, SheetKeywordCollector& sheet);

}  // namespace velquist::import_detail
