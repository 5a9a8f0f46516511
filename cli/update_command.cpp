#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "services/update_check.h"
#include "services/update_package.h"

namespace velquist::cli {

namespace {

constexpr const char* kUpdateUsage =
    R"(usage: velquist update [--check-only]

Asks the vendor's download service (download_host) whether a newer version exists. When one
does, downloads its package into DATA/download with a progress line on stderr, notes the new
version in the database and leaves DATA/update.txt for the updater: then close Morvane and
start Tallowin in Morvane's program folder to install it (Morvane does this itself at its next
start). --check-only only asks. Prints status, version, newversion, appname and updateurl (and
the package path once downloaded). Exit 1 when the service cannot be asked or the download
fails.
)";

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

// One line redrawn in place on a terminal; elsewhere a line for every tenth of the way.
class ProgressLine {
  public:
    explicit ProgressLine(std::ostream& out) : m_out(out), m_terminal(::isatty(2) == 1) {}

    void show(std::uint64_t received, std::uint64_t total, double bytesPerSecond) {
        const std::string text = DownloadPercentText(received, total) + "  " +
                                 DownloadProgressText(received, total, bytesPerSecond);
        if (m_terminal) {
            m_out << '\r' << text << "   " << std::flush;
            m_drawn = true;
            return;
        }
        const int tenth = total == 0 ? 0 : static_cast<int>(received * 10 / total);
        if (tenth == m_lastTenth) return;
        m_lastTenth = tenth;
        m_out << text << std::endl;
    }

    void end() {
        if (m_drawn) m_out << std::endl;
    }

  private:
    std::ostream& m_out;
    bool m_terminal;
    bool m_drawn = false;
    int m_lastTenth = -1;
};

std::string AbsoluteFolder(const std::string& folder) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(folder, ec);
    return ec ? folder : absolute.lexically_normal().string();
}

Table StatusTable(const std::string& status, const UpdateOffer& offer,
                  const std::string& package = "") {
    Table table{{"status", "version", "newversion", "appname", "updateurl"},
                {{status, kVersionText, offer.newVersion, offer.appName, offer.updateUrl}}};
    if (!package.empty()) {
        table.headings.push_back("package");
        table.rows[0].push_back(package);
    }
    return table;
}

}  // namespace

int RunUpdate(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kUpdateUsage;
        return kExitOk;
    }
    const bool checkOnly = args.takeFlag("--check-only");
    if (args.unknownOption() || !args.rest().empty()) {
        *context.err << kUpdateUsage;
        return kExitUsage;
    }
    using Outcome = UpdateCheckResult::Outcome;
    const UpdateCheckResult check =
        CheckForUpdate(context.hosts, kVersionText, context.hosts.httpTimeoutSeconds);
    switch (check.outcome) {
        case Outcome::Unreachable:
            return context.refuse("velquist: the download service at " +
                                  ServiceBaseUrl(context.hosts.downloadHost) +
                                  " could not be reached");
        case Outcome::Unreadable:
            return context.refuse("velquist: the download service gave no update check answer");
        case Outcome::UpToDate:
            PrintTable(*context.out, StatusTable("up-to-date", {}), context.format);
            return kExitOk;
        case Outcome::Available:
            break;
    }
    if (checkOnly) {
        PrintTable(*context.out, StatusTable("available", check.offer), context.format);
        return kExitOk;
    }
    if (!context.prepareDatabase()) return kExitRefused;

    CHttpDownFile downloader(context.notifier);
    auto running = std::async(
        std::launch::async, [&] { return DownloadUpdate(check.offer, context.paths, downloader); });
    ProgressLine progress(*context.err);
    const auto started = std::chrono::steady_clock::now();
    const auto show = [&] {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        const std::uint64_t received = downloader.received();
        progress.show(received, downloader.total(),
                      elapsed.count() > 0 ? static_cast<double>(received) / elapsed.count() : 0);
    };
    while (running.wait_for(kProgressInterval) != std::future_status::ready) show();
    const UpdateDownloadResult result = running.get();
    if (result.download.ok()) show();
    progress.end();
    if (!result.ok())
        return context.refuse(
            std::string("velquist: the update could not be downloaded: ") +
            DownloadResultText(result.download.result) +
            (result.download.detail.empty() ? "" : " (" + result.download.detail + ")"));
    if (!result.versionRecorded)
        *context.err << "velquist: the new version could not be noted in "
                     << context.paths.databasePath << '\n';
    PrintTable(*context.out, StatusTable("downloaded", check.offer, result.download.path),
               context.format);
    *context.err << "The update " << check.offer.newVersion
                 << " is ready. Close Morvane and start Tallowin in Morvane's program folder "
                    "to install it, e.g.: (cd PROGRAM_FOLDER && ./Tallowin --data-dir '"
                 << AbsoluteFolder(context.paths.dataFolder) << "')\n";
    return kExitOk;
}

}  // namespace velquist::cli
