#include <iostream>

#include "cli/commands.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/text.h"

namespace velquist::cli {

namespace {
constexpr const char* kSettingsUsage =
    R"(usage: velquist settings pages [N]

Without N: shows how many result pages a natural query reads (1 to 10, default 5).
With N: stores it in RankSettings.ini.
)";
}  // namespace

int RunSettings(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kSettingsUsage;
        return kExitOk;
    }
    const auto& rest = args.rest();
    if (rest.empty() || rest[0] != "pages" || rest.size() > 2) {
        *context.err << kSettingsUsage;
        return kExitUsage;
    }
    if (!EnsureFolder(context.paths.dataFolder)) {
        *context.err << "velquist: cannot create the data folder " << context.paths.dataFolder
                     << '\n';
        return kExitRefused;
    }
    RankSettings settings(context.paths.settingsPath);
    if (rest.size() == 2) {
        const std::string& text = rest[1];
        const int pages = DecimalToInt(text);
        if (std::to_string(pages) != TrimWhitespace(text) || pages < 1 || pages > 10) {
            *context.err << "velquist: the page count is a number from 1 to 10\n";
            return kExitUsage;
        }
        if (!settings.writePageCount(pages)) {
            *context.err << "velquist: could not write the settings file "
                         << context.paths.settingsPath << "; the page count is unchanged\n";
            return kExitRefused;
        }
    }
    const int pages = settings.readPageCount(Process().pageCount.load());
    Process().pageCount = pages;
    PrintTable(*context.out, Table{{"PageNum"}, {{std::to_string(pages)}}, {{"pages", true}}},
               context.format);
    return kExitOk;
}

}  // namespace velquist::cli
