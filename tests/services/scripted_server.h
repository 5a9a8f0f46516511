#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velquist::testing {

// A vendor host on 127.0.0.1 that answers every GET and POST with what `answer` makes of the
// request, and keeps the requests. It stops by itself after a request budget or a minute.
class ScriptedServer {
  public:
    struct Seen {
        std::string method;
        std::string target;  // path and query
        std::string body;
    };
    using Answer = std::function<std::string(const httplib::Request&)>;

    static constexpr int kRequestBudget = 200;

    explicit ScriptedServer(Answer answer) : m_answer(std::move(answer)) {
        m_server.set_keep_alive_timeout(1);
        const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
            Answer answer;
            {
                const std::lock_guard lock(m_mutex);
                m_seen.push_back({request.method, request.target, request.body});
                if (static_cast<int>(m_seen.size()) >= kRequestBudget) m_server.stop();
                answer = m_answer;
            }
            response.set_content(answer ? answer(request) : std::string(), "text/plain");
        };
        m_server.Get(".*", handle);
        m_server.Post(".*", handle);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_listener = std::thread([this] { m_server.listen_after_bind(); });
        m_watchdog = std::thread([this] {
            std::unique_lock lock(m_mutex);
            m_stopSignal.wait_for(lock, std::chrono::minutes(1), [this] { return m_stopping; });
            m_server.stop();
        });
        for (int i = 0; i < 400 && !m_server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(m_server.is_running());
    }

    ~ScriptedServer() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_stopSignal.notify_all();
        m_watchdog.join();
        m_listener.join();
    }

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

    std::vector<Seen> seen() const {
        const std::lock_guard lock(m_mutex);
        return m_seen;
    }

  private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_listener;
    std::thread m_watchdog;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopSignal;
    bool m_stopping = false;   // guarded by m_mutex
    Answer m_answer;           // guarded by m_mutex
    std::vector<Seen> m_seen;  // guarded by m_mutex
};

}  // namespace velquist::testing
