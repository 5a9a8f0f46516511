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

namespace velquist::testing {

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A program run to its end in a folder of its choosing, with stdout and stderr kept in files
// there. Killed when it outlives `limit`.
struct ProgramRun {
    using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

    ProgramRun(std::string program, std::vector<std::string> args, std::string folder,
               Environment environment = {})
        : program(std::move(program)),
          args(std::move(args)),
          folder(std::move(folder)),
          environment(std::move(environment)) {}

    std::string program;
    std::vector<std::string> args;
    std::string folder;  // the current directory of the program
    Environment environment;  // set, or removed for nullopt, in the program's environment only
    std::chrono::seconds limit{60};

    int exitCode = -1;  // 128 + signal when killed
    std::string out;
    std::string err;

    ProgramRun& run(const std::string& logName) {
        const std::string outPath = folder + "/" + logName + ".out";
        const std::string errPath = folder + "/" + logName + ".err";
        // Built before the fork: the child of a threaded test may only exec.
        std::vector<std::string> argStore = {program};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const auto& change : environment) replaced = replaced || change.first == name;
            if (!replaced) envStore.push_back(entry);
        }
        for (const auto& [name, value] : environment)
            if (value) envStore.push_back(name + "=" + *value);
        std::vector<char*> envp;
        for (auto& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);

        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(folder.c_str()) != 0) _exit(126);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        out = ReadWhole(outPath);
        err = ReadWhole(errPath);
        return *this;
    }
};

// Waits until `path` holds text containing `part`, at most `limit`.
inline bool WaitForText(const std::string& path, const std::string& part,
                        std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadWhole(path).find(part) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace velquist::testing
