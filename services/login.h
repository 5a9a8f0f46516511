#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "core/host_config.h"
#include "services/account_lock.h"
#include "services/account_store.h"

namespace velquist {

// Status texts of the login form, in the order a login shows them.
inline constexpr const char* kLoginStatusWaiting = "等待登录";
inline constexpr const char* kLoginStatusPressed = "正在登录......";
inline constexpr const char* kLoginStatusSending = "正在登录...";
inline constexpr const char* kLoginStatusNetworkFailed = "登录失败，请检查网络!";
inline constexpr const char* kLoginStatusAnswerUnreadable = "登录失败，请检查网络是否正常";
inline constexpr const char* kLoginStatusRejected = "登录失败!";
inline constexpr const char* kLoginStatusDuplicate = "重复登录";

// Messages of the login (caption "提示").
inline constexpr const char* kLoginEmptyName = "用户名不能为空!";
inline constexpr const char* kLoginEmptyPassword = "密码不能为空!";
inline constexpr const char* kLoginWrongCredentials = "登录失败，请检查您的用户名和密码是否正确!";
inline constexpr const char* kLoginBusyOnClose = "正在登录中，请勿关闭!";

// What the password box shows for a remembered password hash.
inline constexpr const char* kStoredPasswordPlaceholder = "******";
// The user-name box holds at most this many characters.
inline constexpr std::size_t kUserNameMaxChars = 127;

// "您的账户【NAME】已经登录，请不要重复登录！", the name cut to 127 characters.
std::string DuplicateLoginMessage(const std::string& userName);
// The main window's title once NAME has logged in.
std::string LoggedInWindowTitle(const std::string& userName);

// What a successful answer tells about the account, each cut to its limit in bytes (never
// inside a UTF-8 character): true name 63, company 255, score 9, join time 19, level 31.
struct AccountFields {
    std::string trueName;
    std::string companyName;
    std::string score;
    std::string joinTime;
    std::string levelName;
};

// The logged-in (or last tried) account of the process.
struct CurrentAccount {
    std::string userName;
    std::string passwordHash;
    bool autoLogin = false;
    AccountFields fields;
};

// What the login form holds when the login button is pressed.
struct LoginForm {
    std::string userName;
    // The typed password, or kStoredPasswordPlaceholder standing for `storedHash`.
    std::string password;
    // The remembered hash of the account in the name box; "" when there is none.
    std::string storedHash;
    bool rememberPassword = true;
    bool autoLogin = false;
};

// The form as it shows a remembered account: its name, the placeholder and a checked remember
// box when its hash is remembered, its auto-login choice. An empty form without an account.
LoginForm FormForAccount(const std::optional<RememberedAccount>& account);

enum class LoginOutcome {
    LoggedIn,
    EmptyName,
    EmptyPassword,
    AlreadyLoggedIn,          // another copy is logged in with this account
    NetworkFailure,           // the request did not complete
    Refused,                  // the service answered "err"
    AnswerWithoutServerTime,  // the answer does not decipher to what the service sends
    AnswerWithoutTime,
    TimeMismatch,  // the answer was not made for this request
};

// Told what a login shows, on the thread that runs it, in order. A dialog re-posts to its own
// thread; the command line prints.
class LoginListener {
  public:
    virtual ~LoginListener() = default;
    virtual void status(const std::string& text) = 0;
    // A message box text (caption "提示").
    virtual void message(const std::string& text) = 0;
};

struct LoginSettings {
    HostConfig hosts;
    std::string dataFolder;    // where the per-account lock files are
    std::string databasePath;  // table ZQLaccount
};

struct LoginResult {
    LoginOutcome outcome = LoginOutcome::NetworkFailure;
    // The name and hash that were sent; on success also the choices saved and the fields.
    CurrentAccount account;
    // On success: held while the account counts as logged in by this copy.
    std::optional<AccountLock> lock;
    // On success: whether ZQLaccount took the row (a failure there does not fail the login).
    bool accountSaved = false;
};

// The login button and what follows it: the form checks, the duplicate-login check, the
// request, every check of the answer, and on success the ZQLaccount row. Blocks for the request;
// run it on a worker thread, never on a GUI thread. Any thread; nothing is shared.
LoginResult RunLogin(const LoginSettings& settings, const LoginForm& form, LoginListener& listener);

// The hash to send: the remembered one when the box shows the placeholder for it, else the MD5
// of the typed text.
std::string PasswordHashToSend(const std::string& password, const std::string& storedHash);

struct LoginRequest {
    std::string body;      // "act=login&code=HEX"
    std::string timeHash;  // what the answer's "time" must decipher to
};

LoginRequest BuildLoginRequest(const std::string& userName, const std::string& passwordHash,
                               const std::string& timeText);

// Account service base + "/clientlogin/".
std::string LoginUrl(const HostConfig& hosts);
// The account web site's pages: "index.php?act=register&fromid=" and
// "index.php?act=lostpassword".
std::string RegisterPageUrl(const HostConfig& hosts);
std::string LostPasswordPageUrl(const HostConfig& hosts);

struct LoginAnswerCheck {
    LoginOutcome outcome = LoginOutcome::AnswerWithoutServerTime;
    AccountFields fields;  // on LoggedIn
};

// The checks of an answer that did not contain "err", in order: it deciphers to text holding
// "servertime", then the quoted key "time", whose value deciphers (answer-check key) to
// `timeHash`.
LoginAnswerCheck CheckLoginAnswer(const std::string& answer, const std::string& timeHash);

// The status text a finished login leaves; "" for outcomes that leave the status alone.
std::string LoginStatusText(LoginOutcome outcome);

}  // namespace velquist
