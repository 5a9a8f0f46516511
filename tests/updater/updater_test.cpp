// One run of the updater, in-process: the hand-off markers, the wait for Morvane, the install,
// what it leaves behind, and the restart.

#include "updater/updater.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "package_builder.h"
#include "recording_notifier.h"
#include "services/update_package.h"
#include "temp_folder.h"

namespace velquist::updater {
namespace {

using namespace std::chrono_literals;
using velquist::testing::PackageBuilder;
using velquist::testing::RecordingNotifier;
using velquist::testing::TempFolder;
namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A program folder with an installed Morvane and the user's database, a data folder, and hooks
// that record instead of sleeping and starting programs.
class UpdaterTest : public ::testing::Test {
  protected:
    UpdaterTest() {
        Write(program("Morvane"), "old program");
        Write(program("skin/button.png"), "old image");
        Write(program("main_360.db"), "the user's database");
        settings.programFolder = m_program.path();
        settings.dataFolder = m_data.path();
        settings.dataFolderArgument = m_data.path();
        hooks.notifier = &notifier;
        hooks.log = &log;
        hooks.sleep = [this](std::chrono::milliseconds pause) { slept += pause; };
        hooks.programRunning = [this] { return runningChecks-- > 0; };
        hooks.startProgram = [this](const std::string& path, const std::vector<std::string>& args) {
            started.push_back(path);
            startArguments = args;
            return true;
        };
    }

    std::string program(const std::string& name) const { return m_program.file(name); }
    std::string data(const std::string& name) const { return m_data.file(name); }

    // The package in the download folder and "update.txt" naming it.
    std::string offer(const PackageBuilder& package) {
        const std::string path = data("download/Velquist_1.0.2.3.zip");
        fs::create_directories(data("download"));
        EXPECT_TRUE(package.write(path));
        EXPECT_TRUE(WriteUpdateMarker(m_data.path(), path));
        return path;
    }

    UpdaterOutcome run() { return RunUpdater(settings, hooks); }

    TempFolder m_program;
    TempFolder m_data;

  public:
    UpdaterSettings settings;
    UpdaterHooks hooks;
    RecordingNotifier notifier;
    std::ostringstream log;
    std::chrono::milliseconds slept{0};
    int runningChecks = 0;
    std::vector<std::string> started;
    std::vector<std::string> startArguments;
};

TEST_F(UpdaterTest, InstallsThePackageCleansUpAndStartsMorvane) {
    const std::string package = offer(PackageBuilder()
                                          .file("Morvane", "new program", 0755)
                                          .file("skin/button.png", "new image")
                                          .file("main_360.db", "empty database of the packer")
                                          .file("plugins", ""));
    Write(data("download/temp/stale.txt"), "left by an earlier run");

    EXPECT_EQ(run(), UpdaterOutcome::Installed);
    EXPECT_EQ(ReadFile(program("Morvane")), "new program");
    EXPECT_EQ(ReadFile(program("skin/button.png")), "new image");
    EXPECT_EQ(ReadFile(program("main_360.db")), "the user's database");
    EXPECT_TRUE(fs::is_directory(program("plugins")));
    EXPECT_FALSE(fs::exists(program("stale.txt")));
    EXPECT_TRUE(fs::is_directory(data("download/temp")));
    EXPECT_TRUE(fs::is_empty(data("download/temp")));
    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(fs::exists(data("update.txt")));
    EXPECT_FALSE(fs::exists(data("del.txt")));
    EXPECT_EQ(started, std::vector<std::string>{program("Morvane")});
    EXPECT_EQ(startArguments, (std::vector<std::string>{"--data-dir", m_data.path()}));
    EXPECT_TRUE(notifier.messages.empty());
    EXPECT_EQ(slept, 1000ms + 1500ms);
    EXPECT_NE(log.str().find(kUpdatingText), std::string::npos);
}

TEST_F(UpdaterTest, WaitsForMorvaneToCloseThenGivesUpWithTheMessage) {
    offer(PackageBuilder().file("Morvane", "new program"));
    runningChecks = 3;  // closes while the updater waits
    EXPECT_EQ(run(), UpdaterOutcome::Installed);
    EXPECT_EQ(ReadFile(program("Morvane")), "new program");

    offer(PackageBuilder().file("Morvane", "newer program"));
    started.clear();
    runningChecks = 1000;  // never closes
    EXPECT_EQ(run(), UpdaterOutcome::ProgramRunning);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{kProgramRunningMessage});
    EXPECT_EQ(ReadFile(program("Morvane")), "new program");
    EXPECT_TRUE(fs::exists(data("update.txt")));
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(ExitCode(UpdaterOutcome::ProgramRunning), 1);
}

TEST_F(UpdaterTest, ARefusedPackageLeavesTheProgramAsItWas) {
    const PackageBuilder refused[] = {
        PackageBuilder().file("Morvane", "new program").file("../escape", "x"),
        PackageBuilder().file("Morvane", "new program").link("skin", "/tmp"),
        PackageBuilder().file("Morvane", "new program").file("/etc/velquist-evil", "x"),
    };
    for (const PackageBuilder& package : refused) {
        started.clear();
        notifier.messages.clear();
        const std::string path = offer(package);
        EXPECT_EQ(run(), UpdaterOutcome::PackageRefused);
        EXPECT_EQ(ReadFile(program("Morvane")), "old program");
        EXPECT_EQ(ReadFile(program("skin/button.png")), "old image");
        EXPECT_FALSE(fs::exists(m_program.path() + "/../escape"));
        EXPECT_EQ(notifier.messages, std::vector<std::string>{kPackageRefusedMessage});
        // Not offered again, and the old program comes back.
        EXPECT_FALSE(fs::exists(path));
        EXPECT_FALSE(fs::exists(data("update.txt")));
        EXPECT_TRUE(fs::is_empty(data("download/temp")));
        EXPECT_EQ(started, std::vector<std::string>{program("Morvane")});
    }
}

TEST_F(UpdaterTest, ADamagedPackageCopiesNothing) {
    const std::string package = offer(PackageBuilder()
                                          .file("Morvane", "new program")
                                          .file("skin/button.png", "NEW-IMAGE-WITH-A-BAD-BYTE"));
    ASSERT_TRUE(velquist::testing::SpoilBytes(package, "BAD-BYTE", "BAD-BYTX"));
    EXPECT_EQ(run(), UpdaterOutcome::PackageRefused);
    // The first entry unpacked fine, but nothing reaches the program folder.
    EXPECT_EQ(ReadFile(program("Morvane")), "old program");
    EXPECT_EQ(ReadFile(program("skin/button.png")), "old image");
}

TEST_F(UpdaterTest, MarkersDecideWhatARunDoes) {
    // Clean-up mode: no waiting, no install, no start.
    Write(data("del.txt"), "");
    Write(program("Tallowin.utmp"), "old updater");
    offer(PackageBuilder().file("Morvane", "new program"));
    EXPECT_EQ(run(), UpdaterOutcome::CleanedUp);
    EXPECT_FALSE(fs::exists(program("Tallowin.utmp")));
    EXPECT_FALSE(fs::exists(data("del.txt")));
    EXPECT_TRUE(fs::exists(data("update.txt")));
    EXPECT_EQ(slept, 0ms);
    EXPECT_TRUE(started.empty());

    // Nothing waiting: ends after the check for Morvane.
    fs::remove(data("update.txt"));
    EXPECT_EQ(run(), UpdaterOutcome::NothingToInstall);
    EXPECT_EQ(slept, 1000ms);
    EXPECT_TRUE(started.empty());

    // An empty marker would keep Morvane from opening its window on every start.
    Write(data("update.txt"), "");
    EXPECT_EQ(run(), UpdaterOutcome::NothingToInstall);
    EXPECT_FALSE(fs::exists(data("update.txt")));
    EXPECT_EQ(started, std::vector<std::string>{program("Morvane")});
}

TEST_F(UpdaterTest, OnlyAPackageInTheDownloadFolderIsDeleted) {
    TempFolder elsewhere;
    const std::string package = elsewhere.file("my-update.zip");
    ASSERT_TRUE(PackageBuilder().file("Morvane", "new program").write(package));
    ASSERT_TRUE(WriteUpdateMarker(m_data.path(), package));
    EXPECT_EQ(run(), UpdaterOutcome::Installed);
    EXPECT_EQ(ReadFile(program("Morvane")), "new program");
    EXPECT_TRUE(fs::exists(package));
    EXPECT_FALSE(fs::exists(data("update.txt")));
}

}  // namespace
}  // namespace velquist::updater
