// velquist-search-standin: serves result pages on 127.0.0.1 for the offline demo and benchmarks.

#include <signal.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "tools/search_standin/search_standin.h"

namespace {

constexpr const char* kUsage =
    "usage: velquist-search-standin [--port N] [--world FILE] [--lifetime SECONDS] [--rate "
    "PER_SECOND]\n"
    "                               [--fail-every N] [--fail-status CODE] [--drop-every N]\n"
    "                               [--port-file PATH] [--cert-file PATH]\n";

bool ParseNumber(std::string_view text, int low, int high, int& out) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

// Written beside and renamed into place, so a script polling for the file never reads half of it.
bool WriteWholeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush()) {
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    velquist::standin::StandinOptions options;
    std::string portFile;
    std::string certFile;
    for (int i = 1; i < argc; ++i) {
        const std::string_view flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (i + 1 >= argc) {
            std::cerr << "missing value for " << flag << "\n" << kUsage;
            return 2;
        }
        const std::string_view value = argv[++i];
        bool ok = true;
        if (flag == "--port") {
            ok = ParseNumber(value, 0, 65535, options.port);
        } else if (flag == "--world") {
            options.worldPath = value;
        } else if (flag == "--lifetime") {
            ok = ParseNumber(value, 0, 7 * 24 * 3600, options.lifetimeSeconds);
        } else if (flag == "--rate") {
            ok = ParseNumber(value, 0, 1000000, options.rateLimitPerSecond);
        } else if (flag == "--fail-every") {
            ok = ParseNumber(value, 0, 1000000, options.failEveryNth);
        } else if (flag == "--fail-status") {
            ok = ParseNumber(value, 100, 599, options.failStatus);
        } else if (flag == "--drop-every") {
            ok = ParseNumber(value, 0, 1000000, options.dropEveryNth);
        } else if (flag == "--port-file") {
            portFile = value;
        } else if (flag == "--cert-file") {
            certFile = value;
        } else {
            std::cerr << "unknown option " << flag << "\n" << kUsage;
            return 2;
        }
        if (!ok) {
            std::cerr << "bad value for " << flag << ": " << value << "\n";
            return 2;
        }
    }

    // Blocked before any thread exists, so only the wait below ever sees these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    velquist::standin::SearchStandin standin;
    if (!standin.start(options)) {
        std::cerr << "cannot start: " << standin.lastError() << "\n";
        return 1;
    }
    if (!certFile.empty() && !WriteWholeFile(certFile, standin.certificatePem())) {
        std::cerr << "cannot write " << certFile << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    if (!portFile.empty() && !WriteWholeFile(portFile, std::to_string(standin.port()) + "\n")) {
        std::cerr << "cannot write " << portFile << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::cout << "listening on " << standin.host() << std::endl;

    const timespec tick{0, 200 * 1000 * 1000};
    while (standin.running()) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
            break;
        }
    }
    standin.stop();
    return 0;
}
