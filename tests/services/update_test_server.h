#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velquist::testing {

// A loopback server that speaks raw bytes, for answers no real HTTP server would give: a
// header without an end, a body cut short, silence. Connections are served one after another
// on its own thread; it stops after `maxConnections` or `lifetime`, whichever comes first.
class RawHttpServer {
  public:
    class Connection {
      public:
        Connection(int fd, std::string request, const std::atomic<bool>& stopping)
            : m_fd(fd), request(std::move(request)), m_stopping(stopping) {}

        // False once the client has gone.
        bool send(std::string_view bytes) {
            while (!bytes.empty()) {
                const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (sent <= 0) return false;
                bytes.remove_prefix(static_cast<std::size_t>(sent));
            }
            return true;
        }

        // Sends nothing until the client closes, the server stops, or `limit` has passed.
        void holdOpen(std::chrono::milliseconds limit) {
            const auto end = std::chrono::steady_clock::now() + limit;
            char sink[4096];
            while (!m_stopping && std::chrono::steady_clock::now() < end) {
                pollfd item{m_fd, POLLIN, 0};
                if (::poll(&item, 1, 20) > 0 && ::recv(m_fd, sink, sizeof sink, 0) <= 0) return;
            }
        }

      private:
        int m_fd;

      public:
        const std::string request;  // the request header as received

      private:
        const std::atomic<bool>& m_stopping;
    };
    using Script = std::function<void(Connection&)>;

    explicit RawHttpServer(Script script, int maxConnections = 20,
                           std::chrono::seconds lifetime = std::chrono::seconds(60))
        : m_script(std::move(script)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(m_listener, 16) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, maxConnections, lifetime] { serve(maxConnections, lifetime); });
    }

    ~RawHttpServer() {
        m_stopping = true;
        m_thread.join();
        ::close(m_listener);
    }

    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string url(const std::string& path) const { return "http://" + host() + path; }

    std::vector<std::string> requests() const {
        const std::lock_guard lock(m_mutex);
        return m_requests;
    }

  private:
    void serve(int maxConnections, std::chrono::seconds lifetime) {
        const auto end = std::chrono::steady_clock::now() + lifetime;
        for (int served = 0; served < maxConnections && !m_stopping &&
                             std::chrono::steady_clock::now() < end;) {
            pollfd item{m_listener, POLLIN, 0};
            if (::poll(&item, 1, 20) <= 0) continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++served;
            std::string request = readHeader(fd);
            {
                const std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            Connection connection(fd, std::move(request), m_stopping);
            m_script(connection);
            ::close(fd);
        }
    }

    std::string readHeader(int fd) const {
        std::string header;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        char c = 0;
        while (header.find("\r\n\r\n") == std::string::npos && header.size() < 64 * 1024 &&
               std::chrono::steady_clock::now() < end && !m_stopping) {
            pollfd item{fd, POLLIN, 0};
            if (::poll(&item, 1, 20) <= 0) continue;
            if (::recv(fd, &c, 1, 0) <= 0) break;
            header += c;
        }
        return header;
    }

    Script m_script;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;  // guarded by m_mutex
};

// "HTTP/1.1 200 OK" with a Content-Length and the body.
inline std::string OkAnswer(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string RedirectAnswer(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
}

// The path of a request header's request line.
inline std::string RequestPath(const std::string& request) {
    const auto start = request.find(' ');
    const auto end = request.find(' ', start + 1);
    return start == std::string::npos || end == std::string::npos
               ? std::string()
               : request.substr(start + 1, end - start - 1);
}

}  // namespace velquist::testing
