// The update check, the version note in `app`, the hand-off markers and the download flow
// that ties them together.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "closed_port.h"
#include "core/database.h"
#include "core/schema.h"
#include "recording_notifier.h"
#include "scripted_server.h"
#include "services/update_check.h"
#include "services/update_package.h"
#include "temp_folder.h"
#include "update_test_server.h"

namespace velquist {
namespace {

using testing::OkAnswer;
using testing::RawHttpServer;
using testing::ScriptedServer;
using testing::TempFolder;
using Outcome = UpdateCheckResult::Outcome;
namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A data folder with the program's database.
class DataFolder {
  public:
    DataFolder() : paths(PathsForDataFolder(m_folder.path())) {
        testing::RecordingNotifier notifier;
        EXPECT_TRUE(PrepareDatabase(paths.dataFolder, paths.databaseFolder, paths.databasePath,
                                    notifier));
    }
    std::string file(const std::string& name) const { return m_folder.file(name); }

  private:
    TempFolder m_folder;

  public:
    AppPaths paths;
};

TEST(UpdateCheck, AsksTheDownloadServiceWithTheVersionAndReadsItsAnswer) {
    std::string answer = "404";
    ScriptedServer server([&answer](const httplib::Request&) { return answer; });
    HostConfig hosts;
    hosts.downloadHost = server.host();

    EXPECT_EQ(CheckForUpdate(hosts, "1.0.2.2").outcome, Outcome::UpToDate);
    ASSERT_EQ(server.seen().size(), 1u);
    EXPECT_EQ(server.seen()[0].method, "GET");
    EXPECT_EQ(server.seen()[0].target, "/control/dl.php?appid=13&appversion=1.0.2.2&ischeck=1");

    answer = R"({"status":"0","appname":"Zanquil","newversion":"1.0.2.3",)"
             R"("updateurl":"/download/Velquist_1.0.2.3.zip"})";
    const UpdateCheckResult offered = CheckForUpdate(hosts, "1.0.2.2");
    ASSERT_EQ(offered.outcome, Outcome::Available);
    EXPECT_EQ(offered.offer.appName, "Zanquil");
    EXPECT_EQ(offered.offer.newVersion, "1.0.2.3");
    EXPECT_EQ(offered.offer.updateUrl,
              "http://" + server.host() + "/download/Velquist_1.0.2.3.zip");

    hosts.downloadHost = "127.0.0.1:" + std::to_string(testing::ClosedPort());
    EXPECT_EQ(CheckForUpdate(hosts, "1.0.2.2").outcome, Outcome::Unreachable);
}

TEST(UpdateCheck, AnswerForms) {
    struct Case {
        const char* answer;
        Outcome outcome;
        const char* url;
    };
    const Case cases[] = {
        {"404", Outcome::UpToDate, ""},
        {R"({"status":"1","updateurl":"http://h/a.zip"})", Outcome::UpToDate, ""},
        {R"({"status":"0","appname":"A","newversion":"2","updateurl":"http://h/a.zip"})",
         Outcome::Available, "http://h/a.zip"},
        {R"({"status":"0","updateurl":"/a.zip"})", Outcome::Available, "http://base/a.zip"},
        {R"({"status":"0","appname":"A"})", Outcome::Unreadable, ""},
        {R"({"status":0,"updateurl":"http://h/a.zip"})", Outcome::UpToDate, ""},
        {"<html>server error</html>", Outcome::Unreadable, ""},
        {R"(["status"])", Outcome::Unreadable, ""},
        {R"({"status":"0",)", Outcome::Unreadable, ""},
        {"", Outcome::Unreadable, ""},
    };
    for (const Case& c : cases) {
        const UpdateCheckResult result = ParseUpdateAnswer(c.answer, "http://base");
        EXPECT_EQ(result.outcome, c.outcome) << c.answer;
        EXPECT_EQ(result.offer.updateUrl, c.url) << c.answer;
    }
}

TEST(UpdateCheck, TheCheckFlagIsZeroOnlyWhenTheMarkerExists) {
    TempFolder folder;
    EXPECT_EQ(UpdateCheckFlag(folder.file("Velquist.txt")), 1);
    std::ofstream(folder.file("Velquist.txt")) << "";
    EXPECT_EQ(UpdateCheckFlag(folder.file("Velquist.txt")), 0);
    HostConfig hosts;
    hosts.downloadHost = "dl.example.com:8080";
    EXPECT_EQ(UpdateCheckUrl(hosts, "1.0.2.2", 0),
              "http://dl.example.com:8080/control/dl.php?appid=13&appversion=1.0.2.2&ischeck=0");
}

TEST(Versions, CompareByNumberPartByPart) {
    struct Case {
        const char* a;
        const char* b;
        std::optional<int> order;
    };
    const Case cases[] = {
        {"1.0.2.2", "1.0.2.3", -1}, {"1.0.10.0", "1.0.9.9", 1}, {"1.0", "1.0.0.0", 0},
        {"2", "1.9.9.9", 1},        {"1.0.2.2", "1.0.2.2", 0},  {"1.0.x", "1.0", std::nullopt},
        {"", "1", std::nullopt},    {"1..2", "1", std::nullopt}, {"-1", "1", std::nullopt},
        {"1.0 ", "1.0", std::nullopt}, {"1234567890", "1", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto order = CompareVersions(c.a, c.b);
        ASSERT_EQ(order.has_value(), c.order.has_value()) << c.a << " " << c.b;
        if (order) {
            EXPECT_EQ(*order < 0 ? -1 : *order > 0 ? 1 : 0, *c.order) << c.a << " " << c.b;
        }
    }
}

TEST(AppVersion, IsInsertedOnceThenUpdated) {
    DataFolder data;
    EXPECT_EQ(RecordedAppVersion(data.paths.databasePath), "");
    ASSERT_TRUE(RecordAppVersion(data.paths.databasePath, "Zanquil", "1.0.2.3"));
    ASSERT_TRUE(RecordAppVersion(data.paths.databasePath, "Zanquil 新版", "1.0.2.4"));
    DbConnection db(data.paths.databasePath);
    EXPECT_EQ(ReadSingleInt(db, "SELECT COUNT(*) FROM app"), 1);
    DbStatement row(db, "SELECT appid, appname, version FROM app");
    ASSERT_EQ(row.step(), kSqliteRow);
    EXPECT_EQ(row.columnText(0), "13");
    EXPECT_EQ(row.columnText(1), "Zanquil 新版");
    EXPECT_EQ(row.columnText(2), "1.0.2.4");
    EXPECT_FALSE(RecordAppVersion(data.file("missing/folder/db"), "Zanquil", "1.0.2.3"));
}

TEST(HandOffMarkers, UpdateMarkerKeepsThePathAndReadsBackWithinItsLimit) {
    TempFolder folder;
    EXPECT_EQ(ReadUpdateMarker(folder.path()), std::nullopt);
    ASSERT_TRUE(WriteUpdateMarker(folder.path(), "/data/下载/Velquist_1.0.2.3.zip"));
    EXPECT_EQ(ReadFile(folder.file("update.txt")), "/data/下载/Velquist_1.0.2.3.zip");
    EXPECT_FALSE(fs::exists(folder.file("update.txt.tmp")));
    EXPECT_EQ(ReadUpdateMarker(folder.path()), "/data/下载/Velquist_1.0.2.3.zip");

    const std::pair<std::string, std::string> written[] = {
        {"/p/a.zip\r\n", "/p/a.zip"},
        {std::string("/p/a.zip\0junk", 13), "/p/a.zip"},
        {"", ""},
        {std::string(5000, 'p'), std::string(kUpdateMarkerMaxBytes, 'p')},
    };
    for (const auto& [text, path] : written) {
        std::ofstream(folder.file("update.txt"), std::ios::binary) << text;
        EXPECT_EQ(ReadUpdateMarker(folder.path()), path);
    }
}

TEST(HandOffMarkers, PlanTheUpdaterStartsAndTheWindow) {
    struct Case {
        bool cleanup;
        bool update;
        int starts;
        bool window;
    };
    const Case cases[] = {
        {false, false, 0, true}, {true, false, 1, true}, {false, true, 1, false},
        {true, true, 2, false}};
    for (const Case& c : cases) {
        TempFolder folder;
        if (c.cleanup) std::ofstream(folder.file("del.txt")) << "";
        if (c.update) std::ofstream(folder.file("update.txt")) << "/p/a.zip";
        const UpdaterHandOff plan = PlanUpdaterHandOff(folder.path());
        EXPECT_EQ(plan.updaterStarts, c.starts) << c.cleanup << c.update;
        EXPECT_EQ(plan.openWindow, c.window) << c.cleanup << c.update;
    }
    TempFolder program;
    std::ofstream(program.file("Tallowin.utmp")) << "old updater";
    RemoveUpdaterLeftover(program.path());
    RemoveUpdaterLeftover(program.path());  // gone already: nothing to do
    EXPECT_FALSE(fs::exists(program.file("Tallowin.utmp")));
}

TEST(ProgressTexts, PercentSizesAndSpeed) {
    EXPECT_EQ(DownloadPercentText(0, 0), "已下载 0%");
    EXPECT_EQ(DownloadPercentText(1, 3), "已下载 33%");
    EXPECT_EQ(DownloadPercentText(3, 3), "已下载 100%");
    EXPECT_EQ(MegabytesText(0), "0.00MB");
    EXPECT_EQ(DownloadProgressText(1572864, 3145728, 512 * 1024),
              "1.50MB/3.00MB - 下载速度 512.00KB/S");
    EXPECT_EQ(SpeedText(1024 * 1024 - 1), "1024.00KB/S");
    EXPECT_EQ(SpeedText(2.5 * 1024 * 1024), "2.50MB/S");
}

TEST(DownloadUpdate, AFinishedDownloadNotesTheVersionAndWritesTheMarker) {
    RawHttpServer server([](auto& c) { c.send(OkAnswer("PK package bytes")); });
    DataFolder data;
    CHttpDownFile downloader;
    const UpdateOffer offer{"Zanquil", "1.0.2.3", server.url("/download/Velquist_1.0.2.3.zip")};
    const UpdateDownloadResult result = DownloadUpdate(offer, data.paths, downloader);
    ASSERT_TRUE(result.ok()) << result.download.detail;
    EXPECT_TRUE(result.versionRecorded);
    const std::string package = data.file("download/Velquist_1.0.2.3.zip");
    EXPECT_EQ(result.download.path, fs::path(package).lexically_normal().string());
    EXPECT_EQ(ReadFile(package), "PK package bytes");
    EXPECT_EQ(ReadUpdateMarker(data.paths.dataFolder), result.download.path);
    EXPECT_EQ(RecordedAppVersion(data.paths.databasePath), "1.0.2.3");
}

TEST(DownloadUpdate, AFailedDownloadLeavesNoMarkerAndNoNewVersion) {
    RawHttpServer server([](auto& c) { c.send("HTTP/1.1 200 OK\r\n\r\nno length"); });
    DataFolder data;
    CHttpDownFile downloader;
    const UpdateOffer offer{"Zanquil", "1.0.2.3", server.url("/download/Velquist_1.0.2.3.zip")};
    const UpdateDownloadResult result = DownloadUpdate(offer, data.paths, downloader);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.download.result, CHttpDownFile::Result::NoContentLength);
    EXPECT_FALSE(fs::exists(data.file("update.txt")));
    EXPECT_TRUE(fs::is_empty(data.file("download")));
    EXPECT_EQ(RecordedAppVersion(data.paths.databasePath), "");
}

}  // namespace
}  // namespace velquist
