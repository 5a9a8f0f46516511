// velquist-service: the vendor's web services (accounts, feedback, usage reports, user-agent
// exchange, update check and downloads) and the operator's commands over their data.

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/service_store.h"
#include "server/table_output.h"
#include "server/update_releases.h"
#include "server/vendor_service.h"

namespace velquist::service {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    R"(usage: velquist-service serve --data DIR [--listen ADDRESS] [--port N | --port 0 --port-file FILE]
                              [--lifetime SECONDS]
       velquist-service --data DIR account add NAME PASSWORD [--truename TEXT] [--company TEXT]
       velquist-service --data DIR account reset NAME PASSWORD
       velquist-service --data DIR account list [--format text|tsv]
       velquist-service --data DIR feedback list [--format text|tsv]
       velquist-service --data DIR usage list [--format text|tsv]
       velquist-service --data DIR publish VERSION PACKAGE.zip [--appname NAME]

serve answers the login, registration, feedback, usage-report, user-agent, update-check and
download requests of Velquist on ADDRESS (default 127.0.0.1) and PORT (0 picks a free one,
written to FILE), until SIGINT or SIGTERM, or for SECONDS when given. DIR holds service.db and
service.key; keep the key: without it no stored password can be checked.
publish copies PACKAGE.zip into DIR/packages and offers it, from then on, to every program older
than VERSION (such as 1.0.2.3); a running service serves it at once.
Passwords are 6 to 64 characters; names 1 to 64.
Exit codes: 0 done, 1 failed (the reason is on stderr), 2 usage error.
)";

bool ParseNumber(std::string_view text, int low, int high, int& out) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

// Written beside and renamed into place, so a script polling for the file never reads half.
bool WriteWholeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

struct Arguments {
    std::map<std::string, std::string> options;
    std::vector<std::string> words;
};

// Options may stand anywhere; every one of them takes a value.
std::optional<Arguments> ParseArguments(int argc, char** argv, std::string& problem) {
    static const char* const kOptions[] = {"--data",     "--listen", "--port",     "--port-file",
                                           "--lifetime", "--format", "--truename", "--company",
                                           "--appname"};
    Arguments args;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--" && !optionsEnded) {
            optionsEnded = true;  // a password may start with "-"
            continue;
        }
        if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            std::string value;
            bool hasValue = false;
            if (const auto eq = word.find('='); eq != std::string::npos) {
                value = word.substr(eq + 1);
                word.resize(eq);
                hasValue = true;
            }
            if (std::find(std::begin(kOptions), std::end(kOptions), word) == std::end(kOptions)) {
                problem = "unknown option " + word;
                return std::nullopt;
            }
            if (!hasValue) {
                if (i + 1 >= argc) {
                    problem = word + " needs a value";
                    return std::nullopt;
                }
                value = argv[++i];
            }
            if (args.options.count(word)) {
                problem = word + " given twice";
                return std::nullopt;
            }
            args.options[word] = value;
        } else {
            args.words.push_back(std::move(word));
        }
    }
    return args;
}

std::string Option(const Arguments& args, const std::string& name) {
    const auto it = args.options.find(name);
    return it == args.options.end() ? std::string() : it->second;
}

int Serve(const Arguments& args) {
    ServiceOptions options;
    options.dataFolder = Option(args, "--data");
    if (args.options.count("--listen")) options.listenAddress = Option(args, "--listen");
    if (args.options.count("--port") &&
        !ParseNumber(Option(args, "--port"), 0, 65535, options.port)) {
        std::cerr << "velquist-service: --port takes a number from 0 to 65535\n";
        return kExitUsage;
    }
    if (args.options.count("--lifetime") &&
        !ParseNumber(Option(args, "--lifetime"), 1, 365 * 24 * 3600, options.lifetimeSeconds)) {
        std::cerr << "velquist-service: --lifetime takes a number of seconds\n";
        return kExitUsage;
    }
    const std::string portFile = Option(args, "--port-file");
    if (options.port == 0 && portFile.empty()) {
        std::cerr << "velquist-service: --port 0 (or no --port) needs --port-file\n";
        return kExitUsage;
    }
    options.log = [](const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    };

    // Blocked before any thread exists, so only the wait below ever sees these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    VendorService service;
    if (!service.start(options)) {
        std::cerr << "velquist-service: cannot start: " << service.lastError() << "\n";
        return kExitFailed;
    }
    if (!portFile.empty() && !WriteWholeFile(portFile, std::to_string(service.port()) + "\n")) {
        std::cerr << "velquist-service: cannot write " << portFile << ": " << std::strerror(errno)
                  << "\n";
        return kExitFailed;
    }
    std::cout << "listening on " << service.host() << std::endl;
    const timespec tick{0, 200 * 1000 * 1000};
    while (service.running()) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) break;
    }
    service.stop();
    return kExitOk;
}

const char* TextProblem(AccountTextProblem problem, bool name) {
    switch (problem) {
        case AccountTextProblem::Empty:
            return name ? "the name is empty" : "the password is empty";
        case AccountTextProblem::TooLong:
            return name ? "a name has at most 64 characters"
                        : "a password has at most 64 characters";
        case AccountTextProblem::TooShort:
            return "a password has at least 6 characters";
        case AccountTextProblem::EdgeBlanks:
            return "a name may not start or end with blanks";
        case AccountTextProblem::NotText:
            return name ? "the name is not UTF-8 text without control characters"
                        : "the password is not UTF-8 text without control characters";
        case AccountTextProblem::None:
            break;
    }
    return nullptr;
}

const char* WriteProblem(ServiceStore::Write result) {
    switch (result) {
        case ServiceStore::Write::Exists:
            return "an account of that name exists already";
        case ServiceStore::Write::Missing:
            return "there is no account of that name";
        case ServiceStore::Write::Refused:
            return "names are 1 to 64 characters without control characters or blanks at the "
                   "ends; passwords are 6 to 64 characters";
        case ServiceStore::Write::Failed:
            return "the database could not be written";
        case ServiceStore::Write::Done:
            break;
    }
    return "";
}

int Account(ServiceStore& store, const Arguments& args, TableFormat format) {
    const auto& words = args.words;
    if (words.size() == 2 && words[1] == "list") {
        Table table{{"name", "truename", "comname", "score", "jointime", "levelname"}, {}};
        for (const auto& account : store.listAccounts())
            table.rows.push_back({account.name, account.profile.trueName,
                                  account.profile.companyName, account.profile.score,
                                  account.profile.joinTime, account.profile.levelName});
        PrintTable(std::cout, table, format);
        return kExitOk;
    }
    if (words.size() != 4 || (words[1] != "add" && words[1] != "reset")) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const char* problem =
        words[1] == "add" ? TextProblem(CheckAccountName(words[2]), true) : nullptr;
    if (!problem) problem = TextProblem(CheckPassword(words[3]), false);
    if (problem) {
        std::cerr << "velquist-service: " << problem << "\n";
        return kExitFailed;
    }
    ServiceStore::Write result;
    if (words[1] == "add") {
        AccountProfile profile;
        profile.trueName = Option(args, "--truename");
        profile.companyName = Option(args, "--company");
        result = store.addAccount(words[2], words[3], profile);
    } else {
        result = store.setPassword(words[2], words[3]);
    }
    if (result != ServiceStore::Write::Done) {
        std::cerr << "velquist-service: " << WriteProblem(result) << "\n";
        return kExitFailed;
    }
    std::cout << (words[1] == "add" ? "added account " : "new password for ") << words[2] << "\n";
    return kExitOk;
}

int Publish(const std::string& data, const Arguments& args) {
    if (args.words.size() != 3) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    std::string problem;
    auto releases = ReleaseStore::Open(data, problem);
    Release release;
    const std::string appName = args.options.count("--appname") ? Option(args, "--appname")
                                                                 : kDefaultReleaseAppName;
    if (!releases || !releases->publish(args.words[1], args.words[2], appName, release, problem)) {
        std::cerr << "velquist-service: " << problem << "\n";
        return kExitFailed;
    }
    std::cout << "published " << release.appName << " " << release.version << " ("
              << release.size << " bytes) at /download/" << release.file << "\n";
    return kExitOk;
}

int Main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
    }
    std::string problem;
    const auto args = ParseArguments(argc, argv, problem);
    if (!args) {
        std::cerr << "velquist-service: " << problem << "\n" << kUsage;
        return kExitUsage;
    }
    const std::string data = Option(*args, "--data");
    if (args->words.empty() || data.empty()) {
        std::cerr << "velquist-service: a command and --data DIR are needed\n" << kUsage;
        return kExitUsage;
    }
    const std::string& command = args->words[0];
    if (command == "serve") {
        if (args->words.size() != 1) {
            std::cerr << kUsage;
            return kExitUsage;
        }
        return Serve(*args);
    }
    if (command == "publish") return Publish(data, *args);
    TableFormat format = TableFormat::Text;
    if (const std::string name = Option(*args, "--format"); !name.empty()) {
        if (name == "tsv") {
            format = TableFormat::Tsv;
        } else if (name != "text") {
            std::cerr << "velquist-service: unknown format '" << name << "' (text or tsv)\n";
            return kExitUsage;
        }
    }
    const bool isList = args->words.size() == 2 && args->words[1] == "list";
    if (command != "account" && !((command == "feedback" || command == "usage") && isList)) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    auto store = ServiceStore::Open(data, problem);
    if (!store) {
        std::cerr << "velquist-service: " << problem << "\n";
        return kExitFailed;
    }
    if (command == "account") return Account(*store, *args, format);
    if (command == "feedback") {
        Table table{{"id", "received", "address", "machine", "appversion", "contact", "content",
                     "cpu", "memory", "os"},
                    {}};
        for (const auto& r : store->listFeedback())
            table.rows.push_back({std::to_string(r.id), r.received, r.address, r.machine,
                                  r.appVersion, r.contact, r.content, r.cpu, r.memory, r.os});
        PrintTable(std::cout, table, format);
        return kExitOk;
    }
    Table table{
        {"id", "kind", "received", "address", "machine", "os", "ranklogid", "accinfo", "login_id"},
        {}};
    for (const auto& r : store->listUsage())
        table.rows.push_back({std::to_string(r.id), r.kind, r.received, r.address, r.machine, r.os,
                              r.ranklogid, r.accinfo,
                              r.loginId ? std::to_string(r.loginId) : std::string()});
    PrintTable(std::cout, table, format);
    return kExitOk;
}

}  // namespace
}  // namespace velquist::service

int main(int argc, char** argv) { return velquist::service::Main(argc, argv); }
