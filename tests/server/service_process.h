#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velquist::testing {

inline std::string ServiceProgram() {
    return std::string(VELQUIST_BINARY_DIR) + "/server/velquist-service";
}

inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts a program with stdout and stderr in files; the argument and file lists are built before
// the fork, since the child of a threaded test may only exec.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath,
                   const std::string& errPath) {
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs `velquist-service ARGS...` to its end.
inline ProgramResult RunServiceCommand(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), ServiceProgram());
    const std::string outPath = folder + "/command.out";
    const std::string errPath = folder + "/command.err";
    const pid_t pid = Spawn(args, outPath, errPath);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFileText(outPath),
            ReadFileText(errPath)};
}

// `velquist-service serve` on 127.0.0.1 and a free port, for at most `lifetimeSeconds`; stopped
// with SIGTERM when the object goes, unless a test killed it first.
class ServiceProcess {
  public:
    ServiceProcess(const std::string& dataFolder, const std::string& scratchFolder,
                   int lifetimeSeconds = 120)
        : m_scratch(scratchFolder) {
        const std::string portFile = scratchFolder + "/service.port";
        std::remove(portFile.c_str());
        m_pid = Spawn({ServiceProgram(), "serve", "--data", dataFolder, "--port", "0",
                       "--port-file", portFile, "--lifetime", std::to_string(lifetimeSeconds)},
                      scratchFolder + "/service.out", scratchFolder + "/service.err");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string text = ReadFileText(portFile);
            if (!text.empty()) {
                m_port = std::stoi(text);
                break;
            }
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    ~ServiceProcess() { stop(SIGTERM); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool started() const { return m_port > 0; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string log() const { return ReadFileText(m_scratch + "/service.err"); }

    // Ends the process with `signal` and returns how it ended (128 + signal when killed).
    int stop(int signal) {
        if (m_pid <= 0) return -1;
        kill(m_pid, signal);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Waits at most `limit` for the process to end by itself; its exit code, or -1 when it was
    // still running (it is then killed).
    int waitForExit(std::chrono::milliseconds limit) {
        if (m_pid <= 0) return -1;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop(SIGKILL);
        return -1;
    }

  private:
    std::string m_scratch;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace velquist::testing
