// Publishing update packages on the service, and the update check and download paths that
// serve them.

#include "server/update_releases.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>

#include "server/vendor_service.h"
#include "service_process.h"
#include "services/http_down_file.h"
#include "services/update_check.h"
#include "temp_folder.h"

namespace velquist::service {
namespace {

using velquist::testing::ReadFileText;
using velquist::testing::RunServiceCommand;
using velquist::testing::TempFolder;
namespace fs = std::filesystem;

// Only the start of a zip archive matters to the service; the updater reads the rest.
std::string FakeZip(const std::string& content) { return std::string("PK\x03\x04", 4) + content; }

class UpdateReleasesTest : public ::testing::Test {
  protected:
    std::string package(const std::string& name, const std::string& bytes) {
        const std::string path = m_scratch.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    Release publish(const std::string& version, const std::string& bytes,
                    const std::string& appName = kDefaultReleaseAppName) {
        std::string error;
        auto releases = ReleaseStore::Open(m_data.path(), error);
        Release release;
        EXPECT_TRUE(releases && releases->publish(version, package("p.zip", bytes), appName,
                                                  release, error))
            << error;
        return release;
    }

    void serve() {
        ServiceOptions options;
        options.dataFolder = m_data.path();
        options.lifetimeSeconds = 60;
        ASSERT_TRUE(m_service.start(options)) << m_service.lastError();
    }

    httplib::Result get(const std::string& target, const std::string& host = "") {
        httplib::Client client("127.0.0.1", m_service.port());
        client.set_read_timeout(10, 0);
        httplib::Headers headers;
        if (!host.empty()) headers.emplace("Host", host);
        return client.Get(target.c_str(), headers);
    }

    std::string check(const std::string& query) {
        const auto reply = get("/control/dl.php?" + query);
        return reply ? reply->body : "(no answer)";
    }

    TempFolder m_data;
    TempFolder m_scratch;
    VendorService m_service;
};

TEST_F(UpdateReleasesTest, TheCheckOffersTheHighestVersionToOlderProgramsOnly) {
    serve();
    EXPECT_EQ(check("appid=13&appversion=1.0.2.2&ischeck=1"), "404");  // nothing published

    publish("1.0.2.3", FakeZip("three"), "Zanquil关键词排名查询软件");
    publish("1.0.10.0", FakeZip("ten"), "Zanquil关键词排名查询软件");
    publish("1.0.9.0", FakeZip("nine"));  // published last, but not the newest

    const std::string offer = check("appid=13&appversion=1.0.2.2&ischeck=1");
    Json::Value json;
    ASSERT_TRUE(Json::Reader().parse(offer, json)) << offer;
    EXPECT_EQ(json["status"].asString(), "0");
    EXPECT_EQ(json["appname"].asString(), "Zanquil关键词排名查询软件");
    EXPECT_EQ(json["newversion"].asString(), "1.0.10.0");
    EXPECT_EQ(json["updateurl"].asString(),
              "http://" + m_service.host() + "/download/Velquist_1.0.10.0.zip");
    // What the program itself makes of it.
    const UpdateCheckResult read = ParseUpdateAnswer(offer, "");
    EXPECT_EQ(read.outcome, UpdateCheckResult::Outcome::Available);

    const std::pair<const char*, const char*> upToDate[] = {
        {"appid=13&appversion=1.0.10.0&ischeck=1", "same version"},
        {"appid=13&appversion=1.0.11&ischeck=0", "newer"},
        {"appid=12&appversion=1.0.2.2&ischeck=1", "another application"},
        {"appid=13&appversion=latest&ischeck=1", "not a version"},
        {"appid=13&ischeck=1", "no version"},
    };
    for (const auto& [query, why] : upToDate) EXPECT_EQ(check(query), "404") << why;
}

TEST_F(UpdateReleasesTest, TheDownloadPathServesThePublishedBytes) {
    const std::string bytes = FakeZip(std::string(300000, 'z') + "end");
    const Release release = publish("1.0.2.3", bytes);
    serve();
    const auto reply = get("/download/" + release.file);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, bytes);
    EXPECT_EQ(reply->get_header_value("Content-Length"), std::to_string(bytes.size()));

    // The program's own downloader takes it as it is.
    TempFolder folder;
    CHttpDownFile downloader;
    const auto outcome = downloader.Download(
        "http://" + m_service.host() + "/download/" + release.file, folder.path());
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    EXPECT_EQ(ReadFileText(outcome.path), bytes);

    for (const char* target : {"/download/Velquist_9.9.9.9.zip", "/download/..%2Fservice.db",
                               "/download/../service.db", "/download/service.db"}) {
        const auto missing = get(target);
        ASSERT_TRUE(missing) << target;
        EXPECT_EQ(missing->status, 404) << target;
        EXPECT_NE(missing->body, ReadFileText(m_data.file("service.db"))) << target;
    }
}

TEST_F(UpdateReleasesTest, DownloadAddressesNameTheHostTheCallerUsed) {
    publish("1.0.2.3", FakeZip("x"));
    serve();
    const auto named = get("/control/dl.php?appid=13&appversion=1.0.2.2&ischeck=1",
                           "updates.example.com:8080");
    ASSERT_TRUE(named);
    EXPECT_NE(named->body.find("http://updates.example.com:8080/download/"), std::string::npos);
    // A header that is no host name gives the service's own address.
    const auto odd = get("/control/dl.php?appid=13&appversion=1.0.2.2&ischeck=1",
                         "evil\"}, \"x\":\"");
    ASSERT_TRUE(odd);
    EXPECT_NE(odd->body.find("http://" + m_service.host() + "/download/"), std::string::npos);
}

TEST_F(UpdateReleasesTest, PublishingAgainReplacesTheVersion) {
    publish("1.0.2.3", FakeZip("first"));
    const Release again = publish("1.0.2.3", FakeZip("second"));
    std::string error;
    const auto releases = ReleaseStore::Open(m_data.path(), error);
    ASSERT_TRUE(releases);
    ASSERT_EQ(releases->list().size(), 1u);
    EXPECT_EQ(ReadFileText(releases->packagePath(again)), FakeZip("second"));
    EXPECT_EQ(again.size, static_cast<std::int64_t>(FakeZip("second").size()));
}

TEST(PublishCommand, PublishesOrRefusesWithTheReason) {
    TempFolder folder;
    const std::string data = folder.file("service");
    const std::string zip = folder.file("update.zip");
    std::ofstream(zip, std::ios::binary) << FakeZip("package");
    const std::string text = folder.file("notes.txt");
    std::ofstream(text) << "not a zip";

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{"publish", "1.0.2.3", zip, "--appname", "Zanquil"}, 0,
         "published Zanquil 1.0.2.3 (11 bytes) at /download/Velquist_1.0.2.3.zip"},
        {{"publish", "1.0.2.x", zip}, 1, "a version is one to eight dot-separated numbers"},
        {{"publish", "../1", zip}, 1, "a version is one to eight dot-separated numbers"},
        {{"publish", "1.0.2.4", text}, 1, "is not a readable zip archive"},
        {{"publish", "1.0.2.4", folder.file("missing.zip")}, 1, "is not a readable zip archive"},
        {{"publish", "1.0.2.4"}, 2, "usage:"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--data", data};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = RunServiceCommand(folder.path(), args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.args[1];
        EXPECT_NE((result.out + result.err).find(c.says), std::string::npos)
            << c.args[1] << ": " << result.out << result.err;
    }
    EXPECT_TRUE(fs::exists(data + "/packages/Velquist_1.0.2.3.zip"));
    EXPECT_FALSE(fs::exists(data + "/packages/Velquist_1.0.2.4.zip"));
}

}  // namespace
}  // namespace velquist::service
