// The whole update with the real programs on loopback: 1.0.2.3 published on the service, the
// program at 1.0.2.2 finds and downloads it, Tallowin installs it and starts the new Morvane.
// The package's Morvane is a small script that notes its start and its version.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../server/service_process.h"
#include "core/database.h"
#include "package_builder.h"
#include "program_runner.h"
#include "services/update_package.h"
#include "temp_folder.h"

namespace velquist::updater {
namespace {

using namespace std::chrono_literals;
using velquist::testing::PackageBuilder;
using velquist::testing::ProgramRun;
using velquist::testing::ReadWhole;
using velquist::testing::RunServiceCommand;
using velquist::testing::ServiceProcess;
using velquist::testing::TempFolder;
using velquist::testing::WaitForText;
namespace fs = std::filesystem;

constexpr const char* kNewMorvane =
    "#!/bin/sh\n"
    "echo \"Morvane 1.0.2.3 started: $*\" >> \"$(dirname \"$0\")/started.txt\"\n";

std::string Built(const std::string& path) { return std::string(VELQUIST_BINARY_DIR) + path; }

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Headless: Tallowin's messages go to stderr, and the window system is offscreen.
const std::vector<std::pair<std::string, std::optional<std::string>>> kHeadless = {
    {"DISPLAY", std::nullopt},
    {"WAYLAND_DISPLAY", std::nullopt},
    {"QT_QPA_PLATFORM", "offscreen"},
};

// The service with 1.0.2.3 published: a new Morvane, a new skin image, an empty file (a
// folder to be), and a database file the user's must not be replaced by.
class UpdateEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string package = m_root.file("Velquist_1.0.2.3.zip");
        ASSERT_TRUE(PackageBuilder()
                        .file("Morvane", kNewMorvane, 0755)
                        .file("skin/new.png", "new image")
                        .file("plugins", "")
                        .file("database/main_360.db", "the packer's empty database")
                        .write(package));
        const auto published =
            RunServiceCommand(m_root.path(), {"--data", m_root.file("service"), "publish",
                                              "1.0.2.3", package, "--appname", "Zanquil"});
        ASSERT_EQ(published.exitCode, 0) << published.err;
        m_service = std::make_unique<ServiceProcess>(m_root.file("service"), m_root.path(), 90);
        ASSERT_TRUE(m_service->started()) << m_service->log();
    }

    std::string file(const std::string& name) const { return m_root.file(name); }

    TempFolder m_root;
    std::unique_ptr<ServiceProcess> m_service;
};

TEST_F(UpdateEndToEnd, CommandLineDownloadThenTallowinInstallsAndStartsTheNewVersion) {
    // No documents folder: the data folder is the program folder, database and all.
    const std::string program = file("program");
    fs::create_directories(program);
    std::ofstream(program + "/Morvane") << "#!/bin/sh\necho old\n";
    ProgramRun sites{Built("/cli/velquist"),
                     {"--data-dir", program, "sites", "add", "www.example.com"},
                     program};
    ASSERT_EQ(sites.run("sites").exitCode, 0) << sites.err;

    ProgramRun update{Built("/cli/velquist"), {"--data-dir", program, "update"}, program,
                      {{"VELQUIST_DOWNLOAD_HOST", m_service->host()}}};
    update.run("update");
    ASSERT_EQ(update.exitCode, 0) << update.err;
    EXPECT_TRUE(Has(update.err, "已下载 100%")) << update.err;
    EXPECT_TRUE(Has(update.err, "start Tallowin")) << update.err;
    EXPECT_TRUE(Has(update.out, "downloaded")) << update.out;
    const std::string downloaded = program + "/download/Velquist_1.0.2.3.zip";
    EXPECT_EQ(ReadWhole(program + "/update.txt"), downloaded);
    const std::string database = program + "/database/main_360.db";
    EXPECT_EQ(RecordedAppVersion(database), "1.0.2.3");
    const std::string databaseBefore = ReadWhole(database);

    ProgramRun tallowin{Built("/app/Tallowin"), {"--data-dir", program}, program, kHeadless};
    tallowin.run("tallowin");
    EXPECT_EQ(tallowin.exitCode, 0) << tallowin.err;
    ASSERT_TRUE(WaitForText(program + "/started.txt", "Morvane 1.0.2.3 started", 20s))
        << tallowin.err;
    EXPECT_TRUE(Has(ReadWhole(program + "/started.txt"), "--data-dir " + program));
    EXPECT_EQ(ReadWhole(program + "/skin/new.png"), "new image");
    EXPECT_TRUE(fs::is_directory(program + "/plugins"));
    EXPECT_TRUE(ReadWhole(database) == databaseBefore) << "the user's database was replaced";
    ProgramRun list{Built("/cli/velquist"), {"--data-dir", program, "sites", "list"}, program};
    EXPECT_TRUE(Has(list.run("list").out, "www.example.com")) << list.out << list.err;
    EXPECT_FALSE(fs::exists(program + "/update.txt"));
    EXPECT_FALSE(fs::exists(downloaded));
    EXPECT_TRUE(fs::is_empty(program + "/download/temp"));
}

TEST_F(UpdateEndToEnd, MorvaneDownloadsAtStartThenHandsOverAndTallowinStartsTheNewMorvane) {
    const std::string program = file("program");
    const std::string data = file("data");
    fs::create_directories(program);
    fs::create_directories(data);
    fs::create_symlink(Built("/app/Morvane"), program + "/Morvane");
    fs::create_symlink(Built("/app/Tallowin"), program + "/Tallowin");
    std::ofstream(data + "/velquist.ini") << "[hosts]\ndownload_host = " << m_service->host()
                                          << "\n";
    std::ofstream(program + "/Tallowin.utmp") << "leftover of an earlier update";

    ProgramRun morvane{program + "/Morvane", {"--data-dir", data}, program, kHeadless};
    morvane.run("morvane");
    // It ends by itself: with an update waiting the window never opens.
    ASSERT_EQ(morvane.exitCode, 0) << morvane.err;
    EXPECT_FALSE(fs::exists(program + "/Tallowin.utmp"));
    EXPECT_EQ(RecordedAppVersion(data + "/database/main_360.db"), "1.0.2.3");

    ASSERT_TRUE(WaitForText(program + "/started.txt", "Morvane 1.0.2.3 started", 30s))
        << ReadWhole(data + "/update.txt");
    EXPECT_TRUE(Has(ReadWhole(program + "/started.txt"), "--data-dir " + data));
    EXPECT_FALSE(fs::is_symlink(program + "/Morvane"));
    EXPECT_EQ(ReadWhole(program + "/Morvane"), kNewMorvane);
    EXPECT_EQ(ReadWhole(program + "/skin/new.png"), "new image");
    EXPECT_FALSE(fs::exists(data + "/update.txt"));
    EXPECT_FALSE(fs::exists(data + "/download/Velquist_1.0.2.3.zip"));
}

}  // namespace
}  // namespace velquist::updater
