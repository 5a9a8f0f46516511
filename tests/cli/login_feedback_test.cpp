#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "../server/service_process.h"
#include "cli_test_support.h"
#include "closed_port.h"

namespace velquist {
namespace {

using testing::CliResult;
using testing::CliRunner;
using testing::Has;
using testing::RunServiceCommand;
using testing::ServiceProcess;
using testing::TempFolder;

// The service answers a login only once per account and time text (a second): a second login
// of the same account waits for the next second.
void WaitForNextSecond() {
    const std::time_t now = std::time(nullptr);
    while (std::time(nullptr) == now) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// The real service with the accounts "demo" and "second", and a command line pointed at it.
class LoginFeedbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_data = m_folder.file("service");
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"--data", m_data, "account", "add", "demo", "demo1234", "--truename", "演示"},
                 {"--data", m_data, "account", "add", "second", "second-pw"}})
            ASSERT_EQ(RunServiceCommand(m_folder.path(), args).exitCode, 0);
        m_service = std::make_unique<ServiceProcess>(m_data, m_folder.path());
        ASSERT_TRUE(m_service->started()) << m_service->log();
        pointAt(m_service->host());
    }

    void pointAt(const std::string& host) {
        m_cli.environment = {{"VELQUIST_ACCOUNT_HOST", host},
                             {"VELQUIST_STATISTICS_HOST", host},
                             {"VELQUIST_REPORT_HOST", host},
                             {"VELQUIST_HTTP_TIMEOUT", "10"}};
    }

    TempFolder m_folder;
    std::string m_data;
    std::unique_ptr<ServiceProcess> m_service;
    CliRunner m_cli;
};

TEST_F(LoginFeedbackTest, LoginRemembersTheAccountAndLogsInWithItAgain) {
    CliResult r =
        m_cli.run({"login", "--user", "demo", "--password-stdin", "--remember"}, "demo1234\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << m_service->log();
    EXPECT_TRUE(Has(r.out, "accname")) << r.out;
    EXPECT_TRUE(Has(r.out, "演示")) << r.out;

    WaitForNextSecond();
    r = m_cli.run({"--format", "tsv", "login"});  // the remembered account and password
    ASSERT_EQ(r.exitCode, 0) << r.err << m_service->log();
    const std::string heading = "accname\ttruename\tcomname\tscore\tjointime\tlevelname\n";
    ASSERT_EQ(r.out.substr(0, heading.size()), heading);
    const std::string row = "demo\t演示\t\t0\t";
    EXPECT_EQ(r.out.substr(heading.size(), row.size()), row);

    r = m_cli.run({"login", "--user", "demo", "--password-stdin"}, "not-it\n");
    EXPECT_EQ(r.exitCode, 1);
    const auto message = r.err.find("登录失败，请检查您的用户名和密码是否正确!");
    const auto status = r.err.find("登录失败，请检查网络!");
    EXPECT_NE(message, std::string::npos) << r.err;
    EXPECT_NE(status, std::string::npos) << r.err;
    EXPECT_LT(message, status) << r.err;

    // An auto-login account comes before the latest one.
    r = m_cli.run({"login", "--user", "second", "--password-stdin", "--auto"}, "second-pw\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    WaitForNextSecond();
    r = m_cli.run({"login", "--user", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    WaitForNextSecond();
    r = m_cli.run({"--format", "tsv", "login"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\nsecond\t")) << r.out;
}

TEST_F(LoginFeedbackTest, FailedLoginsPrintTheirTexts) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        bool serviceDown;
        int exitCode;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {{"login"}, "", false, 1, {"用户名不能为空!"}},
        {{"login", "--user", "demo"}, "", false, 1, {"密码不能为空!"}},
        {{"login", "--user", "demo", "--password-stdin"}, "", false, 1, {"密码不能为空!"}},
        {{"login", "--user", "demo", "--password-stdin"},
         "demo1234\n",
         true,
         1,
         {"登录失败，请检查网络!"}},
        {{"login", "--user", "demo", "--auto", "--no-auto"}, "", false, 2, {"usage:"}},
        {{"login", "--user", std::string(128, 'n')}, "", false, 2, {"127"}},
        {{"login", "--user", "bad\xFF"}, "", false, 1, {"UTF-8"}},
    };
    for (const Case& c : cases) {
        CliRunner cli;
        cli.environment = m_cli.environment;
        if (c.serviceDown)
            cli.environment[0].second = "127.0.0.1:" + std::to_string(testing::ClosedPort());
        const CliResult r = cli.run(c.args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back() << "\n" << r.err;
        for (const auto& text : c.says)
            EXPECT_TRUE(Has(r.err, text)) << c.args.back() << "\n" << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST_F(LoginFeedbackTest, FeedbackReachesTheService) {
    CliResult r = m_cli.run(
        {"feedback", "--contact-type", "MSN", "--contact", "me", "--content", "查询很慢"});
    ASSERT_EQ(r.exitCode, 0) << r.err << m_service->log();
    EXPECT_TRUE(Has(r.out, "提交成功，感谢您对Zanquil查排名的支持")) << r.out;
    r = m_cli.run({"feedback", "--contact", "13800000000", "--content", "-"}, "第一行\n第二行\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << m_service->log();

    const auto listed = RunServiceCommand(
        m_folder.path(), {"--data", m_data, "feedback", "list", "--format", "tsv"});
    EXPECT_TRUE(Has(listed.out, "\tMSN：me\t查询很慢\t")) << listed.out;
    EXPECT_TRUE(Has(listed.out, "\tQQ：13800000000\t第一行\\n第二行\t")) << listed.out;

    struct Case {
        std::vector<std::string> args;
        bool serviceDown;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{"feedback", "--contact", "", "--content",
          "请详细描述您的问题现象，以便我们快速解决问题！"},
         false,
         1,
         "请填写您的问题或建议！"},
        {{"feedback", "--contact", " ", "--content", "慢"}, false, 1, "请填写您的联系方式！"},
        {{"feedback", "--contact-type", "ICQ", "--contact", "1", "--content", "慢"},
         false,
         2,
         "unknown contact type"},
        {{"feedback", "--contact", "1", "--content", "慢"}, true, 1, "网络错误，请重试!"},
    };
    for (const Case& c : cases) {
        CliRunner cli;
        cli.environment = m_cli.environment;
        if (c.serviceDown)
            cli.environment[1].second = "127.0.0.1:" + std::to_string(testing::ClosedPort());
        r = cli.run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.says << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.says)) << c.says << "\n" << r.err;
    }
}

}  // namespace
}  // namespace velquist
