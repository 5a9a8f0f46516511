#include "tools/search_standin/search_standin.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "tools/search_standin/tls_identity.h"

namespace velquist::standin {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHtml = "text/html; charset=utf-8";

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

// Closes the request's connection without an answer. The socket's descriptor is replaced by
// /dev/null, which closes the socket itself while the server thread still owns a valid
// descriptor: whatever it writes afterwards goes nowhere, its next read sees end of file, and no
// SIGPIPE can arise.
void DropConnection(const httplib::Request& request) {
    if (request.ssl == nullptr) {
        return;
    }
    const int socketFd = SSL_get_fd(request.ssl);
    if (socketFd < 0) {
        return;
    }
    const FileDescriptor devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull.get() < 0 || ::dup2(devNull.get(), socketFd) < 0) {
        ::shutdown(socketFd, SHUT_RDWR);
    }
}

int ParsePageNo(const std::string& text) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return 1;
    }
    const int value = std::stoi(text);
    return value < 1 ? 1 : value;
}

}  // namespace

struct SearchStandin::Impl {
    StandinOptions options;
    World world;
    std::optional<TlsIdentity> identity;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread listener;
    std::thread watchdog;
    std::atomic<bool> listening{false};
    std::atomic<bool> serverStopped{false};
    int port = 0;
    std::string error;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopRequested = false;

    mutable std::mutex countMutex;
    int total = 0;
    int resultRequests = 0;
    int verifications = 0;
    std::map<std::string, int, std::less<>> byPath;
    std::map<std::string, int, std::less<>> byKeyword;
    std::map<std::pair<std::string, int>, int> byKeywordPage;
    std::map<std::string, std::deque<Clock::time_point>> windows;

    // Waits unless a stop comes first; true when the full time passed.
    bool Pause(std::chrono::milliseconds duration) {
        std::unique_lock lock(stopMutex);
        return !stopSignal.wait_for(lock, duration, [this] { return stopRequested; });
    }

    void RequestStop() {
        {
            const std::lock_guard lock(stopMutex);
            stopRequested = true;
        }
        stopSignal.notify_all();
        // The library's stop() must run once: a second call on a closed socket asserts.
        if (server && !serverStopped.exchange(true)) {
            server->stop();
        }
    }

    // Counts the request into its client's one-second window; true when the window now holds
    // more than the allowed rate. Called with countMutex held.
    bool OverRate(const httplib::Request& request, Clock::time_point now) {
        if (options.rateLimitPerSecond <= 0) {
            return false;
        }
        std::deque<Clock::time_point>& window =
            windows[request.remote_addr + "\n" + request.get_header_value("User-Agent")];
        while (!window.empty() && now - window.front() >= std::chrono::seconds(1)) {
            window.pop_front();
        }
        window.push_back(now);
        return window.size() > static_cast<std::size_t>(options.rateLimitPerSecond);
    }

    void HandleResultPage(const httplib::Request& request, httplib::Response& response) {
        if (!request.has_param("q")) {
            response.set_redirect("/");
            return;
        }
        const std::string keyword = request.get_param_value("q");
        const int pageNo = ParsePageNo(request.get_param_value("pn"));
        int resultIndex = 0;
        int keywordIndex = 0;
        int check = 0;
        bool throttled = false;
        {
            const std::lock_guard lock(countMutex);
            resultIndex = ++resultRequests;
            keywordIndex = ++byKeyword[keyword];
            ++byKeywordPage[{keyword, pageNo}];
            // A check starts with page 1; the later pages belong to the check that asked for it.
            check = byKeywordPage[{keyword, 1}];
            throttled = OverRate(request, Clock::now());
        }
        const KeywordBehaviour* behaviour = BehaviourFor(world, keyword);
        if (behaviour != nullptr && behaviour->delayMs > 0 &&
            !Pause(std::chrono::milliseconds(behaviour->delayMs))) {
            DropConnection(request);
            return;
        }
        const bool drop = (options.dropEveryNth > 0 && resultIndex % options.dropEveryNth == 0) ||
                          (behaviour != nullptr && keywordIndex <= behaviour->dropTimes);
        if (drop) {
            DropConnection(request);
            return;
        }
        if (options.failEveryNth > 0 && resultIndex % options.failEveryNth == 0) {
            response.status = options.failStatus;
            response.set_content(BuildErrorPage(options.failStatus), kHtml);
            return;
        }
        if (behaviour != nullptr && keywordIndex <= behaviour->dropTimes + behaviour->failTimes) {
            response.status = behaviour->failStatus;
            response.set_content(BuildErrorPage(behaviour->failStatus), kHtml);
            return;
        }
        if (throttled || (behaviour != nullptr && behaviour->verify)) {
            {
                const std::lock_guard lock(countMutex);
                ++verifications;
            }
            response.set_content(BuildVerificationPage(), kHtml);
            return;
        }

        PageResults results = ResultsFor(world, keyword, pageNo, check);
        ResultPageContent content;
        content.keyword = keyword;
        content.pageNo = pageNo;
        content.organic = std::move(results.organic);
        content.ads = std::move(results.ads);
        if (results.hasNext) {
            content.nextTarget = PageLinkTarget(keyword, pageNo + 1);
        }
        content.targetBytes = PageBytesFor(keyword, pageNo);
        std::string page = BuildResultPage(content);
        if (behaviour != nullptr && behaviour->truncateAt >= 0 &&
            page.size() > static_cast<std::size_t>(behaviour->truncateAt)) {
            page.resize(static_cast<std::size_t>(behaviour->truncateAt));
        }
        response.set_content(std::move(page), kHtml);
    }

    void InstallHandlers() {
        server->set_pre_routing_handler(
            [this](const httplib::Request& request, httplib::Response&) {
                const std::lock_guard lock(countMutex);
                ++total;
                ++byPath[request.path];
                return httplib::Server::HandlerResponse::Unhandled;
            });
        // The next-page link is joined to a base that ends in "/", so "//s" must work too.
        server->Get(R"(/+s)", [this](const httplib::Request& request, httplib::Response& response) {
            HandleResultPage(request, response);
        });
        server->Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>搜索</title></head>"
                "<body><form action=\"s\" method=\"get\"><input type=\"text\" name=\"q\">"
                "<input type=\"hidden\" name=\"ie\" value=\"utf-8\"><button>搜索</button>"
                "</form></body></html>\n",
                kHtml);
        });
    }
};

SearchStandin::SearchStandin() : m_impl(std::make_unique<Impl>()) {}

SearchStandin::~SearchStandin() { stop(); }

bool SearchStandin::start(const StandinOptions& options) {
    Impl& impl = *m_impl;
    if (impl.server) {
        impl.error = "a stand-in starts only once";
        return false;
    }
    impl.error.clear();
    impl.options = options;

    std::optional<World> world;
    if (!options.worldPath.empty()) {
        world = LoadWorldFile(options.worldPath, impl.error);
    } else if (!options.worldJson.empty()) {
        world = ParseWorld(options.worldJson, impl.error);
    } else {
        world = World{};
    }
    if (!world) {
        return false;
    }
    impl.world = std::move(*world);

    impl.identity = MakeLoopbackIdentity(impl.error);
    if (!impl.identity) {
        return false;
    }
    auto server = std::make_unique<httplib::SSLServer>(impl.identity->certificate.get(),
                                                       impl.identity->key.get());
    if (!server->is_valid()) {
        impl.error = "cannot set up the TLS context";
        return false;
    }
    // Short keep-alive, so an idle client connection does not hold up stopping.
    server->set_keep_alive_timeout(1);
    // A compressed answer goes out in several writes; without this the last one waits for the
    // client's delayed acknowledgement (about 40 ms a page).
    server->set_tcp_nodelay(true);
    // The library's default adds SO_REUSEPORT, which would let a second stand-in share a busy
    // port and take half its requests; a taken port must fail to bind instead.
    server->set_socket_options([](int socketFd) {
        const int on = 1;
        ::setsockopt(socketFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });

    int port = options.port;
    if (port == 0) {
        port = server->bind_to_any_port("127.0.0.1");
    } else if (!server->bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port <= 0) {
        impl.error = "cannot bind 127.0.0.1:" + std::to_string(options.port);
        return false;
    }
    impl.port = port;
    impl.server = std::move(server);
    impl.InstallHandlers();
    {
        const std::lock_guard lock(impl.stopMutex);
        impl.stopRequested = false;
    }

    impl.listening = true;
    impl.listener = std::thread([&impl] {
        impl.server->listen_after_bind();
        impl.listening = false;
    });
    // stop() only takes effect once the server loop runs, so wait for it before anyone can call it.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!impl.server->is_running() && impl.listening && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!impl.server->is_running()) {
        impl.error = "the server loop did not start";
        stop();
        return false;
    }
    impl.watchdog = std::thread([&impl] {
        std::unique_lock lock(impl.stopMutex);
        if (impl.options.lifetimeSeconds > 0) {
            impl.stopSignal.wait_for(lock, std::chrono::seconds(impl.options.lifetimeSeconds),
                                     [&impl] { return impl.stopRequested; });
        } else {
            impl.stopSignal.wait(lock, [&impl] { return impl.stopRequested; });
        }
        lock.unlock();
        impl.RequestStop();
    });
    return true;
}

void SearchStandin::stop() {
    Impl& impl = *m_impl;
    if (!impl.server) {
        return;
    }
    impl.RequestStop();
    if (impl.listener.joinable()) {
        impl.listener.join();
    }
    if (impl.watchdog.joinable()) {
        impl.watchdog.join();
    }
}

bool SearchStandin::running() const { return m_impl->listening; }

int SearchStandin::port() const { return m_impl->port; }

std::string SearchStandin::host() const { return "127.0.0.1:" + std::to_string(m_impl->port); }

std::string SearchStandin::certificatePem() const {
    return m_impl->identity ? m_impl->identity->certificatePem : std::string();
}

std::string SearchStandin::lastError() const { return m_impl->error; }

int SearchStandin::requestCount() const {
    const std::lock_guard lock(m_impl->countMutex);
    return m_impl->total;
}

int SearchStandin::requestCountForPath(const std::string& path) const {
    const std::lock_guard lock(m_impl->countMutex);
    const auto found = m_impl->byPath.find(path);
    return found == m_impl->byPath.end() ? 0 : found->second;
}

int SearchStandin::requestCountFor(const std::string& keyword) const {
    const std::lock_guard lock(m_impl->countMutex);
    const auto found = m_impl->byKeyword.find(keyword);
    return found == m_impl->byKeyword.end() ? 0 : found->second;
}

int SearchStandin::requestCountFor(const std::string& keyword, int pageNo) const {
    const std::lock_guard lock(m_impl->countMutex);
    const auto found = m_impl->byKeywordPage.find({keyword, pageNo});
    return found == m_impl->byKeywordPage.end() ? 0 : found->second;
}

int SearchStandin::verificationCount() const {
    const std::lock_guard lock(m_impl->countMutex);
    return m_impl->verifications;
}

}  // namespace velquist::standin
