#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "engine/http_client.h"

namespace velquist::cli {
namespace {

constexpr const char* kUsage =
    R"(usage: velquist [global options] COMMAND [ARGS]

Checks where your sites rank on the search engine for your keywords.

Commands:
  sites list|add|enable|disable|modify|remove   manage the promotion sites
  keywords list|add|delete                      manage natural keywords (--paid: the account tree)
  tree                                          list the plans and units of the account tree
  settings pages [N]                            show or set how many result pages a natural query reads
  query natural|paid                            run a rank query and show the ranks as they arrive
  import [--paid] FILE                          add the keywords of a .txt, .csv, .xls or .xlsx file
  export [--paid] [--all|--finished|--unqueried] FILE
                                                write the list with its ranks to an .xlsx workbook
  login [--user NAME] [--password-stdin] [--remember] [--auto]
                                                log in to the vendor's account service (queries need no login)
  feedback --contact-type TYPE --contact TEXT --content TEXT
                                                send a question or suggestion to the vendor
  history [--paid] [KEYWORD...] | changes | prune --before DATE
                                                every stored check: series, changes, pruning
  update [--check-only]                         download a newer version for the updater Tallowin

Global options:
  --data-dir DIR        data folder (default: documents folder + /Velquist)
  --format FORMAT       text (default), tsv or json
  --search-host HOST    search engine web host, may carry a port (default www.so.com)
  --search-domain NAME  search engine domain for the source tag (default so.com)
  --ua-host HOST        vendor host of the user-agent exchange
  --http-timeout SEC    connect and transfer limit of every request, 1 to 3600 (default 120)
  --help                this text; "velquist COMMAND --help" for a command
  --                    ends the options: a keyword after it may start with "-"

Exit codes: 0 done, 1 refused input (the message is on stderr), 2 usage error, 3 a query
finished with failed or unstored checks, 130 query stopped.
)";

int Main(int argc, char** argv) {
    Arguments args(std::vector<std::string>(argv + 1, argv + argc));
    bool missing = false;
    const auto dataDir = args.takeOption("--data-dir", missing);
    const auto format = args.takeOption("--format", missing);
    const auto searchHost = args.takeOption("--search-host", missing);
    const auto searchDomain = args.takeOption("--search-domain", missing);
    const auto uaHost = args.takeOption("--ua-host", missing);
    const auto timeout = args.takeOption("--http-timeout", missing);
    if (missing) {
        std::cerr << "velquist: an option is missing its value\n" << kUsage;
        return kExitUsage;
    }
    if (dataDir && dataDir->empty()) {
        std::cerr << "velquist: --data-dir needs a folder\n";
        return kExitUsage;
    }
    const std::optional<int> timeoutSeconds =
        timeout ? ParseHttpTimeout(*timeout) : std::optional<int>();
    if (timeout && !timeoutSeconds) {
        std::cerr << "velquist: --http-timeout takes a whole number of seconds from 1 to 3600\n";
        return kExitUsage;
    }
    const std::vector<std::string>& rest = args.rest();
    if (rest.empty() || rest[0] == "--help" || rest[0] == "-h" || rest[0] == "help") {
        (rest.empty() ? std::cerr : std::cout) << kUsage;
        return rest.empty() ? kExitUsage : kExitOk;
    }

    CliContext context;
    context.out = &std::cout;
    context.err = &std::cerr;
    if (format) {
        static const std::map<std::string, OutputFormat> kFormats = {
            {"text", OutputFormat::Text}, {"tsv", OutputFormat::Tsv}, {"json", OutputFormat::Json}};
        const auto it = kFormats.find(*format);
        if (it == kFormats.end()) {
            std::cerr << "velquist: unknown format '" << *format << "' (text, tsv or json)\n";
            return kExitUsage;
        }
        context.format = it->second;
    }
    context.paths = ResolvePaths(dataDir);
    context.hosts = HostConfig::Load(context.paths.programFolder, context.paths.dataFolder);
    if (searchHost) context.hosts.searchHost = *searchHost;
    if (searchDomain) context.hosts.searchDomain = *searchDomain;
    if (uaHost) context.hosts.uaHost = *uaHost;
    if (timeoutSeconds) context.hosts.httpTimeoutSeconds = *timeoutSeconds;
    CliNotifier notifier(context.format == OutputFormat::Text ? std::cout : std::cerr, std::cerr);
    context.notifier = &notifier;

    const std::string command = rest[0];
    Arguments commandArgs = args.withoutFirst();
    using Handler = int (*)(CliContext&, Arguments);
    static const std::map<std::string, Handler> kCommands = {
        {"sites", &RunSites},       {"keywords", &RunKeywords}, {"tree", &RunTree},
        {"settings", &RunSettings}, {"query", &RunQuery},       {"import", &RunImport},
        {"export", &RunExport},     {"login", &RunLogin},       {"feedback", &RunFeedback},
        {"history", &RunHistory},   {"update", &RunUpdate},
    };
    const auto handler = kCommands.find(command);
    if (handler == kCommands.end()) {
        std::cerr << "velquist: unknown command '" << command << "'\n" << kUsage;
        return kExitUsage;
    }
    CHttpClient::GlobalInit();
    CHttpClient::InstallTlsLocks();
    const int exitCode = context.finish(handler->second(context, std::move(commandArgs)));
    CHttpClient::RemoveTlsLocks();
    return exitCode;
}

}  // namespace
}  // namespace velquist::cli

int main(int argc, char** argv) { return velquist::cli::Main(argc, argv); }
