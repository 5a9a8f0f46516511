#include "server/vendor_service.h"

#include <httplib.h>
#include <json/json.h>
#include <openssl/crypto.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "core/paths.h"
#include "core/text.h"
#include "server/account_pages.h"
#include "server/service_store.h"
#include "server/update_releases.h"
#include "services/envelope.h"

namespace velquist::service {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kRefused = "err";
constexpr const char* kAccepted = "200";
constexpr const char* kAppId = "13";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kZip = "application/zip";
constexpr std::size_t kPackagePieceBytes = 256 * 1024;

// A recorded user agent is handed out as a request header; one this long is no browser's.
constexpr std::size_t kUserAgentMaxBytes = 1024;
constexpr std::size_t kHeaderTextMaxBytes = 8 * 1024;
constexpr std::size_t kUserAgentRecordsMax = 10000;
constexpr auto kUserAgentRecordLife = std::chrono::minutes(10);

std::optional<Json::Value> ParseObject(const std::string& text) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;  // the reader throws on some input (nesting too deep)
    }
    if (!root.isObject()) return std::nullopt;
    return root;
}

bool IsUpperHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The JSON object enciphered as `code`, or nullopt when it is not one: only uppercase hex of
// whole blocks, deciphering to a JSON object, counts.
std::optional<Json::Value> OpenEnvelope(std::string_view key, const std::string& code) {
    if (code.empty() || !IsUpperHex(code)) return std::nullopt;
    const auto plaintext = DecipherFromHex(key, code);
    if (!plaintext) return std::nullopt;
    return ParseObject(*plaintext);
}

// String members, all present, or nullopt.
template <std::size_t N>
std::optional<std::array<std::string, N>> StringMembers(const Json::Value& object,
                                                        const char* const (&keys)[N]) {
    std::array<std::string, N> values;
    for (std::size_t i = 0; i < N; ++i) {
        const Json::Value& value = object[keys[i]];
        if (!value.isString()) return std::nullopt;
        values[i] = value.asString();
    }
    return values;
}

bool IsTimeHash(const std::string& text) { return text.size() == 32 && IsUpperHex(text); }

bool SameDigest(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string QueryOf(const std::string& target) {
    const auto mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

std::string FieldOf(const FormFields& fields, const std::string& name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

bool IsGuid(const std::string& text) {
    return !text.empty() && text.size() <= 64 && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
}

// A Host header fit to build a download address from: a name or address and a port.
bool IsHostText(const std::string& text) {
    return !text.empty() && text.size() <= 255 && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
    });
}

bool FitsInHeader(const std::string& text) {
    return text.size() <= kUserAgentMaxBytes && std::none_of(text.begin(), text.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7F;
           });
}

}  // namespace

struct VendorService::Impl {
    ServiceOptions options;
    std::optional<ServiceStore> store;
    std::optional<ReleaseStore> releases;
    std::unique_ptr<LoginThrottle> throttle;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::thread watchdog;
    std::atomic<bool> listening{false};
    std::atomic<bool> serverStopped{false};
    int port = 0;
    std::string error;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopRequested = false;  // guarded by stopMutex

    struct UserAgentRecord {
        std::string userAgent;
        std::string headers;
        Clock::time_point recorded;
    };
    std::mutex userAgentMutex;
    std::map<std::string, UserAgentRecord> userAgents;  // guarded by userAgentMutex

    void Log(const std::string& line) const {
        if (options.log) options.log(line);
    }

    static void Answer(httplib::Response& response, const std::string& text) {
        response.set_content(text, kText);
    }

    void Refuse(const httplib::Request& request, httplib::Response& response,
                const std::string& what, const std::string& why) const {
        Log(what + " from " + request.remote_addr + " refused: " + why);
        Answer(response, kRefused);
    }

    void HandleLogin(const httplib::Request& request, httplib::Response& response,
                     const std::string& code) {
        const std::string& address = request.remote_addr;
        if (!throttle->mayTry(address)) {
            Refuse(request, response, "login", "too many failed logins, waiting");
            return;
        }
        const auto fail = [&](const std::string& why) {
            throttle->recordFailure(address);
            Refuse(request, response, "login", why);
        };
        const auto object = OpenEnvelope(kLoginKey, code);
        if (!object) return fail("not an enciphered request");
        static const char* const kMembers[] = {"username", "password", "time", "appversion"};
        const auto members = StringMembers(*object, kMembers);
        if (!members) return fail("members missing");
        const auto& [encodedName, signature, timeHash, appVersion] = *members;
        const auto name = UrlDecodeForm(encodedName);
        if (!name || name->empty() || !IsTimeHash(timeHash)) return fail("malformed members");
        const auto account = store->findAccount(*name);
        // Unknown names and wrong passwords are refused alike, so neither tells which it was.
        const std::string expected =
            Md5HexUpper(SignatureText(*name, account ? account->protocolHash : "", timeHash));
        if (!account || !SameDigest(expected, signature)) return fail("wrong name or signature");
        switch (store->claimTimeHash("login", *name, timeHash)) {
            case ServiceStore::Claim::Fresh:
                break;
            case ServiceStore::Claim::Replayed:
                return fail("time hash used before (replay)");
            case ServiceStore::Claim::Failed:
                Refuse(request, response, "login", "database write failed");
                return;
        }
        throttle->recordSuccess(address);
        Json::Value answer(Json::objectValue);
        answer["servertime"] = LocalTimeText();
        answer["time"] = EncipherToHex(kAnswerCheckKey, timeHash);
        answer["truename"] = account->profile.trueName;
        answer["comname"] = account->profile.companyName;
        answer["score"] = account->profile.score;
        answer["jointime"] = account->profile.joinTime;
        answer["levelname"] = account->profile.levelName;
        Answer(response, EncipherToHex(kLoginKey, WriteJson(answer)));
    }

    void HandleLoginReport(const httplib::Request& request, httplib::Response& response,
                           const std::string& code) {
        const auto object = OpenEnvelope(kReportKey, code);
        static const char* const kMembers[] = {"appid", "os", "username"};
        const auto members = object ? StringMembers(*object, kMembers) : std::nullopt;
        if (!members) return Refuse(request, response, "start-up report", "not a report");
        const auto& [appId, encodedOs, encodedMachine] = *members;
        const auto os = UrlDecodeForm(encodedOs);
        const auto machine = UrlDecodeForm(encodedMachine);
        if (appId != kAppId || !os || !machine || machine->empty())
            return Refuse(request, response, "start-up report", "malformed members");
        const auto record = store->addLoginReport(request.remote_addr, *machine, *os);
        if (!record) {
            // The client keeps no ids for this answer, as for a report the service did not take.
            Log("start-up report from " + request.remote_addr + " not stored");
            return Answer(response, "404");
        }
        Json::Value ids(Json::objectValue);
        ids["accinfo"] = record->accinfo;
        ids["ranklogid"] = record->ranklogid;
        // An array of one object, the form the client strips its brackets from.
        std::string text = WriteJson(ids);
        text.insert(text.size() - 1, "]");
        text.insert(0, "[");
        Answer(response, EncipherToHex(kReportKey, text));
    }

    void HandleExitReport(const httplib::Request& request, httplib::Response& response,
                          const std::string& code) {
        const auto object = OpenEnvelope(kReportKey, code);
        static const char* const kMembers[] = {"appid", "os", "ranklogid", "username"};
        const auto members = object ? StringMembers(*object, kMembers) : std::nullopt;
        if (!members) return Refuse(request, response, "exit report", "not a report");
        const auto& [appId, encodedOs, ranklogid, accinfo] = *members;
        const auto os = UrlDecodeForm(encodedOs);
        if (appId != kAppId || !os)
            return Refuse(request, response, "exit report", "malformed members");
        if (!store->addExitReport(request.remote_addr, *os, ranklogid, accinfo)) {
            Log("exit report from " + request.remote_addr + " not stored");
            return Answer(response, "404");
        }
        Answer(response, kAccepted);
    }

    void HandleClientLogin(const httplib::Request& request, httplib::Response& response) {
        const FormFields query = ParseFormFields(QueryOf(request.target));
        const FormFields body = ParseFormFields(request.body);
        const std::string reportAct = FieldOf(query, "act");
        // The reports carry their code twice, in the address and as the body.
        const std::string code =
            body.count("code") ? FieldOf(body, "code") : FieldOf(query, "code");
        if (reportAct == "rankquerylogin") return HandleLoginReport(request, response, code);
        if (reportAct == "rankqueryexit") return HandleExitReport(request, response, code);
        if (FieldOf(body, "act") == "login") return HandleLogin(request, response, code);
        Refuse(request, response, "request", "unknown act");
    }

    void HandleFeedback(const httplib::Request& request, httplib::Response& response) {
        const FormFields body = ParseFormFields(request.body);
        if (FieldOf(body, "act") != "opinion")
            return Refuse(request, response, "feedback", "unknown act");
        const auto object = OpenEnvelope(kLoginKey, FieldOf(body, "code"));
        static const char* const kMembers[] = {"appid", "appversion", "contact", "content",
                                               "cpu",   "memory",     "os",      "password",
                                               "time",  "username"};
        const auto members = object ? StringMembers(*object, kMembers) : std::nullopt;
        if (!members) return Refuse(request, response, "feedback", "not an enciphered request");
        const auto& [appId, appVersion, contact, content, cpu, memory, os, signature, timeHash,
                     encodedMachine] = *members;
        const auto machine = UrlDecodeForm(encodedMachine);
        if (appId != kAppId || !machine || machine->empty() || !IsTimeHash(timeHash))
            return Refuse(request, response, "feedback", "malformed members");
        // The signature is made over the raw machine identity, which a computer without adapter
        // addresses sends empty while its name field carries its settings id.
        const bool signedByMachine =
            SameDigest(Md5HexUpper(SignatureText(*machine, "", timeHash)), signature) ||
            SameDigest(Md5HexUpper(SignatureText("", "", timeHash)), signature);
        if (!signedByMachine) return Refuse(request, response, "feedback", "wrong signature");
        FeedbackRecord record;
        record.address = request.remote_addr;
        record.machine = *machine;
        record.appVersion = appVersion;
        const std::pair<const std::string*, std::string*> texts[] = {{&contact, &record.contact},
                                                                     {&content, &record.content},
                                                                     {&cpu, &record.cpu},
                                                                     {&memory, &record.memory},
                                                                     {&os, &record.os}};
        for (const auto& [encoded, decoded] : texts) {
            auto text = UrlDecodeForm(*encoded);
            if (!text || !IsValidUtf8(*text))
                return Refuse(request, response, "feedback", "malformed text");
            *decoded = std::move(*text);
        }
        // The feedback signature holds no secret and leaves the texts out, so only the very
        // same request coming again counts as a replay; two messages sent within one second
        // (one time text) are both taken.
        const std::string requestHash = Md5HexUpper(FieldOf(body, "code"));
        switch (store->claimTimeHash("feedback", *machine, timeHash + ":" + requestHash)) {
            case ServiceStore::Claim::Fresh:
                break;
            case ServiceStore::Claim::Replayed:
                return Refuse(request, response, "feedback", "time hash used before (replay)");
            case ServiceStore::Claim::Failed:
                return Refuse(request, response, "feedback", "database write failed");
        }
        if (!store->addFeedback(record))
            return Refuse(request, response, "feedback", "database write failed");
        Answer(response, kAccepted);
    }

    void HandleUserAgent(const httplib::Request& request, httplib::Response& response) {
        const FormFields query = ParseFormFields(QueryOf(request.target));
        const std::string guid = FieldOf(query, "guid");
        const std::string act = FieldOf(query, "act");
        if (!IsGuid(guid) || (act != "push" && act != "pop")) {
            response.status = 400;
            return Answer(response, kRefused);
        }
        const Clock::time_point now = Clock::now();
        const std::lock_guard lock(userAgentMutex);
        std::erase_if(userAgents, [now](const auto& item) {
            return now - item.second.recorded > kUserAgentRecordLife;
        });
        if (act == "push") {
            std::string userAgent = request.get_header_value("User-Agent");
            // Kept empty when unusable: the client then stops asking and uses its own.
            if (!FitsInHeader(userAgent)) userAgent.clear();
            std::string headers;
            for (const auto& [name, value] : request.headers) {
                // The library files the connection's addresses among the headers; no browser
                // sent those.
                if (name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_ADDR" ||
                    name == "REMOTE_PORT")
                    continue;
                const std::string line = name + ": " + value + "\r\n";
                if (headers.size() + line.size() > kHeaderTextMaxBytes) break;
                headers += line;
            }
            if (userAgents.size() >= kUserAgentRecordsMax && !userAgents.count(guid)) {
                const auto oldest = std::min_element(
                    userAgents.begin(), userAgents.end(), [](const auto& a, const auto& b) {
                        return a.second.recorded < b.second.recorded;
                    });
                userAgents.erase(oldest);
            }
            userAgents[guid] = {std::move(userAgent), std::move(headers), now};
            response.set_content(
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Zanquil</title>"
                "</head><body><p>浏览器标识已记录，可以关闭此页。</p></body></html>\n",
                kHtml);
            return;
        }
        Json::Value answer(Json::objectValue);
        const auto it = userAgents.find(guid);
        answer["error"] = it == userAgents.end() ? "404" : "200";
        answer["http_user_agent"] = it == userAgents.end() ? "" : it->second.userAgent;
        answer["header"] = it == userAgents.end() ? "" : it->second.headers;
        response.set_content(WriteJson(answer), kJson);
    }

    // Download addresses name the host the caller reached the service by.
    std::string DownloadBase(const httplib::Request& request) const {
        const std::string host = request.get_header_value("Host");
        return "http://" +
               (IsHostText(host) ? host : options.listenAddress + ":" + std::to_string(port));
    }

    void HandleUpdateCheck(const httplib::Request& request, httplib::Response& response) {
        const FormFields query = ParseFormFields(QueryOf(request.target));
        Answer(response, UpdateCheckAnswer(releases->latest(), FieldOf(query, "appid"),
                                           FieldOf(query, "appversion"), DownloadBase(request)));
    }

    void HandleDownload(const httplib::Request& request, httplib::Response& response) {
        const auto release = releases->findByFile(request.matches[1]);
        // The open stream keeps its file even when the version is published again meanwhile.
        auto package = release ? std::make_shared<std::ifstream>(releases->packagePath(*release),
                                                                 std::ios::binary | std::ios::ate)
                               : nullptr;
        if (!package || !package->is_open()) {
            response.status = 404;
            return Answer(response, "404");
        }
        const auto size = static_cast<std::size_t>(package->tellg());
        response.set_content_provider(
            size, kZip, [package](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                std::vector<char> piece(std::min(length, kPackagePieceBytes));
                package->seekg(static_cast<std::streamoff>(offset));
                package->read(piece.data(), static_cast<std::streamsize>(piece.size()));
                const auto got = package->gcount();
                return got > 0 && sink.write(piece.data(), static_cast<std::size_t>(got));
            });
    }

    void HandleIndexGet(const httplib::Request& request, httplib::Response& response) {
        const FormFields query = ParseFormFields(QueryOf(request.target));
        const std::string act = FieldOf(query, "act");
        if (query.empty()) return response.set_content(HomePage(), kHtml);
        if (act == "register") return response.set_content(RegisterPage(), kHtml);
        if (act == "lostpassword") return response.set_content(LostPasswordPage(), kHtml);
        response.status = 404;
        response.set_content(NotFoundPage(), kHtml);
    }

    void HandleIndexPost(const httplib::Request& request, httplib::Response& response) {
        const FormFields query = ParseFormFields(QueryOf(request.target));
        if (FieldOf(query, "do") == "universal_opinion") return HandleFeedback(request, response);
        if (FieldOf(query, "act") == "register") {
            const Registration registration = Register(*store, ParseFormFields(request.body));
            if (registration.registered) {
                Log("account registered from " + request.remote_addr);
            } else {
                response.status = 400;
            }
            return response.set_content(registration.page, kHtml);
        }
        response.status = 404;
        response.set_content(NotFoundPage(), kHtml);
    }

    // The library reads a form body itself only up to 8 KB, less than a long feedback needs; a
    // handler that reads the body on its own is held to the service's limit instead.
    httplib::Server::HandlerWithContentReader WithBody(
        std::function<void(const httplib::Request&, httplib::Response&)> handler) {
        return [this, handler = std::move(handler)](const httplib::Request& request,
                                                    httplib::Response& response,
                                                    const httplib::ContentReader& reader) {
            std::string body;
            bool tooLarge = false;
            const bool read = reader([&](const char* data, std::size_t length) {
                if (body.size() + length > options.maxBodyBytes) {
                    tooLarge = true;
                    return false;
                }
                body.append(data, length);
                return true;
            });
            if (!read || tooLarge) {
                response.status = 413;
                Log("request from " + request.remote_addr + " refused: body too large");
                return Answer(response, kRefused);
            }
            httplib::Request withBody = request;
            withBody.body = std::move(body);
            handler(withBody, response);
        };
    }

    void InstallHandlers() {
        using httplib::Request;
        using httplib::Response;
        server->Post(R"(/clientlogin/?)",
                     WithBody([this](const Request& request, Response& response) {
                         HandleClientLogin(request, response);
                     }));
        server->Post("/index.php", WithBody([this](const Request& request, Response& response) {
                         HandleIndexPost(request, response);
                     }));
        server->Get(R"(/(index\.php)?)", [this](const Request& request, Response& response) {
            HandleIndexGet(request, response);
        });
        server->Get(R"(/ua/?)", [this](const Request& request, Response& response) {
            HandleUserAgent(request, response);
        });
        server->Get(R"(/control/dl\.php)", [this](const Request& request, Response& response) {
            HandleUpdateCheck(request, response);
        });
        server->Get(R"(/download/([^/]+))", [this](const Request& request, Response& response) {
            HandleDownload(request, response);
        });
        // Every refusal the library makes itself (too large, unknown path) reads as one of ours.
        const httplib::Server::HandlerWithResponse onError = [this](const Request& request,
                                                                    Response& response) {
            if (response.body.empty()) {
                if (response.status == 413)
                    Log("request from " + request.remote_addr + " refused: body too large");
                Answer(response, kRefused);
            }
            return httplib::Server::HandlerResponse::Handled;
        };
        server->set_error_handler(onError);
        server->set_exception_handler(
            [this](const Request& request, Response& response, std::exception_ptr) {
                Log("request from " + request.remote_addr + " failed inside the service");
                response.status = 500;
                Answer(response, kRefused);
            });
    }

    void RequestStop() {
        {
            const std::lock_guard lock(stopMutex);
            stopRequested = true;
        }
        stopSignal.notify_all();
        // The library's stop() must run once: a second call on a closed socket asserts.
        if (server && !serverStopped.exchange(true)) server->stop();
    }
};

VendorService::VendorService() : m_impl(std::make_unique<Impl>()) {}

VendorService::~VendorService() { stop(); }

bool VendorService::start(const ServiceOptions& options) {
    Impl& impl = *m_impl;
    if (impl.server) {
        impl.error = "a service starts only once";
        return false;
    }
    impl.options = options;
    impl.store = ServiceStore::Open(options.dataFolder, impl.error);
    if (!impl.store) return false;
    impl.releases = ReleaseStore::Open(options.dataFolder, impl.error);
    if (!impl.releases) return false;
    impl.throttle = std::make_unique<LoginThrottle>(options.throttle);

    auto server = std::make_unique<httplib::Server>();
    server->set_payload_max_length(options.maxBodyBytes);
    server->set_keep_alive_timeout(2);
    server->set_read_timeout(10, 0);
    server->set_write_timeout(10, 0);
    // Without SO_REUSEPORT a second service cannot quietly share a busy port.
    server->set_socket_options([](int socketFd) {
        const int on = 1;
        ::setsockopt(socketFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    int port = options.port;
    if (port == 0) {
        port = server->bind_to_any_port(options.listenAddress);
    } else if (!server->bind_to_port(options.listenAddress, port)) {
        port = -1;
    }
    if (port <= 0) {
        impl.error =
            "cannot listen on " + options.listenAddress + ":" + std::to_string(options.port);
        return false;
    }
    impl.port = port;
    impl.server = std::move(server);
    impl.InstallHandlers();

    impl.listening = true;
    impl.listener = std::thread([&impl] {
        impl.server->listen_after_bind();
        impl.listening = false;
    });
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!impl.server->is_running() && impl.listening && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

void VendorService::stop() {
    Impl& impl = *m_impl;
    if (!impl.server) return;
    impl.RequestStop();
    if (impl.listener.joinable()) impl.listener.join();
    if (impl.watchdog.joinable()) impl.watchdog.join();
}

bool VendorService::running() const { return m_impl->listening; }

int VendorService::port() const { return m_impl->port; }

std::string VendorService::host() const {
    return m_impl->options.listenAddress + ":" + std::to_string(m_impl->port);
}

std::string VendorService::lastError() const { return m_impl->error; }

}  // namespace velquist::service
