#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "temp_folder.h"

namespace velquist::testing {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the real `velquist` program with a data folder of its own; optionally feeds stdin and
// sends SIGINT once stdout holds `interruptAfter`.
class CliRunner {
  public:
    CliRunner() : dataDir(m_folder.file("data")) {}

    CliResult run(std::vector<std::string> args, const std::string& input = "",
                  const std::string& interruptAfter = "") const {
        const std::string outPath = m_folder.file("out.txt");
        const std::string errPath = m_folder.file("err.txt");
        const std::string inPath = m_folder.file("in.txt");
        std::ofstream(inPath, std::ios::binary) << input;
        std::vector<std::string> full = {std::string(VELQUIST_BINARY_DIR) + "/cli/velquist"};
        if (!dataDir.empty()) {
            full.push_back("--data-dir");
            full.push_back(dataDir);
        }
        for (auto& extra : globalArgs) full.push_back(extra);
        for (auto& a : args) full.push_back(std::move(a));

        // Built before the fork: the child of a threaded test may only exec.
        std::vector<std::string> env = ChildEnvironment();
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        std::vector<char*> argv;
        for (auto& a : full) argv.push_back(a.data());
        argv.push_back(nullptr);

        const pid_t pid = fork();
        if (pid == 0) {
            const int in = open(inPath.c_str(), O_RDONLY);
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        if (!interruptAfter.empty()) {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (std::chrono::steady_clock::now() < limit &&
                   ReadWhole(outPath).find(interruptAfter) == std::string::npos)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            kill(pid, SIGINT);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        CliResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadWhole(outPath);
        result.err = ReadWhole(errPath);
        return result;
    }

    std::string folder() const { return m_folder.path(); }

  private:
    std::vector<std::string> ChildEnvironment() const {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const auto& change : environment) replaced = replaced || change.first == name;
            if (!replaced) env.push_back(entry);
        }
        for (const auto& [name, value] : environment)
            if (value) env.push_back(name + "=" + *value);
        return env;
    }

    TempFolder m_folder;  // first: dataDir lives in it

  public:
    std::string dataDir;
    std::vector<std::string> globalArgs;
    // Set (or, for nullopt, removed) in the program's environment only.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
};

}  // namespace velquist::testing
