#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "core/host_config.h"

namespace velquist {

// What the service's answer to the start-up report names this run by; empty until received.
struct UsageReportIds {
    std::string accinfo;
    std::string ranklogid;
};

// The hex "code" of the start-up report: appid "13", the form-encoded OS text and the encoded
// machine identity, under the report key.
std::string LoginReportCode(const std::string& osText, const std::string& encodedIdentity);
// The hex "code" of the exit report: the kept OS text and ids.
std::string ExitReportCode(const std::string& osText, const UsageReportIds& ids);

// Report service base + "/clientlogin/?act=ACT&code=HEX"; the same "&code=HEX" is the body.
std::string UsageReportUrl(const HostConfig& hosts, const std::string& act,
                           const std::string& code);

// The ids of a start-up report answer: uppercase hex under the report key whose plaintext,
// without any "[" or "]", is a JSON object; missing members read as "". nullopt for "404" and
// for anything that is not such an answer.
std::optional<UsageReportIds> ParseLoginReportAnswer(const std::string& answer);

// The two usage reports of a run of the window: the start-up report keeps the ids its answer
// gives and the OS text it sent, and the exit report sends them back. Failures are silent and
// leave the kept values as they were. Every member may be called from any thread.
class UsageReporter {
  public:
    // `settingsPath`: RankSettings.ini, where a computer without adapter addresses keeps its id.
    UsageReporter(HostConfig hosts, std::string settingsPath);
    ~UsageReporter();
    UsageReporter(const UsageReporter&) = delete;
    UsageReporter& operator=(const UsageReporter&) = delete;

    // The start-up report; blocks for its request.
    void sendLoginReport();
    // The exit report; blocks for its request, which is held to kExitReportTimeLimit. The done
    // flag is cleared first and set when the request has ended, whatever its outcome.
    void sendExitReport();
    // sendExitReport on a thread of its own; `done` (may be empty) is called from that thread
    // after the done flag is set.
    void startExitReport(std::function<void()> done);
    bool exitReportDone() const;
    // Waits for the done flag at most `limit`; true when it is set.
    bool waitForExitReport(std::chrono::milliseconds limit) const;

    UsageReportIds ids() const;
    std::string osText() const;

    // Quitting never waits longer for the exit report than the window does.
    static constexpr int kExitReportTimeLimitSeconds = 25;

  private:
    struct State;
    static void sendExitReportOn(State& state);
    std::shared_ptr<State> m_state;
    std::thread m_exitThread;
};

}  // namespace velquist
