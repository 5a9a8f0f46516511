#include "services/login.h"

#include <json/json.h>

#include <memory>
#include <stdexcept>

#include "core/text.h"
#include "engine/http_client.h"
#include "services/envelope.h"

namespace velquist {

namespace {

// An answer is a short enciphered JSON object; far more is no answer of the service.
constexpr std::size_t kLoginAnswerMaxBytes = 64 * 1024;

std::string AccountBase(const HostConfig& hosts) { return ServiceBaseUrl(hosts.accountHost); }

// At most `maxChars` UTF-8 characters.
std::string Utf8CharPrefix(const std::string& text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == maxChars) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

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

std::string StringMember(const Json::Value& object, const char* key, std::size_t maxBytes) {
    const Json::Value& value = object[key];
    return value.isString() ? Utf8Prefix(value.asString(), maxBytes) : std::string();
}

LoginResult Finish(LoginResult result, LoginListener& listener) {
    const std::string status = LoginStatusText(result.outcome);
    if (!status.empty()) listener.status(status);
    return result;
}

}  // namespace

std::string DuplicateLoginMessage(const std::string& userName) {
    return "您的账户【" + Utf8CharPrefix(userName, kUserNameMaxChars) +
           "】已经登录，请不要重复登录！";
}

std::string LoggedInWindowTitle(const std::string& userName) {
    return userName + "-Zanquil关键词排名查询软件（360版-永久免费）";
}

LoginForm FormForAccount(const std::optional<RememberedAccount>& account) {
    LoginForm form;
    form.rememberPassword = false;
    if (!account) return form;
    form.userName = account->name;
    form.storedHash = account->passwordHash;
    if (!account->passwordHash.empty()) {
        form.password = kStoredPasswordPlaceholder;
        form.rememberPassword = true;
    }
    form.autoLogin = account->autoLogin;
    return form;
}

std::string PasswordHashToSend(const std::string& password, const std::string& storedHash) {
    // With nothing remembered the placeholder is just what the user typed.
    if (password == kStoredPasswordPlaceholder && !storedHash.empty()) return storedHash;
    return Md5HexUpper(password);
}

LoginRequest BuildLoginRequest(const std::string& userName, const std::string& passwordHash,
                               const std::string& timeText) {
    Json::Value object(Json::objectValue);
    LoginRequest request;
    request.timeHash =
        BuildCredentialFields(object, UrlEncodeForm(userName), userName, passwordHash, timeText);
    request.body = "act=login&code=" + EncipherToHex(kLoginKey, WriteJson(object));
    return request;
}

std::string LoginUrl(const HostConfig& hosts) { return AccountBase(hosts) + "/clientlogin/"; }

std::string RegisterPageUrl(const HostConfig& hosts) {
    return AccountBase(hosts) + "/index.php?act=register&fromid=";
}

std::string LostPasswordPageUrl(const HostConfig& hosts) {
    return AccountBase(hosts) + "/index.php?act=lostpassword";
}

LoginAnswerCheck CheckLoginAnswer(const std::string& answer, const std::string& timeHash) {
    LoginAnswerCheck check;
    const std::string plaintext = DecipherFromHex(kLoginKey, answer).value_or(std::string());
    if (plaintext.find("servertime") == std::string::npos) {
        check.outcome = LoginOutcome::AnswerWithoutServerTime;
        return check;
    }
    if (plaintext.find("\"time\"") == std::string::npos) {
        check.outcome = LoginOutcome::AnswerWithoutTime;
        return check;
    }
    check.outcome = LoginOutcome::TimeMismatch;
    const std::optional<Json::Value> object = ParseObject(plaintext);
    if (!object || !(*object)["time"].isString()) return check;
    const auto answeredHash = DecipherFromHex(kAnswerCheckKey, (*object)["time"].asString());
    // An empty hash would match an empty "time": never a real request's.
    if (!answeredHash || timeHash.empty() || *answeredHash != timeHash) return check;
    check.outcome = LoginOutcome::LoggedIn;
    check.fields.trueName = StringMember(*object, "truename", 63);
    check.fields.companyName = StringMember(*object, "comname", 255);
    check.fields.score = StringMember(*object, "score", 9);
    check.fields.joinTime = StringMember(*object, "jointime", 19);
    check.fields.levelName = StringMember(*object, "levelname", 31);
    return check;
}

std::string LoginStatusText(LoginOutcome outcome) {
    switch (outcome) {
        case LoginOutcome::AlreadyLoggedIn:
            return kLoginStatusDuplicate;
        case LoginOutcome::NetworkFailure:
        case LoginOutcome::Refused:
            return kLoginStatusNetworkFailed;
        case LoginOutcome::AnswerWithoutServerTime:
            return kLoginStatusAnswerUnreadable;
        case LoginOutcome::AnswerWithoutTime:
        case LoginOutcome::TimeMismatch:
            return kLoginStatusRejected;
        case LoginOutcome::LoggedIn:
        case LoginOutcome::EmptyName:
        case LoginOutcome::EmptyPassword:
            break;
    }
    return {};
}

LoginResult RunLogin(const LoginSettings& settings, const LoginForm& form,
                     LoginListener& listener) {
    LoginResult result;
    if (form.userName.empty()) {
        listener.message(kLoginEmptyName);
        result.outcome = LoginOutcome::EmptyName;
        return result;
    }
    if (form.password.empty()) {
        listener.message(kLoginEmptyPassword);
        result.outcome = LoginOutcome::EmptyPassword;
        return result;
    }
    AccountLock lock = AccountLock::Acquire(settings.dataFolder, form.userName);
    if (lock.state() == AccountLock::State::HeldElsewhere) {
        result.outcome = LoginOutcome::AlreadyLoggedIn;
        result = Finish(std::move(result), listener);
        listener.message(DuplicateLoginMessage(form.userName));
        return result;
    }
    listener.status(kLoginStatusPressed);
    listener.status(kLoginStatusSending);

    result.account.userName = form.userName;
    result.account.passwordHash = PasswordHashToSend(form.password, form.storedHash);
    const LoginRequest request =
        BuildLoginRequest(form.userName, result.account.passwordHash, LocalTimeText());

    CHttpClient client;
    client.url = LoginUrl(settings.hosts);
    client.postData = request.body;
    client.referer.clear();
    client.connectTimeoutSeconds = settings.hosts.httpTimeoutSeconds;
    client.timeoutSeconds = settings.hosts.httpTimeoutSeconds;
    client.maxBodyBytes = kLoginAnswerMaxBytes;
    std::string answer;
    std::string headers;
    if (client.Perform(answer, headers) != 0) {
        result.outcome = LoginOutcome::NetworkFailure;
        return Finish(std::move(result), listener);
    }
    if (answer.find("err") != std::string::npos) {
        listener.message(kLoginWrongCredentials);
        result.outcome = LoginOutcome::Refused;
        return Finish(std::move(result), listener);
    }
    const LoginAnswerCheck check = CheckLoginAnswer(answer, request.timeHash);
    result.outcome = check.outcome;
    if (check.outcome != LoginOutcome::LoggedIn) return Finish(std::move(result), listener);

    result.account.fields = check.fields;
    result.account.autoLogin = form.autoLogin && form.rememberPassword;
    result.accountSaved = SaveLoggedInAccount(
        settings.databasePath, form.userName,
        form.rememberPassword ? result.account.passwordHash : std::string(), form.autoLogin);
    result.lock.emplace(std::move(lock));
    return result;
}

}  // namespace velquist
