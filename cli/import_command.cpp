#include <fmt/format.h>

#include <iostream>

#include "cli/commands.h"
#include "records/keyword_import.h"

namespace velquist::cli {

namespace {

constexpr const char* kImportUsage =
    R"(usage: velquist import [--paid] FILE

Adds the keywords of a .txt, .csv, .xls or .xlsx file (the extension in lower case) to the
natural list, or with --paid to the account tree.
  Text and CSV: one keyword per line (a CSV line is one keyword, commas and all); UTF-8 with or
  without a byte-order mark, UTF-16 with its mark, or GB18030.
  Workbooks: the first worksheet. Row 1 holds the heading 关键词 in a cell from A1 to Z1 (and
  for --paid 推广计划 and 推广单元); the keywords run from row 2 down to the first empty
  keyword cell. A merged cell counts in every row it covers.
Keywords are trimmed and kept to 63 characters; a paid keyword without a plan or unit goes to
"默认". A file that is refused adds nothing. Exit codes: 0 added, 1 refused, 2 usage error.
)";

}  // namespace

int RunImport(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kImportUsage;
        return kExitOk;
    }
    const bool paid = args.takeFlag("--paid");
    if (args.unknownOption() || args.rest().size() != 1) {
        *context.err << kImportUsage;
        return kExitUsage;
    }
    const std::string path = args.rest()[0];
    if (!context.prepareDatabase()) return kExitRefused;
    const ImportOutcome outcome =
        ImportKeywordFile(context.paths.databasePath, path,
                          paid ? ImportKind::Paid : ImportKind::Natural, *context.notifier);
    if (!outcome.file.ok()) {
        context.finish(kExitRefused);
        *context.err << "velquist: " << path << " was not imported: " << outcome.file.reason
                     << '\n';
        return kExitRefused;
    }
    const int exitCode = context.finish(outcome.add.committed ? kExitOk : kExitRefused);
    if (outcome.add.committed)
        context.inform(
            fmt::format("velquist: {} keywords read, {} added, {} already stored or "
                        "repeated",
                        outcome.keywordsRead, outcome.add.added, outcome.add.skipped));
    return exitCode;
}

}  // namespace velquist::cli
