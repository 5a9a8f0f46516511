#pragma once

// Report export: the keyword lists with their ranks as an .xlsx workbook. Building the table,
// loading it and writing the workbook need no window, so a page can run them on a worker thread.

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/process_state.h"
#include "core/user_notifier.h"
#include "records/natural_records.h"
#include "records/paid_records.h"

namespace velquist {

enum class ExportKind { Paid = 0, Natural = 1 };

// Which keywords of the list an export takes: all, those with a finished query, those not yet
// queried.
enum class ExportChoice { All = 1, Finished = 2, Unqueried = 3 };

inline constexpr const char* kExportTooManySites = "网址太多，暂不支持";
inline constexpr const char* kExportNoKeyword = "请先选择关键词";
inline constexpr const char* kExportConfirmTickedFormat =
    "你总共选择了[ {0} ]个关键词。确定导出吗？";
inline constexpr const char* kExportOpenQuestionFormat =
    "成功导出文件 [ {0}.{1} ] \r\n到 [ {2} ] \r\n需要现在打开该文件吗 ？";
inline constexpr const char* kExportOpenFailed = "打开文件失败，请手动打开该文件！";
// The workbook could not be saved (folder missing or not writable, disk full).
inline constexpr const char* kExportWriteFailed = "导出失败，无法保存该文件！";

// One keyword row as the list shows it; `ranks` holds one rank text per exported site.
struct ExportRow {
    std::string keyword;
    std::string plan;  // paid only
    std::string unit;  // paid only
    std::string time;
    std::vector<std::string> ranks;
};

struct ExportTable {
    ExportKind kind = ExportKind::Natural;
    std::vector<std::string> sites;  // the enabled sites, in site-list order
    std::vector<ExportRow> rows;
};

// The fixed headings of a kind: 关键词, 查询时间 (natural) or 关键词, 推广计划, 推广单元, 查询时间.
std::vector<std::string> ExportFixedHeadings(ExportKind kind);

// The letters of a 0-based column an export may use: "A" to "Z", then "AA" to "AZ".
std::optional<std::string> ExportColumnLetters(std::size_t index);

// True when the row belongs to the choice: a finished query has left a query time.
bool MatchesExportChoice(const std::string& time, ExportChoice choice);

// Tables from loaded lists. `sites` are the list's site columns in order (the ones the rows'
// results were placed under); the enabled ones become the exported columns.
ExportTable MakeNaturalExport(const NaturalList& list, const std::vector<PromotionSite>& sites,
                              ExportChoice choice);
ExportTable MakePaidExport(const PaidList& list, const std::vector<PromotionSite>& sites,
                           ExportChoice choice);

// Loads the whole list of a kind (paid: every plan) from the database with its results under
// `sites`. nullopt when the database cannot be read; the tree's failure text is shown for paid.
std::optional<ExportTable> LoadExportTable(const std::string& dbPath, ExportKind kind,
                                           ExportChoice choice,
                                           const std::vector<PromotionSite>& sites,
                                           UserNotifier& notifier);

struct ExportResult {
    bool written = false;
    std::string message;  // the system's text when not written
    std::string reason;   // what went wrong, in plain words
};

// Whether an export adds the second sheet "排名历史" (records/export_history.h), and the database
// its checks are read from while the workbook is written.
struct HistoryOption {
    bool include = false;
    std::string dbPath;
};

// Writes the table as an .xlsx workbook at `path` (replaced whole, never left half-written):
// headings in row 1, one row per keyword below, one column per site after the fixed ones. More
// columns than "AZ" refuse with "网址太多，暂不支持" and write nothing. With the history included,
// the sheet "排名历史" follows with a heading row and one row per check and site of the table's
// keywords and sites; a history that cannot be read, or has more rows than a sheet holds, writes
// nothing either.
ExportResult WriteExportWorkbook(const ExportTable& table, const std::string& path,
                                 const HistoryOption& history = {});

// "%Y-%m-%d_%H-%M-%S" in local time followed by "SEO" (natural) or "SEM" (paid).
std::string DefaultExportFileName(ExportKind kind, std::time_t when);

// The question asked before the ticked keywords are exported.
std::string ExportConfirmTicked(std::size_t count);

// The question asked after a successful export, naming the file and its folder.
std::string ExportOpenQuestion(const std::string& path);

}  // namespace velquist
