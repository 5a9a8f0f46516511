#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/text.h"
#include "services/account_store.h"
#include "services/login.h"

namespace velquist::cli {

namespace {

constexpr const char* kLoginUsage =
    R"(usage: velquist login [--user NAME] [--password-stdin] [--remember] [--auto | --no-auto]

Logs in to the vendor's account service and remembers the account in the data folder.
Without --user: the remembered auto-login account, else the one used last.
  --password-stdin  read the password from the first line of stdin; without it the
                    remembered password of the account is sent
  --remember        remember the password (as its hash) for later logins
  --auto            log in with this account automatically (implies --remember)
  --no-auto         no longer log in with it automatically
Prints the account's fields on success, and the status text with exit 1 on failure. A second
copy of the program logged in with the same account refuses it ("重复登录").
Queries on the command line need no login.
)";

// Keeps the status texts; only the last one matters once the login has ended.
class CliLoginListener final : public LoginListener {
  public:
    explicit CliLoginListener(UserNotifier& notifier) : m_notifier(notifier) {}
    void status(const std::string& text) override { lastStatus = text; }
    void message(const std::string& text) override { m_notifier.showMessage(text); }

    std::string lastStatus;

  private:
    UserNotifier& m_notifier;
};

// Valid UTF-8 without NUL bytes, as everything stored and sent must be.
bool IsUsableText(const std::string& text) {
    return IsValidUtf8(text) && text.find('\0') == std::string::npos;
}

std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

}  // namespace

int RunLogin(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kLoginUsage;
        return kExitOk;
    }
    bool missing = false;
    const auto user = args.takeOption("--user", missing);
    const bool passwordFromStdin = args.takeFlag("--password-stdin");
    const bool remember = args.takeFlag("--remember");
    const bool autoOn = args.takeFlag("--auto");
    const bool autoOff = args.takeFlag("--no-auto");
    if (missing || args.unknownOption() || !args.rest().empty() || (autoOn && autoOff)) {
        *context.err << kLoginUsage;
        return kExitUsage;
    }
    if (user) {
        if (!IsUsableText(*user))
            return context.refuse("velquist: the user name is not UTF-8 text");
        if (CharacterCount(*user) > kUserNameMaxChars) {
            *context.err << "velquist: a user name has at most " << kUserNameMaxChars
                         << " characters\n";
            return kExitUsage;
        }
    }
    if (!context.prepareDatabase()) return kExitRefused;

    std::optional<RememberedAccount> remembered;
    if (user) {
        remembered = FindRememberedAccount(context.paths.databasePath, *user);
    } else if (auto accounts = LoadRememberedAccounts(context.paths.databasePath);
               !accounts.empty()) {
        remembered = std::move(accounts.front());
    }
    LoginForm form = FormForAccount(remembered);
    if (user) form.userName = *user;
    if (passwordFromStdin) {
        std::string line;
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!IsUsableText(line)) return context.refuse("velquist: the password is not UTF-8 text");
        // A typed password is itself, even when it looks like the placeholder.
        form.password = line;
        form.storedHash.clear();
        form.rememberPassword = false;
    }
    if (remember) form.rememberPassword = true;
    if (autoOn) form.autoLogin = form.rememberPassword = true;
    if (autoOff) form.autoLogin = false;

    LoginSettings settings;
    settings.hosts = context.hosts;
    settings.dataFolder = context.paths.dataFolder;
    settings.databasePath = context.paths.databasePath;
    CliLoginListener listener(*context.notifier);
    const LoginResult result = RunLogin(settings, form, listener);
    if (result.outcome != LoginOutcome::LoggedIn) {
        context.notifier->flush(true);
        if (!listener.lastStatus.empty()) *context.err << listener.lastStatus << '\n';
        return kExitRefused;
    }
    if (!result.accountSaved)
        *context.err << "velquist: the account could not be remembered in "
                     << context.paths.databasePath << '\n';
    const AccountFields& fields = result.account.fields;
    PrintTable(*context.out,
               Table{{"accname", "truename", "comname", "score", "jointime", "levelname"},
                     {{result.account.userName, fields.trueName, fields.companyName, fields.score,
                       fields.joinTime, fields.levelName}}},
               context.format);
    return kExitOk;
}

}  // namespace velquist::cli
