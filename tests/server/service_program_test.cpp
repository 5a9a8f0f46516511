#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "core/database.h"
#include "core/schema.h"
#include "service_process.h"
#include "services/feedback.h"
#include "services/login.h"
#include "services/usage_report.h"
#include "temp_folder.h"

namespace velquist::service {
namespace {

using namespace std::chrono_literals;
using velquist::testing::ProgramResult;
using velquist::testing::RunServiceCommand;
using velquist::testing::ServiceProcess;
using velquist::testing::TempFolder;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ServiceProgram, AKillDuringWritesLosesNothingThatWasAcknowledged) {
    TempFolder folder;
    const std::string data = folder.file("service");
    ASSERT_EQ(
        RunServiceCommand(folder.path(), {"--data", data, "account", "add", "demo", "demo1234"})
            .exitCode,
        0);
    auto service = std::make_unique<ServiceProcess>(data, folder.path());
    ASSERT_TRUE(service->started()) << service->log();
    const int port = std::stoi(service->host().substr(service->host().find(':') + 1));

    // Writers post feedback and start-up reports as fast as they are answered, each request
    // with a fresh identity so that none is a replay.
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::string> acknowledgedFeedback;  // guarded by mutex
    int acknowledgedReports = 0;                    // guarded by mutex
    const MachineFacts facts{"cpu", "RAM: 1 MB", "os", "64"};
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&, writer] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(5, 0);
            for (int i = 0; i < 5000 && !stop; ++i) {
                const std::string id = "W" + std::to_string(writer) + "N" + std::to_string(i);
                if (writer == 3) {
                    const std::string code = LoginReportCode("os 64", id);
                    const auto reply =
                        client.Post(("/clientlogin/?act=rankquerylogin&code=" + code).c_str(),
                                    "&code=" + code, "application/x-www-form-urlencoded");
                    if (reply && reply->status == 200 && reply->body != "err" &&
                        reply->body != "404") {
                        const std::lock_guard lock(mutex);
                        ++acknowledgedReports;
                    }
                    continue;
                }
                const std::string body =
                    BuildFeedbackBody({"QQ", "1", "content " + id}, facts, {id, id}, "t");
                const auto reply = client.Post("/index.php?do=universal_opinion", body,
                                               "application/x-www-form-urlencoded");
                if (reply && reply->body == "200") {
                    const std::lock_guard lock(mutex);
                    acknowledgedFeedback.push_back("content " + id);
                }
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        {
            const std::lock_guard lock(mutex);
            if (acknowledgedFeedback.size() >= 300 && acknowledgedReports >= 50) break;
        }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(service->stop(SIGKILL), 128 + SIGKILL);
    stop = true;
    for (auto& writer : writers) writer.join();
    ASSERT_GE(acknowledgedFeedback.size(), 300u);

    {
        DbConnection db(data + "/service.db");
        DbStatement check(db, "PRAGMA integrity_check");
        ASSERT_EQ(check.step(), kSqliteRow);
        EXPECT_EQ(check.columnText(0), "ok");
    }
    const ProgramResult feedback =
        RunServiceCommand(folder.path(), {"--data", data, "feedback", "list", "--format", "tsv"});
    ASSERT_EQ(feedback.exitCode, 0) << feedback.err;
    std::set<std::string> listed;
    for (const auto& line : Lines(feedback.out)) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
        if (fields.size() == 10) listed.insert(fields[6]);
    }
    for (const auto& content : acknowledgedFeedback) EXPECT_TRUE(listed.count(content)) << content;
    const ProgramResult usage =
        RunServiceCommand(folder.path(), {"--data", data, "usage", "list", "--format", "tsv"});
    EXPECT_GE(static_cast<int>(Lines(usage.out).size()) - 1, acknowledgedReports);

    // The service comes back on the same folder and still knows its accounts.
    service = std::make_unique<ServiceProcess>(data, folder.path());
    ASSERT_TRUE(service->started()) << service->log();
    TempFolder client;
    SilentNotifier notifier;
    LoginSettings settings;
    settings.hosts.accountHost = service->host();
    settings.hosts.httpTimeoutSeconds = 10;
    settings.dataFolder = client.path();
    settings.databasePath = client.file("main_360.db");
    ASSERT_TRUE(PrepareDatabase(client.path(), client.path(), settings.databasePath, notifier));
    struct Quiet final : LoginListener {
        void status(const std::string&) override {}
        void message(const std::string&) override {}
    } quiet;
    LoginForm form;
    form.userName = "demo";
    form.password = "demo1234";
    EXPECT_EQ(RunLogin(settings, form, quiet).outcome, LoginOutcome::LoggedIn) << service->log();
}

TEST(ServiceProgram, CommandsManageAccountsAndListWhatCameIn) {
    TempFolder folder;
    const std::string data = folder.file("service");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;  // on stdout for success, stderr otherwise
    };
    const Case cases[] = {
        {{"--data", data, "account", "add", "张三", "secret-1", "--truename", "张三丰"},
         0,
         "added account 张三"},
        {{"account", "add", "张三", "secret-2", "--data=" + data}, 1, "exists already"},
        {{"--data", data, "account", "add", "li", "short"}, 1, "at least 6"},
        {{"--data", data, "account", "add", " li", "secret-3"}, 1, "blanks"},
        {{"--data", data, "account", "add", "li", "--", "-secret-4"}, 0, "added account li"},
        {{"--data", data, "account", "reset", "nobody", "secret-5"}, 1, "no account"},
        {{"--data", data, "account", "reset", "li", "secret-6"}, 0, "new password for li"},
        {{"--data", data, "account", "add", "wang"}, 2, "usage:"},
        {{"account", "list"}, 2, "--data"},
        {{"--data", data, "account", "list", "--format", "xml"}, 2, "unknown format"},
        {{"--data", data, "feedback", "list", "--bogus", "1"}, 2, "unknown option --bogus"},
        {{"--data", data, "serve", "--port", "70000"}, 2, "--port"},
        {{"--data", data, "serve"}, 2, "--port-file"},
        {{"--data", data, "feedback", "list"}, 0, "id  received"},
        {{"--data", data, "usage", "list", "--format", "tsv"}, 0, "id\tkind\treceived"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        const ProgramResult r = RunServiceCommand(folder.path(), args);
        std::string what;
        for (const auto& a : c.args) what += a + " ";
        EXPECT_EQ(r.exitCode, c.exitCode) << what << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(c.exitCode == 0 ? r.out : r.err, c.says)) << what << "\n" << r.out << r.err;
    }
    const ProgramResult list =
        RunServiceCommand(folder.path(), {"--data", data, "account", "list", "--format", "tsv"});
    const auto lines = Lines(list.out);
    ASSERT_EQ(lines.size(), 3u) << list.out;
    EXPECT_EQ(lines[0], "name\ttruename\tcomname\tscore\tjointime\tlevelname");
    EXPECT_EQ(lines[1].substr(0, lines[1].find('\t', 7)), "张三\t张三丰");

    // A lifetime ends the service by itself; a taken port keeps a second one from starting.
    const auto started = std::chrono::steady_clock::now();
    ServiceProcess shortLived(data, folder.path(), 2);
    ASSERT_TRUE(shortLived.started()) << shortLived.log();
    const std::string port = shortLived.host().substr(shortLived.host().find(':') + 1);
    const ProgramResult second =
        RunServiceCommand(folder.path(), {"serve", "--data", data, "--port", port});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(Has(second.err, "cannot listen")) << second.err;
    EXPECT_EQ(shortLived.waitForExit(10s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

}  // namespace
}  // namespace velquist::service
