#include "records/report_export.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "records/export_history.h"

namespace velquist {

namespace {

// Excel's letters run "A" to "Z", then "AA" to "AZ"; the export goes no further.
constexpr std::size_t kMaxExportColumns = 52;

std::vector<std::size_t> EnabledColumns(const std::vector<PromotionSite>& sites) {
    std::vector<std::size_t> enabled;
    for (std::size_t c = 0; c < sites.size(); ++c)
        if (sites[c].selected) enabled.push_back(c);
    return enabled;
}

template <typename Row>
ExportRow MakeRow(const Row& row, const std::vector<std::size_t>& enabled) {
    ExportRow out;
    out.keyword = row.keyword;
    out.time = row.time;
    out.ranks.reserve(enabled.size());
    for (const std::size_t c : enabled)
        out.ranks.push_back(c < row.sites.size() ? row.sites[c].rankText : std::string());
    return out;
}

ExportTable StartTable(ExportKind kind, const std::vector<PromotionSite>& sites,
                       const std::vector<std::size_t>& enabled) {
    ExportTable table;
    table.kind = kind;
    for (const std::size_t c : enabled) table.sites.push_back(sites[c].url);
    return table;
}

// Creates a new file beside the target for the workbook being written, so the target is only
// ever replaced by a complete file. Creating it here also finds an unwritable folder before the
// writer does (which would print its own complaint). Returns the name, or "" with `reason`.
std::string CreatePartialFile(const std::string& path, std::string& reason) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            (target.parent_path() /
             fmt::format(".{}.{}-{}.part", target.filename().string(), getpid(), counter++))
                .string();
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return name;
        }
        if (errno != EEXIST) break;
    }
    reason = fmt::format("{} cannot be created: {}", path, std::strerror(errno));
    return {};
}

struct WorkbookWriter {
    lxw_workbook* workbook = nullptr;
    lxw_worksheet* sheet = nullptr;
    lxw_error error = LXW_NO_ERROR;

    void write(lxw_row_t row, lxw_col_t column, const std::string& text) {
        if (error != LXW_NO_ERROR || text.empty()) return;
        error = worksheet_write_string(sheet, row, column, text.c_str(), nullptr);
    }
    void setColumns(lxw_col_t first, lxw_col_t last, double width) {
        if (error == LXW_NO_ERROR) error = worksheet_set_column(sheet, first, last, width, nullptr);
    }
};

// The sheet "排名历史" after the list. Fills `reason` when the history could not be written.
void WriteHistorySheet(WorkbookWriter& out, const ExportTable& table, const std::string& dbPath,
                       std::string& reason) {
    out.sheet = workbook_add_worksheet(out.workbook, kHistorySheetName);
    if (!out.sheet) {
        out.error = LXW_ERROR_MEMORY_MALLOC_FAILED;
        return;
    }
    const bool paid = table.kind == ExportKind::Paid;
    const std::vector<std::string> headings = HistorySheetHeadings(table.kind);
    out.setColumns(0, 0, 30);
    if (paid) out.setColumns(1, 2, 20);
    const auto site = static_cast<lxw_col_t>(paid ? 3 : 1);
    out.setColumns(site, site, 24);
    out.setColumns(site + 1, site + 1, 20);
    out.setColumns(site + 2, site + 2, 16);
    lxw_col_t column = 0;
    for (const auto& heading : headings) out.write(0, column++, heading);
    lxw_row_t row = 1;
    bool tooLong = false;
    const bool read = ReadHistorySheet(dbPath, ExportHistoryKeys(table), table.sites,
                                       [&](std::vector<HistorySheetRow>& rows) {
                                           if (rows.size() >= LXW_ROW_MAX - row) {
                                               tooLong = true;
                                               return false;
                                           }
                                           for (const HistorySheetRow& r : rows) {
                                               lxw_col_t c = 0;
                                               out.write(row, c++, r.keyword);
                                               if (paid) {
                                                   out.write(row, c++, r.plan);
                                                   out.write(row, c++, r.unit);
                                               }
                                               out.write(row, c++, r.site);
                                               out.write(row, c++, r.time);
                                               out.write(row, c++, r.rank);
                                               ++row;
                                           }
                                           return out.error == LXW_NO_ERROR;
                                       });
    if (tooLong)
        reason = fmt::format("the rank history has more than the {} rows a worksheet holds",
                             LXW_ROW_MAX - 1);
    else if (!read && out.error == LXW_NO_ERROR)
        reason = "the rank history could not be read";
}

}  // namespace

std::vector<std::string> ExportFixedHeadings(ExportKind kind) {
    if (kind == ExportKind::Natural) return {"关键词", "查询时间"};
    return {"关键词", "推广计划", "推广单元", "查询时间"};
}

std::optional<std::string> ExportColumnLetters(std::size_t index) {
    if (index < 26) return std::string(1, static_cast<char>('A' + index));
    if (index < kMaxExportColumns) return "A" + std::string(1, static_cast<char>('A' + index - 26));
    return std::nullopt;
}

bool MatchesExportChoice(const std::string& time, ExportChoice choice) {
    switch (choice) {
        case ExportChoice::Finished:
            return !time.empty();
        case ExportChoice::Unqueried:
            return time.empty();
        case ExportChoice::All:
            break;
    }
    return true;
}

ExportTable MakeNaturalExport(const NaturalList& list, const std::vector<PromotionSite>& sites,
                              ExportChoice choice) {
    const auto enabled = EnabledColumns(sites);
    ExportTable table = StartTable(ExportKind::Natural, sites, enabled);
    for (const auto& row : list.rows)
        if (MatchesExportChoice(row.time, choice)) table.rows.push_back(MakeRow(row, enabled));
    return table;
}

ExportTable MakePaidExport(const PaidList& list, const std::vector<PromotionSite>& sites,
                           ExportChoice choice) {
    const auto enabled = EnabledColumns(sites);
    ExportTable table = StartTable(ExportKind::Paid, sites, enabled);
    for (const auto& row : list.rows) {
        if (!MatchesExportChoice(row.time, choice)) continue;
        ExportRow out = MakeRow(row, enabled);
        out.plan = row.plan;
        out.unit = row.unit;
        table.rows.push_back(std::move(out));
    }
    return table;
}

std::optional<ExportTable> LoadExportTable(const std::string& dbPath, ExportKind kind,
                                           ExportChoice choice,
                                           const std::vector<PromotionSite>& sites,
                                           UserNotifier& notifier) {
    std::vector<std::string> columns;
    for (const auto& site : sites) columns.push_back(site.url);
    if (kind == ExportKind::Natural) {
        const auto list = loadNaturalList(dbPath, columns);
        if (!list) return std::nullopt;
        return MakeNaturalExport(*list, sites, choice);
    }
    const auto tree = loadTree(dbPath, notifier);
    if (!tree) return std::nullopt;
    std::vector<int> planIds;
    for (const auto& plan : *tree) planIds.push_back(plan.planId);
    if (planIds.empty()) return MakePaidExport(PaidList{}, sites, choice);
    const auto list = listPaidKeywords(dbPath, planIds, {}, std::nullopt, columns);
    if (!list) return std::nullopt;
    return MakePaidExport(*list, sites, choice);
}

ExportResult WriteExportWorkbook(const ExportTable& table, const std::string& path,
                                 const HistoryOption& history) {
    const std::vector<std::string> fixed = ExportFixedHeadings(table.kind);
    const std::size_t columns = fixed.size() + table.sites.size();
    if (columns > kMaxExportColumns)
        return {false, kExportTooManySites,
                fmt::format("{} sites need {} columns, more than A to AZ", table.sites.size(),
                            columns)};
    if (table.rows.size() >= LXW_ROW_MAX)
        return {false, kExportWriteFailed,
                fmt::format("{} keywords do not fit in one worksheet", table.rows.size())};

    std::string reason;
    const std::string partial = CreatePartialFile(path, reason);
    if (partial.empty()) return {false, kExportWriteFailed, reason};
    // Constant memory: each row goes to a temporary file as it is written, so a list of any
    // length costs the same few megabytes.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    WorkbookWriter out;
    out.workbook = workbook_new_opt(partial.c_str(), &options);
    if (!out.workbook) {
        std::remove(partial.c_str());
        return {false, kExportWriteFailed, "the workbook could not be started (out of memory)"};
    }
    out.sheet = workbook_add_worksheet(out.workbook, nullptr);
    if (!out.sheet) out.error = LXW_ERROR_MEMORY_MALLOC_FAILED;

    out.setColumns(0, 0, 30);
    out.setColumns(1, static_cast<lxw_col_t>(fixed.size() - 1), 20);
    if (!table.sites.empty())
        out.setColumns(static_cast<lxw_col_t>(fixed.size()), static_cast<lxw_col_t>(columns - 1),
                       18);
    lxw_col_t column = 0;
    for (const auto& heading : fixed) out.write(0, column++, heading);
    for (const auto& site : table.sites) out.write(0, column++, site);
    lxw_row_t row = 1;
    for (const ExportRow& r : table.rows) {
        column = 0;
        out.write(row, column++, r.keyword);
        if (table.kind == ExportKind::Paid) {
            out.write(row, column++, r.plan);
            out.write(row, column++, r.unit);
        }
        out.write(row, column++, r.time);
        for (std::size_t s = 0; s < table.sites.size(); ++s)
            out.write(row, column++, s < r.ranks.size() ? r.ranks[s] : std::string());
        ++row;
    }
    std::string historyProblem;
    if (history.include && out.error == LXW_NO_ERROR)
        WriteHistorySheet(out, table, history.dbPath, historyProblem);
    // Closing writes the file and frees the workbook, also after an error.
    const lxw_error written = workbook_close(out.workbook);
    const lxw_error error = out.error != LXW_NO_ERROR ? out.error : written;
    if (error != LXW_NO_ERROR || !historyProblem.empty()) {
        std::remove(partial.c_str());
        return {false, kExportWriteFailed,
                historyProblem.empty() ? lxw_strerror(error) : historyProblem};
    }
    std::error_code renameError;
    std::filesystem::rename(partial, path, renameError);
    if (renameError) {
        std::remove(partial.c_str());
        return {false, kExportWriteFailed, renameError.message()};
    }
    return {true, {}, {}};
}

std::string DefaultExportFileName(ExportKind kind, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[64];
    const auto n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d_%H-%M-%S", &local);
    return std::string(buffer, n) + (kind == ExportKind::Paid ? "SEM" : "SEO");
}

std::string ExportConfirmTicked(std::size_t count) {
    return fmt::format(kExportConfirmTickedFormat, count);
}

std::string ExportOpenQuestion(const std::string& path) {
    const std::filesystem::path file(path);
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return fmt::format(kExportOpenQuestionFormat, file.stem().string(), extension,
                       file.parent_path().string());
}

}  // namespace velquist
