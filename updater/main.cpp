// Tallowin: installs a downloaded update of Morvane while Morvane is closed, clears the
// leftovers of an earlier install, and starts Morvane again. Run in the program folder.

#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "core/paths.h"
#include "updater/message_window.h"
#include "updater/updater.h"

namespace {

constexpr const char* kUsage =
    R"(usage: Tallowin [--data-dir DIR]

Run in Morvane's program folder (Morvane starts it there). When DIR (default: documents folder
+ /Velquist) holds del.txt, deletes the *.utmp leftovers of the last update and ends. Otherwise
waits for Morvane to end, installs the package update.txt names over the program folder (never
replacing *.db files), removes the package and update.txt, and starts Morvane again.
Exit codes: 0 done or nothing to do, 1 not installed (the reason is on stderr), 2 usage error.
)";

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> dataFolder;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << kUsage;
            return 0;
        }
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
            dataFolder = argv[++i];
            continue;
        }
        std::cerr << "Tallowin: unusable argument '" << argv[i] << "'\n" << kUsage;
        return 2;
    }
    const velquist::AppPaths paths = velquist::ResolvePaths(dataFolder);
    velquist::updater::UpdaterSettings settings;
    settings.programFolder = paths.programFolder;
    settings.dataFolder = paths.dataFolder;
    settings.dataFolderArgument = dataFolder;

    velquist::updater::MessageNotifier notifier(argc, argv);
    velquist::updater::UpdaterHooks hooks;
    hooks.notifier = &notifier;
    hooks.log = &std::cerr;
    const auto outcome =
        velquist::updater::RunUpdater(settings, velquist::updater::RealHooks(hooks, settings));
    return velquist::updater::ExitCode(outcome);
}
