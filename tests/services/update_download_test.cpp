// The package downloader over raw sockets, against a loopback server that answers byte by byte
// as each case needs.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "closed_port.h"
#include "recording_notifier.h"
#include "services/http_down_file.h"
#include "services/update_package.h"
#include "temp_folder.h"
#include "update_test_server.h"

namespace velquist {
namespace {

using namespace std::chrono_literals;
using testing::OkAnswer;
using testing::RawHttpServer;
using testing::RedirectAnswer;
using testing::RequestPath;
using testing::TempFolder;
using Result = CHttpDownFile::Result;
namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return bytes;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

CHttpDownFile::Limits Quick() {
    CHttpDownFile::Limits limits;
    limits.idleLimit = 300ms;
    return limits;
}

TEST(HttpDownFile, DownloadsTheBodyInPiecesWithTheRequestLinesAndCounters) {
    // More than three 1 MiB pieces, sent in slices with pauses so the counters move visibly.
    const std::string package = Bytes(3 * 1048576 + 12345);
    RawHttpServer server([&](RawHttpServer::Connection& connection) {
        const std::string answer = OkAnswer(package);
        for (std::size_t at = 0; at < answer.size(); at += 700000) {
            if (!connection.send(std::string_view(answer).substr(at, 700000))) return;
            std::this_thread::sleep_for(30ms);
        }
    });
    TempFolder folder;
    CHttpDownFile downloader;
    std::atomic<bool> done{false};
    std::vector<std::uint64_t> seen;
    std::thread watcher([&] {
        while (!done) {
            seen.push_back(downloader.received());
            std::this_thread::sleep_for(5ms);
        }
    });
    const auto outcome = downloader.Download(server.url("/pkg/Velquist_1.0.2.3.zip"), folder.path());
    done = true;
    watcher.join();

    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    EXPECT_EQ(outcome.path, folder.file("Velquist_1.0.2.3.zip"));
    EXPECT_EQ(ReadFile(outcome.path), package);
    EXPECT_EQ(downloader.received(), package.size());
    EXPECT_EQ(downloader.total(), package.size());
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                            [&](std::uint64_t n) { return n > 0 && n < package.size(); }))
        << "no progress seen between the start and the end";
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string request = server.requests()[0];
    EXPECT_EQ(request.substr(0, request.find("User-Agent: ")),
              "GET /pkg/Velquist_1.0.2.3.zip HTTP/1.1\r\n"
              "Accept: */*\r\n"
              "Accept-Encoding: gzip, deflate\r\n"
              "Cache-Control: no-cache\r\n"
              "Host: " + server.host() + "\r\n");
    EXPECT_NE(request.find("User-Agent: Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1"),
              std::string::npos);
    EXPECT_TRUE(request.size() > 4 && request.ends_with("\r\nConnection: Keep-Alive\r\n\r\n"));
}

TEST(HttpDownFile, FollowsRedirectsUpToFiveTimes) {
    struct Case {
        const char* name;
        int redirects;
        bool relative;
        Result expected;
    };
    const Case cases[] = {
        {"one absolute", 1, false, Result::Done},
        {"one relative", 1, true, Result::Done},
        {"five", 5, false, Result::Done},
        {"six", 6, true, Result::TooManyRedirects},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int hop = 0;
        std::string self;
        RawHttpServer server([&](RawHttpServer::Connection& connection) {
            if (hop < c.redirects) {
                const std::string next = "/hop" + std::to_string(++hop) + "/Velquist.zip";
                connection.send(RedirectAnswer(c.relative ? next : self + next));
            } else {
                connection.send(OkAnswer("final package"));
            }
        });
        self = "http://" + server.host();
        TempFolder folder;
        CHttpDownFile downloader(nullptr, Quick());
        const auto outcome = downloader.Download(server.url("/start.zip"), folder.path());
        EXPECT_EQ(outcome.result, c.expected) << outcome.detail;
        if (c.expected == Result::Done) {
            // Named after where the package was found, not where the search started.
            EXPECT_EQ(outcome.path, folder.file("Velquist.zip"));
            EXPECT_EQ(ReadFile(outcome.path), "final package");
            EXPECT_EQ(RequestPath(server.requests().back()),
                      "/hop" + std::to_string(c.redirects) + "/Velquist.zip");
        } else {
            EXPECT_EQ(server.requests().size(), 6u);
            EXPECT_TRUE(FolderNames(folder.path()).empty());
        }
    }
}

TEST(HttpDownFile, FaultyAnswersFailWithoutLeavingAFile) {
    const std::string padding(70 * 1024, 'x');
    struct Case {
        const char* name;
        std::function<void(RawHttpServer::Connection&)> answer;
        Result expected;
    };
    const Case cases[] = {
        {"no Content-Length",
         [](auto& c) { c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody"); },
         Result::NoContentLength},
        {"Content-Length not a number",
         [](auto& c) { c.send("HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\nbody"); },
         Result::NoContentLength},
        {"two different lengths",
         [](auto& c) {
             c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 9\r\n\r\nbody");
         },
         Result::NoContentLength},
        {"not found", [](auto& c) { c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"); },
         Result::BadAnswer},
        {"not HTTP", [](auto& c) { c.send("SSH-2.0-OpenSSH\r\n\r\n"); }, Result::BadAnswer},
        {"302 without Location", [](auto& c) { c.send("HTTP/1.1 302 Found\r\n\r\n"); },
         Result::BadAnswer},
        {"redirect to https", [](auto& c) { c.send(RedirectAnswer("https://127.0.0.1/a.zip")); },
         Result::BadUrl},
        {"chunked body",
         [](auto& c) {
             c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 4\r\n\r\n"
                    "4\r\nbody\r\n0\r\n\r\n");
         },
         Result::Encoded},
        {"gzip body",
         [](auto& c) {
             c.send("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\nbody");
         },
         Result::Encoded},
        {"short body, then closed",
         [](auto& c) { c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part of it"); },
         Result::ClosedEarly},
        {"short body, then silence",
         [](auto& c) {
             c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part of it");
             c.holdOpen(5s);
         },
         Result::TimedOut},
        {"closed inside the header",
         [](auto& c) { c.send("HTTP/1.1 200 OK\r\nContent-Len"); }, Result::ClosedEarly},
        {"closed before answering", [](auto&) {}, Result::ClosedEarly},
        {"silence before the header", [](auto& c) { c.holdOpen(5s); }, Result::TimedOut},
        {"a header without end",
         [&padding](auto& c) {
             c.send("HTTP/1.1 200 OK\r\nX-Padding: " + padding);
             c.holdOpen(5s);
         },
         Result::HeaderTooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawHttpServer server(c.answer);
        TempFolder folder;
        CHttpDownFile downloader(nullptr, Quick());
        const auto started = std::chrono::steady_clock::now();
        const auto outcome = downloader.Download(server.url("/Velquist.zip"), folder.path());
        EXPECT_EQ(outcome.result, c.expected) << outcome.detail;
        EXPECT_FALSE(outcome.detail.empty());
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
        EXPECT_TRUE(FolderNames(folder.path()).empty());
    }
}

TEST(HttpDownFile, AnUnwritablePackageFileIsReported) {
    RawHttpServer server([](auto& c) { c.send(OkAnswer("package")); });
    TempFolder folder;
    // A folder with something in it stands where the package goes.
    fs::create_directories(folder.file("Velquist.zip/inside"));
    testing::RecordingNotifier notifier;
    CHttpDownFile downloader(&notifier, Quick());
    const auto outcome = downloader.Download(server.url("/Velquist.zip"), folder.path());
    EXPECT_EQ(outcome.result, Result::CreateFileFailed);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{kDownloadCreateFileFailed});
    EXPECT_TRUE(fs::is_directory(folder.file("Velquist.zip/inside")));
}

TEST(HttpDownFile, AnOldFileOfTheSameNameIsReplacedNotFollowed) {
    RawHttpServer server([](auto& c) { c.send(OkAnswer("new package")); });
    TempFolder folder;
    TempFolder elsewhere;
    std::ofstream(elsewhere.file("victim")) << "keep me";
    fs::create_symlink(elsewhere.file("victim"), folder.file("Velquist.zip"));
    CHttpDownFile downloader(nullptr, Quick());
    const auto outcome = downloader.Download(server.url("/Velquist.zip"), folder.path());
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    EXPECT_FALSE(fs::is_symlink(folder.file("Velquist.zip")));
    EXPECT_EQ(ReadFile(folder.file("Velquist.zip")), "new package");
    EXPECT_EQ(ReadFile(elsewhere.file("victim")), "keep me");
}

TEST(HttpDownFile, UnreachableAndCancelledDownloadsEnd) {
    TempFolder folder;
    {
        CHttpDownFile downloader(nullptr, Quick());
        const std::string url =
            "http://127.0.0.1:" + std::to_string(testing::ClosedPort()) + "/Velquist.zip";
        EXPECT_EQ(downloader.Download(url, folder.path()).result, Result::ConnectFailed);
    }
    RawHttpServer server([](auto& c) {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nsome");
        c.holdOpen(10s);
    });
    CHttpDownFile downloader;  // the 60 s idle limit: only the cancel can end this soon
    std::thread canceller([&] {
        std::this_thread::sleep_for(200ms);
        downloader.cancel();
    });
    const auto started = std::chrono::steady_clock::now();
    const auto outcome = downloader.Download(server.url("/Velquist.zip"), folder.path());
    canceller.join();
    EXPECT_EQ(outcome.result, Result::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_TRUE(FolderNames(folder.path()).empty());
}

TEST(HttpDownFile, TheIdleLimitIsSixtySecondsUnlessSetOtherwise) {
    EXPECT_EQ(CHttpDownFile::Limits{}.idleLimit, 60s);
    EXPECT_EQ(CHttpDownFile::Limits{}.maxRedirects, 5);
    EXPECT_EQ(CHttpDownFile::Limits{}.maxHeaderBytes, 64u * 1024u);
}

TEST(PackageFileName, StaysInsideTheDownloadFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/dl/Velquist_1.0.2.3.zip", "Velquist_1.0.2.3.zip"},
        {"http://h/dl/Velquist.zip.bak", "Velquist.zip"},
        {"http://h/dl/Velquist.zip?session=1", "Velquist.zip"},
        {"http://h/get.php?file=a/b.zip", "b.zip"},
        {"http://h:81/plain", "plain"},
        {"http://h/", kFallbackPackageName},
        {"http://h", kFallbackPackageName},
        {"http://h/a/..", kFallbackPackageName},
        {"http://h/a/.", kFallbackPackageName},
        {"http://h/temp", kFallbackPackageName},
        {"http://h/x\\..\\..\\evil.zip", kFallbackPackageName},
        {"http://h/a/%2e%2e%2fevil.zip", "%2e%2e%2fevil.zip"},
    };
    for (const auto& [url, name] : cases) EXPECT_EQ(PackageFileName(url), name) << url;
    const std::string longName(300, 'n');
    EXPECT_EQ(PackageFileName("http://h/" + longName).size(), 200u);
}

TEST(SplitDownloadUrl, TakesPlainHttpAddressesOnly) {
    struct Case {
        const char* url;
        bool usable;
        const char* host;
        const char* port;
        const char* target;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/dl/a.zip", true, "127.0.0.1", "8080", "/dl/a.zip"},
        {"HTTP://Example.com/a.zip?x=1#part", true, "Example.com", "80", "/a.zip?x=1"},
        {"example.com/a b.zip", true, "example.com", "80", "/a%20b.zip"},
        {"http://example.com", true, "example.com", "80", "/"},
        {"http://example.com?x", true, "example.com", "80", "/?x"},
        {"http://[::1]:81/p", true, "::1", "81", "/p"},
        {"https://example.com/a.zip", false, "", "", ""},
        {"ftp://example.com/a.zip", false, "", "", ""},
        {"http://example.com:99999/a.zip", false, "", "", ""},
        {"http://example.com:/a.zip", true, "example.com", "80", "/a.zip"},
        {"http://user@example.com/a.zip", false, "", "", ""},
        {"http:///a.zip", false, "", "", ""},
        {"http://example.com/a\r\nX-Evil: 1", false, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const auto parts = SplitDownloadUrl(c.url);
        ASSERT_EQ(parts.has_value(), c.usable);
        if (!parts) continue;
        EXPECT_EQ(parts->host, c.host);
        EXPECT_EQ(parts->port, c.port);
        EXPECT_EQ(parts->target, c.target);
    }
}

}  // namespace
}  // namespace velquist
