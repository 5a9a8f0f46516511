#include "engine/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "closed_port.h"

namespace velquist {
namespace {

using namespace std::chrono_literals;

constexpr int kCouldNotConnect = 7;     // CURLE_COULDNT_CONNECT
constexpr int kOperationTimedOut = 28;  // CURLE_OPERATION_TIMEDOUT

struct SeenRequest {
    std::string method;
    httplib::Headers headers;

    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string("<absent>") : it->second;
    }
};

// A loopback server for one test: records what it is sent, refuses beyond a request budget and
// stops by itself after a deadline, so a hanging client cannot keep it alive.
class LoopbackServer {
  public:
    static constexpr int kRequestBudget = 50;
    static constexpr auto kLifetime = 60s;

    explicit LoopbackServer(std::unique_ptr<httplib::Server> server) : m_server(std::move(server)) {
        m_server->set_keep_alive_timeout(1);
        m_server->set_pre_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) {
                const std::lock_guard<std::mutex> guard(m_mutex);
                if (static_cast<int>(m_seen.size()) >= kRequestBudget) {
                    response.status = 503;
                    return httplib::Server::HandlerResponse::Handled;
                }
                m_seen.push_back({request.method, request.headers});
                return httplib::Server::HandlerResponse::Unhandled;
            });
    }

    ~LoopbackServer() { stop(); }

    httplib::Server& routes() { return *m_server; }

    void start() {
        m_port = m_server->bind_to_any_port("127.0.0.1");
        ASSERT_GT(m_port, 0);
        m_listener = std::thread([this] { m_server->listen_after_bind(); });
        m_watchdog = std::thread([this] {
            std::unique_lock<std::mutex> guard(m_mutex);
            m_stopRequested.wait_for(guard, kLifetime, [this] { return m_stopping; });
            m_server->stop();
        });
        for (int i = 0; i < 200 && !m_server->is_running(); ++i) std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(m_server->is_running());
    }

    void stop() {
        {
            const std::lock_guard<std::mutex> guard(m_mutex);
            m_stopping = true;
        }
        m_stopRequested.notify_all();
        if (m_watchdog.joinable()) m_watchdog.join();
        if (m_listener.joinable()) m_listener.join();
    }

    // Lets handlers that wait for the test's end return before the server joins its workers.
    bool waitForStop(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_stopRequested.wait_for(guard, limit, [this] { return m_stopping; });
    }

    std::string url(const std::string& scheme, const std::string& path) const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port) + path;
    }

    std::vector<SeenRequest> seen() const {
        const std::lock_guard<std::mutex> guard(m_mutex);
        return m_seen;
    }

  private:
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::thread m_listener;
    std::thread m_watchdog;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopRequested;
    bool m_stopping = false;          // guarded by m_mutex
    std::vector<SeenRequest> m_seen;  // guarded by m_mutex
};

std::string LongText() {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + " of a compressible page\n";
    return text;
}

// `size` zero bytes, gzip-compressed: a few KB on the wire for megabytes decoded.
std::string GzipOfZeros(std::size_t size) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY), Z_OK);
    const std::string zeros(1024 * 1024, '\0');
    std::string out;
    char buffer[65536];
    for (std::size_t fed = 0; fed < size; fed += zeros.size()) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        stream.avail_in = static_cast<uInt>(std::min(zeros.size(), size - fed));
        const int flush = fed + zeros.size() >= size ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t CountOf(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

using testing::ClosedPort;

class HttpClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CHttpClient::GlobalInit();
        auto& routes = m_server.routes();
        const auto ok = [](const httplib::Request&, httplib::Response& response) {
            response.set_content("ok", "text/plain");
        };
        routes.Get("/echo", ok);
        routes.Post("/echo", [](const httplib::Request& request, httplib::Response& response) {
            response.set_content(request.body, "text/plain");
        });
        routes.Get("/hop1", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/hop2");
            response.set_header("X-Hop", "1");
        });
        routes.Get("/hop2", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/final");
            response.set_header("X-Hop", "2");
        });
        routes.Get("/final", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("X-Final", "yes");
            response.set_content("final page", "text/plain");
        });
        routes.Get("/long", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(LongText(), "text/html");
        });
        routes.Get("/broken", [](const httplib::Request&, httplib::Response& response) {
            response.status = 500;
            response.set_content("server trouble", "text/plain");
        });
        routes.Get("/cookie", [](const httplib::Request& request, httplib::Response& response) {
            if (!request.get_param_value("name").empty())
                response.set_header(request.get_param_value("name").c_str(),
                                    request.get_param_value("value"));
            response.set_content("ok", "text/plain");
        });
        routes.Get("/loop", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/loop");
        });
        routes.Get("/huge", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string(9 * 1024 * 1024, 'x'), "application/octet-stream");
        });
        routes.Get("/huge-chunked", [](const httplib::Request&, httplib::Response& response) {
            // No declared length: only the running count can stop it.
            response.set_chunked_content_provider("application/octet-stream",
                                                  [](size_t offset, httplib::DataSink& sink) {
                                                      if (offset >= 64u * 1024 * 1024) return false;
                                                      const std::string piece(256 * 1024, 'y');
                                                      return sink.write(piece.data(), piece.size());
                                                  });
        });
        routes.Get("/bomb", [](const httplib::Request&, httplib::Response& response) {
            static const std::string bomb = GzipOfZeros(64u * 1024 * 1024);
            response.set_header("Content-Encoding", "gzip");
            response.set_content(bomb, "application/octet-stream");
        });
        routes.Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
            m_server.waitForStop(10s);
            response.set_content("late", "text/plain");
        });
        m_server.start();
        m_jarFolder = std::filesystem::temp_directory_path() /
                      ("velquist-http-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_jarFolder);
        std::filesystem::create_directories(m_jarFolder);
        m_client.connectTimeoutSeconds = 5;
        m_client.timeoutSeconds = 10;
    }

    void TearDown() override {
        m_server.stop();
        std::filesystem::remove_all(m_jarFolder);
    }

    std::string url(const std::string& path) const { return m_server.url("http", path); }

    LoopbackServer m_server{std::make_unique<httplib::Server>()};
    CHttpClient m_client;
    std::filesystem::path m_jarFolder;
    std::string m_body;
    std::string m_headers;
};

TEST_F(HttpClientTest, SendsBrowserHeadersAndRefererDefaultsToOwnUrl) {
    struct Case {
        std::string referer;
        bool expectOwnUrl;
    };
    for (const Case& c : {Case{"", true}, Case{"http://elsewhere.test/from", false}}) {
        SCOPED_TRACE(c.referer);
        m_client.url = url("/echo");
        m_client.referer = c.referer;
        ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
        const SeenRequest request = m_server.seen().back();
        EXPECT_EQ(request.header("Referer"), c.expectOwnUrl ? m_client.url : c.referer);
        EXPECT_EQ(request.header("User-Agent"), CHttpClient::kDefaultUserAgent);
        EXPECT_EQ(request.header("Accept"), "text/html, application/xhtml+xml, * / *");
        EXPECT_EQ(request.header("Accept-Language"), "zh-CN");
        EXPECT_EQ(request.header("DNT"), "1");
        EXPECT_EQ(request.header("Connection"), "keep-alive");
        EXPECT_EQ(request.header("Accept-Encoding"), "gzip, deflate");
        EXPECT_EQ(m_body, "ok");
    }
}

TEST_F(HttpClientTest, PostBodyIsSentOnceAndTheNextRequestIsAGet) {
    m_client.url = url("/echo");
    m_client.postData = "q=rank&page=2";
    ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
    EXPECT_EQ(m_body, "q=rank&page=2");
    EXPECT_TRUE(m_client.postData.empty());
    ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
    EXPECT_EQ(m_body, "ok");

    const auto seen = m_server.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[1].method, "GET");
}

TEST_F(HttpClientTest, LargePostIsNotAnnouncedWithExpect) {
    // Big enough that libcurl would otherwise send "Expect: 100-continue" and wait for a go-ahead.
    // The test server refuses form bodies this large; only the request's head matters here.
    const std::string form = "k=" + std::string(1200 * 1024, 'x');
    m_client.url = url("/echo");
    m_client.postData = form;
    m_client.Perform(m_body, m_headers);
    const auto seen = m_server.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].header("Content-Length"), std::to_string(form.size()));
    EXPECT_EQ(seen[0].header("Expect"), "<absent>");
}

TEST_F(HttpClientTest, HeadersHoldOnlyTheFinalBlockWithoutItsBlankLine) {
    struct Case {
        std::string path;
        std::size_t requests;
    };
    for (const Case& c : {Case{"/hop1", 3}, Case{"/final", 1}}) {
        SCOPED_TRACE(c.path);
        const std::size_t before = m_server.seen().size();
        m_client.url = url(c.path);
        ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
        EXPECT_EQ(m_server.seen().size() - before, c.requests);
        EXPECT_EQ(m_body, "final page");
        EXPECT_EQ(m_client.responseCode, 200);
        EXPECT_TRUE(m_headers.starts_with("HTTP/1.1 200 OK\r\n")) << m_headers;
        EXPECT_EQ(CountOf(m_headers, "HTTP/1.1 "), 1u) << m_headers;
        EXPECT_EQ(CountOf(m_headers, "X-Hop"), 0u) << m_headers;
        EXPECT_NE(m_headers.find("X-Final: yes"), std::string::npos) << m_headers;
        EXPECT_FALSE(m_headers.ends_with("\r\n")) << m_headers;
    }
}

TEST_F(HttpClientTest, CompressedBodyArrivesDecoded) {
    m_client.url = url("/long");
    ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
    EXPECT_NE(m_headers.find("Content-Encoding: gzip"), std::string::npos) << m_headers;
    EXPECT_EQ(m_body, LongText());
}

TEST_F(HttpClientTest, HttpErrorStatusIsASuccessfulTransfer) {
    m_client.url = url("/broken");
    EXPECT_EQ(m_client.Perform(m_body, m_headers), 0);
    EXPECT_EQ(m_client.responseCode, 500);
    EXPECT_EQ(m_body, "server trouble");
}

TEST_F(HttpClientTest, EmptyUrlSendsNothing) {
    m_body = "stale body";
    m_headers = "stale headers";
    m_client.postData = "a=1";
    EXPECT_EQ(m_client.Perform(m_body, m_headers), -1);
    EXPECT_EQ(m_body, "");
    EXPECT_EQ(m_headers, "");
    EXPECT_EQ(m_client.responseCode, -1);
    EXPECT_TRUE(m_client.postData.empty());

    // The body refused with the empty url must not ride along with the next request.
    m_client.url = url("/echo");
    ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
    const auto seen = m_server.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
}

TEST_F(HttpClientTest, FailedTransferReturnsTheLibcurlCodeAndKeepsTheStatus) {
    struct Case {
        std::string name;
        std::string url;
        int code;
    };
    const Case cases[] = {
        {"refused", "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", kCouldNotConnect},
        {"stalled", url("/stall"), kOperationTimedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_client.url = url("/broken");
        ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
        ASSERT_EQ(m_client.responseCode, 500);

        m_client.url = c.url;
        m_client.timeoutSeconds = 1;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(m_client.Perform(m_body, m_headers), c.code);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        EXPECT_EQ(m_client.responseCode, 500);
        m_client.timeoutSeconds = 10;
    }
}

// A broken or hostile server cannot make a worker hold more than one capped page, nor keep it
// busy with an endless redirect chain.
TEST_F(HttpClientTest, BodiesAreCappedInDecodedBytesAndRedirectsAtTen) {
    const struct { const char* path; } oversized[] = {{"/huge"}, {"/huge-chunked"}, {"/bomb"}};
    for (const auto& c : oversized) {
        SCOPED_TRACE(c.path);
        m_client.url = url(c.path);
        const int result = m_client.Perform(m_body, m_headers);
        EXPECT_TRUE(CHttpClient::IsOversizedBody(result)) << result;
        EXPECT_EQ(m_body, "");
        EXPECT_LT(m_body.capacity(), CHttpClient::kDefaultMaxBodyBytes);
    }
    // Just under the cap is a page like any other.
    m_client.maxBodyBytes = 9 * 1024 * 1024;
    m_client.url = url("/huge");
    EXPECT_EQ(m_client.Perform(m_body, m_headers), 0);
    EXPECT_EQ(m_body.size(), 9u * 1024 * 1024);

    const auto before = m_server.seen().size();
    m_client.url = url("/loop");
    EXPECT_EQ(m_client.Perform(m_body, m_headers), 47);  // CURLE_TOO_MANY_REDIRECTS
    EXPECT_EQ(m_server.seen().size() - before, 11u);     // the first request and ten redirects
}

TEST_F(HttpClientTest, CookieLinesReachTheServerAndEmptyPiecesAreSkipped) {
    m_client.url = url("/echo");
    m_client.cookieJarPath = (m_jarFolder / "cookie.txt").string();
    m_client.cookieLines =
        "127.0.0.1\tFALSE\t/\tFALSE\t0\tfirst\t1\n\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsecond\t2\n";
    m_client.cookieHeader = "third=3";
    ASSERT_EQ(m_client.Perform(m_body, m_headers), 0);
    const std::string cookies = m_server.seen().back().header("Cookie");
    EXPECT_NE(cookies.find("first=1"), std::string::npos) << cookies;
    EXPECT_NE(cookies.find("second=2"), std::string::npos) << cookies;
    EXPECT_NE(cookies.find("third=3"), std::string::npos) << cookies;
    // No Set-Cookie in the answer: the jar stays untouched.
    EXPECT_FALSE(std::filesystem::exists(m_client.cookieJarPath));
}

TEST_F(HttpClientTest, CookieJarIsWrittenOnlyWhenAllowedAndTheServerSetsOne) {
    struct Case {
        std::string name;
        std::string headerName;
        std::string headerValue;
        bool noCookieSave;
        std::optional<std::string> jar;
    };
    const std::string plainLine = "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n";
    const Case cases[] = {
        {"http-only marker dropped", "Set-Cookie", "sid=abc; Path=/; HttpOnly", false, plainLine},
        {"lower-case header name", "set-cookie", "sid=abc; Path=/", false, plainLine},
        {"marker inside a value kept", "Set-Cookie", "note=a#HttpOnly_b; Path=/", false,
         "127.0.0.1\tFALSE\t/\tFALSE\t0\tnote\ta#HttpOnly_b\n"},
        {"saving switched off", "Set-Cookie", "sid=abc; Path=/; HttpOnly", true, std::nullopt},
        {"no cookie set", "", "", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CHttpClient client;
        const auto jar = m_jarFolder / (c.name + ".txt");
        if (c.jar) {
            std::ofstream(jar, std::ios::binary)
                << "an older and much longer jar text that must be replaced\n";
        }
        std::optional<std::string> observed;
        client.cookieObserver = [&observed](std::string text) { observed = std::move(text); };
        client.cookieJarPath = jar.string();
        client.noCookieSave = c.noCookieSave;
        client.url = url("/cookie?name=" + c.headerName +
                         "&value=" + httplib::detail::encode_query_param(c.headerValue));
        ASSERT_EQ(client.Perform(m_body, m_headers), 0);
        if (c.jar) {
            EXPECT_EQ(ReadFile(jar), *c.jar);
            EXPECT_EQ(observed, c.jar);
        } else {
            EXPECT_FALSE(std::filesystem::exists(jar));
            EXPECT_FALSE(observed.has_value());
        }
    }
}

struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// A certificate nobody trusts: the fetch only works when certificate checks are off.
std::pair<std::unique_ptr<X509, X509Deleter>, std::unique_ptr<EVP_PKEY, KeyDeleter>>
SelfSignedCertificate() {
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, X509Deleter> cert(X509_new());
    if (!key || !cert) return {};
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("velquist test"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) return {};
    return {std::move(cert), std::move(key)};
}

TEST(HttpClientTlsTest, HttpsInAnyLetterCaseTurnsCertificateChecksOff) {
    CHttpClient::GlobalInit();
    auto [cert, key] = SelfSignedCertificate();
    ASSERT_TRUE(cert && key);
    LoopbackServer server(std::make_unique<httplib::SSLServer>(cert.get(), key.get()));
    server.routes().Get("/secure", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("secret", "text/plain");
    });
    server.start();

    for (const std::string scheme : {"HTTPS", "https", "hTtPs"}) {
        SCOPED_TRACE(scheme);
        CHttpClient client;
        client.connectTimeoutSeconds = 5;
        client.timeoutSeconds = 10;
        client.url = server.url(scheme, "/secure");
        std::string body;
        std::string headers;
        EXPECT_EQ(client.Perform(body, headers), 0);
        EXPECT_EQ(body, "secret");
        EXPECT_EQ(client.responseCode, 200);
    }
}

}  // namespace
}  // namespace velquist
