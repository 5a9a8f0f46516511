#pragma once

// Reads the first worksheet of an .xlsx workbook for the keyword import; not part of the records
// interface.

#include <string>

namespace velquist::import_detail {

class SheetKeywordCollector;

// Feeds the headings and data rows of the workbook's first worksheet to `sheet`, with merged
// cells read as the value they show. Returns why the workbook could not be read, or "" when it
// was read (the collector may still have refused its content).
std::string ReadXlsxSheet(const std::string& path, SheetKeywordCollector& sheet);

}  // namespace velquist::import_detail
