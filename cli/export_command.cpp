#include <fmt/format.h>

#include <ctime>
#include <filesystem>
#include <iostream>

#include "cli/commands.h"
#include "core/process_state.h"
#include "records/report_export.h"
#include "records/site_records.h"

namespace velquist::cli {

namespace {

constexpr const char* kExportUsage =
    R"(usage: velquist export [--paid] [--all | --finished | --unqueried] [--history] FILE

Writes the natural list (--paid: the keywords of every plan) with its ranks to an .xlsx workbook,
as "keywords list" shows them: 关键词, 查询时间 (paid: 关键词, 推广计划, 推广单元, 查询时间),
then one column per enabled site in site-list order, up to column AZ.
  --all        every keyword (the default)
  --finished   the keywords whose query has finished
  --unqueried  the keywords not yet queried
  --history    adds the sheet 排名历史: every stored check of the exported keywords, one row per
               check and enabled site, oldest first: 关键词, 网址, 查询时间, 排名 (paid:
               关键词, 推广计划, 推广单元, 网址, 查询时间, 排名)
FILE must end in .xlsx and is replaced when it exists; a folder gets a file named by the time,
e.g. 2015-03-01_08-05-09SEO.xlsx (SEM for --paid). Exit codes: 0 written, 1 refused, 2 usage
error.
)";

constexpr const char* kExportedFormat = "成功导出文件 [ {} ] 到 [ {} ]";

}  // namespace

int RunExport(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kExportUsage;
        return kExitOk;
    }
    const bool paid = args.takeFlag("--paid");
    const bool all = args.takeFlag("--all");
    const bool finished = args.takeFlag("--finished");
    const bool unqueried = args.takeFlag("--unqueried");
    const bool history = args.takeFlag("--history");
    if (args.unknownOption() || args.rest().size() != 1 || all + finished + unqueried > 1) {
        *context.err << kExportUsage;
        return kExitUsage;
    }
    const ExportKind kind = paid ? ExportKind::Paid : ExportKind::Natural;
    const ExportChoice choice = finished    ? ExportChoice::Finished
                                : unqueried ? ExportChoice::Unqueried
                                            : ExportChoice::All;
    std::filesystem::path path = args.rest()[0];
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        path /= DefaultExportFileName(kind, std::time(nullptr)) + ".xlsx";
    if (path.extension() != ".xlsx") {
        *context.err << "velquist: the export file must end in .xlsx\n";
        return kExitUsage;
    }
    if (!context.prepareDatabase()) return kExitRefused;
    const std::string& db = context.paths.databasePath;
    Process().siteColumnCount = ReloadSiteList(db);
    const auto table =
        LoadExportTable(db, kind, choice, Process().promotionSites(), *context.notifier);
    if (!table) {
        if (context.notifier->shown().empty()) return context.refuse("数据库打开失败！");
        return context.finish(kExitRefused);
    }
    if (table->rows.empty()) return context.refuse(kExportNoKeyword);
    const ExportResult result = WriteExportWorkbook(*table, path.string(), {history, db});
    if (!result.written) {
        context.refuse(result.message);
        *context.err << "velquist: " << path.string() << " was not written: " << result.reason
                     << '\n';
        return kExitRefused;
    }
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    context.inform(fmt::format(kExportedFormat, absolute.filename().string(),
                               absolute.parent_path().string()));
    return kExitOk;
}

}  // namespace velquist::cli
