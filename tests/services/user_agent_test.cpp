#include "services/user_agent.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "closed_port.h"
#include "core/process_state.h"

namespace velquist {
namespace {

using namespace std::chrono_literals;

const std::string kReady = R"({"error":"200","http_user_agent":"UA-X","header":"Accept: */*"})";
const std::string kNotReady = R"({"error":"404","http_user_agent":"","header":""})";

TEST(UserAgentTest, StartupGuidTextIsAFreshRandomGuid) {
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        const std::string guid = MakeStartupGuidText();
        ASSERT_EQ(guid.size(), 32u) << guid;
        for (char c : guid)
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'))
                << guid;
        EXPECT_EQ(guid[12], '4') << guid;
        EXPECT_NE(std::string("89AB").find(guid[16]), std::string::npos) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 20u);
}

TEST(UserAgentTest, ExchangeUrlsCarryTheGuid) {
    EXPECT_EQ(UserAgentPushUrl("http://ua.test", "ABC"), "http://ua.test/ua/?guid=ABC&act=push");
    EXPECT_EQ(UserAgentPopUrl("http://ua.test", "ABC"), "http://ua.test/ua/?guid=ABC&act=pop");
    EXPECT_EQ(UserAgentPopUrl("https://ua.test:8443/", "ABC"),
              "https://ua.test:8443/ua/?guid=ABC&act=pop");
}

TEST(UserAgentTest, PopAnswerGivesOnlyAUsableUserAgent) {
    struct Case {
        std::string body;
        std::string expected;
    };
    const std::string answer = R"({"http_user_agent":"UA-X"})";
    const auto paddedTo = [&answer](std::size_t size) {
        return answer + std::string(size - answer.size(), ' ');
    };
    const Case cases[] = {
        {kReady, "UA-X"},
        {paddedTo(kUserAgentPopAnswerMaxBytes), "UA-X"},
        // Too big to be a real answer: refused before it is parsed.
        {paddedTo(kUserAgentPopAnswerMaxBytes + 1), ""},
        // Nested deeper than the parser allows, which it reports by throwing.
        {std::string(1000, '['), ""},
        {R"({"error":"200","http_user_agent":)" + std::string(5000, '['), ""},
        {R"j({"http_user_agent":"Mozilla/5.0 (X11; Linux x86_64)"})j",
         "Mozilla/5.0 (X11; Linux x86_64)"},
        {R"j({"http_user_agent":"Mozilla/4.0 (compatible; MSIE 8.0)"})j",
         "Mozilla/4.0 (compatible; MSIE 8.0)"},
        {R"({"error":"200","http_user_agent":"Mozilla/4.0"})", ""},
        {R"({"error":"200","http_user_agent":""})", ""},
        {R"({"error":"200"})", ""},
        {R"({"http_user_agent":42})", ""},
        {R"(["http_user_agent","UA-X"])", ""},
        {R"({"http_user_agent":"UA\r\nX-Injected: 1"})", ""},
        {"<html>service down</html>", ""},
        {R"({"error":"200","http_user_agent":"UA-X")", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UserAgentFromPopAnswer(c.body), c.expected)
            << c.body.substr(0, 60) << " (" << c.body.size() << " bytes)";
}

TEST(UserAgentTest, ChoiceIsNeverEmptyAndFitsTheSharedText) {
    struct Case {
        std::string exchanged;
        std::string local;
        std::string expected;
    };
    const std::string longText(600, 'u');
    const Case cases[] = {
        {"UA-X", kUserAgentLocalFallback, "UA-X"},
        {"", kUserAgentLocalFallback, kUserAgentLocalFallback},
        {"", "", kUserAgentLastResort},
        {longText, "", longText.substr(0, ProcessState::kUserAgentMaxBytes)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseUserAgent(c.exchanged, c.local), c.expected) << c.exchanged;
    EXPECT_EQ(
        LocalUserAgent(),
        "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; SLCC2; .NET CLR 2.0.50727; .NET CLR "
        "3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0; .NET4.0C; .NET4.0E; InfoPath.2)");
    EXPECT_STREQ(kUserAgentLastResort,
                 "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; Trident/6.0)");
}

// The ua service on loopback: answers pop requests from a script (the last answer repeats),
// counts them, and stops by itself after a request budget or a deadline.
class UserAgentServiceTest : public ::testing::Test {
  protected:
    static constexpr int kRequestBudget = 100;

    void SetUp() override {
        m_server.set_keep_alive_timeout(1);
        m_server.Get("/ua/", [this](const httplib::Request& request, httplib::Response& response) {
            const std::lock_guard<std::mutex> guard(m_mutex);
            m_queries.push_back(request.get_param_value("guid") + "&" +
                                request.get_param_value("act"));
            if (static_cast<int>(m_queries.size()) >= kRequestBudget) m_server.stop();
            std::string answer = m_answers.empty() ? std::string() : m_answers.front();
            if (m_answers.size() > 1) m_answers.pop_front();
            response.set_content(answer, "application/json");
        });
        const int port = m_server.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port, 0);
        m_listener = std::thread([this] { m_server.listen_after_bind(); });
        m_watchdog = std::thread([this] {
            std::unique_lock<std::mutex> guard(m_mutex);
            m_stopRequested.wait_for(guard, 60s, [this] { return m_stopping; });
            m_server.stop();
        });
        for (int i = 0; i < 200 && !m_server.is_running(); ++i) std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(m_server.is_running());
        m_hosts.uaHost = "127.0.0.1:" + std::to_string(port);
        m_hosts.httpTimeoutSeconds = 5;
    }

    void TearDown() override {
        {
            const std::lock_guard<std::mutex> guard(m_mutex);
            m_stopping = true;
        }
        m_stopRequested.notify_all();
        if (m_watchdog.joinable()) m_watchdog.join();
        if (m_listener.joinable()) m_listener.join();
    }

    void script(std::deque<std::string> answers) {
        const std::lock_guard<std::mutex> guard(m_mutex);
        m_answers = std::move(answers);
    }

    std::vector<std::string> queries() {
        const std::lock_guard<std::mutex> guard(m_mutex);
        return m_queries;
    }

    Sleeper recordingSleeper() {
        return [this](std::chrono::milliseconds pause) { m_sleeps.push_back(pause); };
    }

    httplib::Server m_server;
    std::thread m_listener;
    std::thread m_watchdog;
    std::mutex m_mutex;
    std::condition_variable m_stopRequested;
    bool m_stopping = false;             // guarded by m_mutex
    std::deque<std::string> m_answers;   // guarded by m_mutex
    std::vector<std::string> m_queries;  // guarded by m_mutex
    std::vector<std::chrono::milliseconds> m_sleeps;
    HostConfig m_hosts;
};

TEST_F(UserAgentServiceTest, PollingStopsAtTheFirstReadyAnswer) {
    struct Case {
        std::string name;
        std::deque<std::string> answers;
        bool singleAttempt;
        std::string expected;
        std::size_t requests;
    };
    const Case cases[] = {
        {"ready at once", {kReady}, false, "UA-X", 1},
        {"ready on the third poll", {kNotReady, kNotReady, kReady}, false, "UA-X", 3},
        {"never ready", {kNotReady}, false, kUserAgentLocalFallback, kUserAgentPollAttempts},
        {"single attempt taken", {kReady}, true, "UA-X", 1},
        {"single attempt not ready", {kNotReady, kReady}, true, kUserAgentLocalFallback, 1},
        {"bare Mozilla/4.0 refused",
         {R"({"error":"200","http_user_agent":"Mozilla/4.0"})"},
         false,
         kUserAgentLocalFallback,
         1},
        {"not JSON",
         {"<html>busy</html>", "{\"error\":\"200\" broken"},
         false,
         kUserAgentLocalFallback,
         2},
        {"ready but nested too deep",
         {R"({"error":"200","http_user_agent":)" + std::string(1000, '[')},
         false,
         kUserAgentLocalFallback,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        script(c.answers);
        m_sleeps.clear();
        const std::size_t before = queries().size();

        EXPECT_EQ(DiscoverUserAgent(m_hosts, "0123456789ABCDEF0123456789ABCDEF", c.singleAttempt,
                                    recordingSleeper()),
                  c.expected);

        const auto seen = queries();
        ASSERT_EQ(seen.size() - before, c.requests);
        EXPECT_EQ(seen.back(), "0123456789ABCDEF0123456789ABCDEF&pop");
        const std::vector<std::chrono::milliseconds> expectedSleeps(
            c.singleAttempt ? 0 : c.requests, 2000ms);
        EXPECT_EQ(m_sleeps, expectedSleeps);
    }
}

TEST_F(UserAgentServiceTest, DiscoveredUserAgentBecomesTheSharedOne) {
    script({kReady});
    Process().setUserAgent("");
    EXPECT_EQ(DiscoverAndStoreUserAgent(m_hosts, "GUID", true, recordingSleeper()), "UA-X");
    EXPECT_EQ(Process().userAgent(), "UA-X");
}

TEST_F(UserAgentServiceTest, FailureInsideTheExchangeFallsBackInsteadOfEscaping) {
    script({kReady});
    const Sleeper failing = [](std::chrono::milliseconds) { throw std::bad_alloc(); };
    EXPECT_EQ(DiscoverUserAgent(m_hosts, "GUID", false, failing), kUserAgentLocalFallback);
}

using testing::ClosedPort;

TEST(UserAgentUnreachableTest, RefusedConnectionFallsBackAfterEveryAttempt) {
    HostConfig hosts;
    hosts.uaHost = "127.0.0.1:" + std::to_string(ClosedPort());
    hosts.httpTimeoutSeconds = 5;
    for (const bool singleAttempt : {true, false}) {
        SCOPED_TRACE(singleAttempt);
        int sleeps = 0;
        const Sleeper counting = [&sleeps](std::chrono::milliseconds) { ++sleeps; };
        EXPECT_EQ(DiscoverUserAgent(hosts, "GUID", singleAttempt, counting),
                  kUserAgentLocalFallback);
        EXPECT_EQ(sleeps, singleAttempt ? 0 : kUserAgentPollAttempts);
    }
}

}  // namespace
}  // namespace velquist
