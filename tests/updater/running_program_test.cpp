// Finding a running Morvane of the program folder in /proc.

#include "updater/running_program.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "temp_folder.h"

namespace velquist::updater {
namespace {

using namespace std::chrono_literals;
using velquist::testing::TempFolder;
namespace fs = std::filesystem;

// A /proc look-alike: one folder per process with its "exe" link and "comm" file.
class FakeProc {
  public:
    void process(int pid, const std::string& executable, const std::string& comm = "x") {
        const fs::path folder = fs::path(m_root.path()) / std::to_string(pid);
        fs::create_directories(folder);
        if (!executable.empty()) fs::create_symlink(executable, folder / "exe");
        std::ofstream(folder / "comm") << comm << "\n";
    }
    std::string root() const { return m_root.path(); }

  private:
    TempFolder m_root;
};

TEST(RunningProgram, OnlyMorvaneOfThisProgramFolderCounts) {
    TempFolder program;
    const std::string morvane = fs::canonical(program.path()).string() + "/Morvane";
    struct Case {
        const char* name;
        std::string executable;
        bool running;
    };
    const Case cases[] = {
        {"this folder's program", morvane, true},
        {"replaced while running", morvane + " (deleted)", true},
        {"another installation", "/opt/other/Morvane", false},
        {"another program here", fs::canonical(program.path()).string() + "/Tallowin", false},
        {"a name that only starts alike", morvane + "Helper", false},
    };
    for (const Case& c : cases) {
        FakeProc proc;
        proc.process(100, "/usr/bin/bash");
        proc.process(200, c.executable);
        EXPECT_EQ(IsProgramRunning(program.path(), "Morvane", proc.root()), c.running) << c.name;
    }
    FakeProc proc;
    fs::create_directories(fs::path(proc.root()) / "self");  // not a process number
    fs::create_directories(fs::path(proc.root()) / "300");   // ended: no executable any more
    std::ofstream(fs::path(proc.root()) / "300" / "comm") << "Morvane\n";
    EXPECT_FALSE(IsProgramRunning(program.path(), "Morvane", proc.root()));
    EXPECT_FALSE(IsProgramRunning(program.path(), "Morvane", proc.root() + "/missing"));
}

TEST(RunningProgram, SeesARealProcessUntilItEnds) {
    TempFolder program;
    std::string morvane = program.file("Morvane");
    fs::copy_file("/bin/sleep", morvane);
    fs::permissions(morvane, fs::perms::owner_all);
    EXPECT_FALSE(IsProgramRunning(program.path(), "Morvane"));

    std::string seconds = "20";
    char* argv[] = {morvane.data(), seconds.data(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = IsProgramRunning(program.path(), "Morvane");
        if (!seen) std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    EXPECT_TRUE(seen);
    EXPECT_FALSE(IsProgramRunning(program.path(), "Morvane"));
}

}  // namespace
}  // namespace velquist::updater
