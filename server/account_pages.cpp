#include "server/account_pages.h"

#include "core/text.h"
#include "services/envelope.h"

namespace velquist::service {

namespace {

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>" + title +
           " - Zanquil</title><style>body{font-family:sans-serif;max-width:36em;margin:2em auto;}"
           "label{display:block;margin:.6em 0 .2em}input{width:100%;padding:.3em}"
           ".problem{color:#b00}</style></head><body><h1>" +
           title + "</h1>\n" + body + "\n</body></html>\n";
}

std::string Field(const FormFields& form, const std::string& name) {
    const auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

// True for optional profile text the account can carry: valid UTF-8, no control characters,
// at most `maxChars` characters (what the client keeps of it always fits).
bool FitsProfile(const std::string& text, std::size_t maxChars) {
    if (!IsValidUtf8(text) || CharacterCount(text) > maxChars) return false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

std::string NameProblemText(AccountTextProblem problem) {
    switch (problem) {
        case AccountTextProblem::Empty:
            return "请填写用户名。";
        case AccountTextProblem::TooLong:
            return "用户名最多 64 个字。";
        case AccountTextProblem::EdgeBlanks:
            return "用户名的开头和结尾不能是空格。";
        case AccountTextProblem::NotText:
        case AccountTextProblem::TooShort:
            return "用户名含有不能使用的字符。";
        case AccountTextProblem::None:
            break;
    }
    return {};
}

std::string PasswordProblemText(AccountTextProblem problem) {
    switch (problem) {
        case AccountTextProblem::Empty:
            return "请填写密码。";
        case AccountTextProblem::TooShort:
            return "密码至少 6 个字符。";
        case AccountTextProblem::TooLong:
            return "密码最多 64 个字符。";
        case AccountTextProblem::NotText:
        case AccountTextProblem::EdgeBlanks:
            return "密码含有不能使用的字符。";
        case AccountTextProblem::None:
            break;
    }
    return {};
}

}  // namespace

FormFields ParseFormFields(std::string_view text) {
    FormFields fields;
    while (!text.empty()) {
        const auto amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        const auto name = UrlDecodeForm(pair.substr(0, eq));
        const auto value =
            UrlDecodeForm(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
        if (name && value) fields.emplace(*name, *value);
    }
    return fields;
}

std::string HtmlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped.push_back(c);
        }
    }
    return escaped;
}

std::string HomePage() {
    return Page("Zanquil 账户",
                "<p><a href=\"index.php?act=register\">注册新账户</a></p>"
                "<p><a href=\"index.php?act=lostpassword\">忘记密码？</a></p>");
}

std::string NotFoundPage() {
    return Page("页面不存在", "<p>没有这个页面。<a href=\"index.php\">返回首页</a></p>");
}

std::string LostPasswordPage() {
    return Page("找回密码",
                "<p>为了账户安全，密码不能在网上找回，也没有人能查看您原来的密码。</p>"
                "<ol><li>请联系 Zanquil 客服，告诉我们您的用户名和注册时填写的真实姓名。</li>"
                "<li>核实身份后，客服会为您设置一个新密码"
                "（服务管理员执行 <code>velquist-service --data 数据目录 account reset 用户名 "
                "新密码</code>）"
                "，并告诉您。</li>"
                "<li>回到 Zanquil查排名 的登录窗口，输入用户名和新密码登录。如果勾选了“记住密码”，"
                "请先在密码框中重新输入新密码。</li></ol>"
                "<p><a href=\"index.php?act=register\">还没有账户？注册一个</a></p>");
}

std::string RegisterPage(const FormFields& entered, const std::string& problem) {
    std::string body;
    if (!problem.empty()) body += "<p class=\"problem\">" + HtmlEscape(problem) + "</p>";
    body +=
        "<form method=\"post\" action=\"index.php?act=register\" accept-charset=\"utf-8\">"
        "<label for=\"accname\">用户名（最多 64 个字）</label>"
        "<input id=\"accname\" name=\"accname\" maxlength=\"64\" required value=\"" +
        HtmlEscape(Field(entered, "accname")) +
        "\"><label for=\"password\">密码（6 到 64 个字符）</label>"
        "<input id=\"password\" name=\"password\" type=\"password\" minlength=\"6\" "
        "maxlength=\"64\" required>"
        "<label for=\"password2\">再次输入密码</label>"
        "<input id=\"password2\" name=\"password2\" type=\"password\" required>"
        "<label for=\"truename\">真实姓名（可不填）</label>"
        "<input id=\"truename\" name=\"truename\" maxlength=\"20\" value=\"" +
        HtmlEscape(Field(entered, "truename")) +
        "\"><label for=\"comname\">公司名称（可不填）</label>"
        "<input id=\"comname\" name=\"comname\" maxlength=\"80\" value=\"" +
        HtmlEscape(Field(entered, "comname")) +
        "\"><p><button type=\"submit\">注册</button></p></form>"
        "<p><a href=\"index.php?act=lostpassword\">忘记密码？</a></p>";
    return Page("用户注册", body);
}

Registration Register(ServiceStore& store, const FormFields& form) {
    const std::string name = Field(form, "accname");
    const std::string password = Field(form, "password");
    const std::string trueName = TrimWhitespace(Field(form, "truename"));
    const std::string companyName = TrimWhitespace(Field(form, "comname"));
    std::string problem = NameProblemText(CheckAccountName(name));
    if (problem.empty()) problem = PasswordProblemText(CheckPassword(password));
    if (problem.empty() && password != Field(form, "password2")) problem = "两次输入的密码不一致。";
    if (problem.empty() && !FitsProfile(trueName, 20)) problem = "真实姓名最多 20 个字。";
    if (problem.empty() && !FitsProfile(companyName, 80)) problem = "公司名称最多 80 个字。";
    if (problem.empty()) {
        AccountProfile profile;
        profile.trueName = trueName;
        profile.companyName = companyName;
        switch (store.addAccount(name, password, profile)) {
            case ServiceStore::Write::Done:
                return {true, Page("注册成功", "<p>账户【" + HtmlEscape(name) +
                                                   "】已注册。请回到 Zanquil查排名 的登录窗口，"
                                                   "用这个用户名和密码登录。</p>")};
            case ServiceStore::Write::Exists:
                problem = "用户名【" + name + "】已被注册，请换一个。";
                break;
            default:
                problem = "注册暂时无法完成，请稍后再试。";
        }
    }
    return {false, RegisterPage(form, problem)};
}

}  // namespace velquist::service
