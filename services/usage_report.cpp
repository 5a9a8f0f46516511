#include "services/usage_report.h"

#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/text.h"
#include "engine/http_client.h"
#include "services/envelope.h"
#include "services/machine_facts.h"

namespace velquist {

namespace {

constexpr const char* kAppId = "13";
constexpr std::size_t kReportAnswerMaxBytes = 64 * 1024;

// Sends one report; the answer body, or nullopt when the request did not complete.
std::optional<std::string> PostReport(const HostConfig& hosts, const std::string& act,
                                      const std::string& code, int timeLimitSeconds) {
    CHttpClient client;
    client.url = UsageReportUrl(hosts, act, code);
    client.postData = "&code=" + code;
    client.referer.clear();
    client.connectTimeoutSeconds = timeLimitSeconds;
    client.timeoutSeconds = timeLimitSeconds;
    client.maxBodyBytes = kReportAnswerMaxBytes;
    std::string answer;
    std::string headers;
    if (client.Perform(answer, headers) != 0) return std::nullopt;
    return answer;
}

}  // namespace

std::string LoginReportCode(const std::string& osText, const std::string& encodedIdentity) {
    Json::Value object(Json::objectValue);
    object["appid"] = kAppId;
    object["os"] = UrlEncodeForm(osText);
    object["username"] = encodedIdentity;
    return EncipherToHex(kReportKey, WriteJson(object));
}

std::string ExitReportCode(const std::string& osText, const UsageReportIds& ids) {
    Json::Value object(Json::objectValue);
    object["appid"] = kAppId;
    object["os"] = UrlEncodeForm(osText);
    object["ranklogid"] = ids.ranklogid;
    object["username"] = ids.accinfo;
    return EncipherToHex(kReportKey, WriteJson(object));
}

std::string UsageReportUrl(const HostConfig& hosts, const std::string& act,
                           const std::string& code) {
    return ServiceBaseUrl(hosts.reportHost) + "/clientlogin/?act=" + act + "&code=" + code;
}

std::optional<UsageReportIds> ParseLoginReportAnswer(const std::string& answer) {
    if (answer == "404") return std::nullopt;
    auto plaintext = DecipherFromHex(kReportKey, answer);
    if (!plaintext) return std::nullopt;
    plaintext->erase(std::remove_if(plaintext->begin(), plaintext->end(),
                                    [](char c) { return c == '[' || c == ']'; }),
                     plaintext->end());
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(plaintext->data(), plaintext->data() + plaintext->size(), &root,
                           &errors) ||
            !root.isObject())
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const auto member = [&root](const char* key) {
        const Json::Value& value = root[key];
        return value.isString() ? value.asString() : std::string();
    };
    return UsageReportIds{member("accinfo"), member("ranklogid")};
}

struct UsageReporter::State {
    HostConfig hosts;
    std::string settingsPath;

    mutable std::mutex mutex;
    UsageReportIds ids;    // guarded by mutex
    std::string osText;    // guarded by mutex
    bool exitDone = true;  // guarded by mutex; nothing pending before the first exit report
    mutable std::condition_variable exitDoneChanged;
    std::atomic<bool> exitThreadEnded{false};  // the exit report's thread has nothing left to do
};

UsageReporter::UsageReporter(HostConfig hosts, std::string settingsPath)
    : m_state(std::make_shared<State>()) {
    m_state->hosts = std::move(hosts);
    m_state->settingsPath = std::move(settingsPath);
}

// The exit report's thread is joined once it has ended its work (the window waits for the done
// flag, so that is at once): the process must not exit under a thread that is still leaving.
// One still sending when its time is up keeps the state alive through its own reference.
UsageReporter::~UsageReporter() {
    if (!m_exitThread.joinable()) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!m_state->exitThreadEnded && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (m_state->exitThreadEnded)
        m_exitThread.join();
    else
        m_exitThread.detach();
}

void UsageReporter::sendLoginReport() {
    State& state = *m_state;
    const MachineIdentity identity = ProcessMachineIdentity(state.settingsPath);
    const MachineFacts facts = GatherMachineFacts();
    const std::string os = OsText(facts);
    {
        const std::lock_guard lock(state.mutex);
        state.osText = os;
    }
    const auto answer =
        PostReport(state.hosts, "rankquerylogin", LoginReportCode(os, identity.encoded),
                   state.hosts.httpTimeoutSeconds);
    if (!answer) return;
    if (auto ids = ParseLoginReportAnswer(*answer)) {
        const std::lock_guard lock(state.mutex);
        state.ids = std::move(*ids);
    }
}

void UsageReporter::sendExitReport() { sendExitReportOn(*m_state); }

void UsageReporter::sendExitReportOn(State& state) {
    std::string code;
    {
        const std::lock_guard lock(state.mutex);
        state.exitDone = false;
        code = ExitReportCode(state.osText, state.ids);
    }
    try {
        PostReport(state.hosts, "rankqueryexit", code,
                   std::min(state.hosts.httpTimeoutSeconds, kExitReportTimeLimitSeconds));
    } catch (const std::exception&) {
        // Quitting must go on: the flag below is what the window waits for.
    }
    {
        const std::lock_guard lock(state.mutex);
        state.exitDone = true;
    }
    state.exitDoneChanged.notify_all();
}

void UsageReporter::startExitReport(std::function<void()> done) {
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->exitDone = false;
    }
    if (m_exitThread.joinable()) m_exitThread.join();  // a quit asks once; an earlier one is over
    m_state->exitThreadEnded = false;
    m_exitThread = std::thread([state = m_state, done = std::move(done)] {
        sendExitReportOn(*state);
        if (done) done();
        state->exitThreadEnded = true;
    });
}

bool UsageReporter::exitReportDone() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->exitDone;
}

bool UsageReporter::waitForExitReport(std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->exitDoneChanged.wait_for(lock, limit, [this] { return m_state->exitDone; });
}

UsageReportIds UsageReporter::ids() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->ids;
}

std::string UsageReporter::osText() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->osText;
}

}  // namespace velquist
