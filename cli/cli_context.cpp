#include "cli/cli_context.h"

#include <algorithm>
#include <ostream>

#include "core/schema.h"
#include "core/text.h"

namespace velquist::cli {

void CliNotifier::showMessage(const std::string& text, const std::string&) {
    m_shown.push_back(text);
    m_pending.push_back(text);
}

void CliNotifier::flush(bool asErrors) {
    for (const auto& text : m_pending) (asErrors ? m_error : m_info) << text << '\n';
    m_pending.clear();
}

bool CliContext::prepareDatabase() {
    const bool ok =
        PrepareDatabase(paths.dataFolder, paths.databaseFolder, paths.databasePath, *notifier);
    notifier->flush(!ok);
    return ok;
}

int CliContext::finish(int exitCode) {
    notifier->flush(exitCode != kExitOk);
    return exitCode;
}

int CliContext::refuse(const std::string& message) {
    notifier->flush(true);
    *err << message << '\n';
    return kExitRefused;
}

void CliContext::inform(const std::string& message) {
    (format == OutputFormat::Text ? *out : *err) << message << '\n';
}

Arguments::Arguments(std::vector<std::string> args) : m_args(std::move(args)) {
    const auto end = std::find(m_args.begin(), m_args.end(), "--");
    m_optionCount = static_cast<std::size_t>(end - m_args.begin());
    if (end != m_args.end()) m_args.erase(end);
}

bool Arguments::takeFlag(const std::string& name) {
    const auto it = std::find(m_args.begin(), optionsEnd(), name);
    if (it == optionsEnd()) return false;
    m_args.erase(it);
    --m_optionCount;
    return true;
}

std::optional<std::string> Arguments::takeOption(const std::string& name, bool& missingValue) {
    const std::string prefix = name + "=";
    for (auto it = m_args.begin(); it != optionsEnd(); ++it) {
        if (it->rfind(prefix, 0) == 0) {
            std::string value = it->substr(prefix.size());
            m_args.erase(it);
            --m_optionCount;
            return value;
        }
        if (*it == name) {
            if (it + 1 == optionsEnd()) {
                missingValue = true;
                m_args.erase(it);
                --m_optionCount;
                return std::nullopt;
            }
            std::string value = *(it + 1);
            m_args.erase(it, it + 2);
            m_optionCount -= 2;
            return value;
        }
    }
    return std::nullopt;
}

bool Arguments::wantsHelp() const {
    return std::any_of(m_args.begin(), m_args.begin() + static_cast<std::ptrdiff_t>(m_optionCount),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

std::optional<std::string> Arguments::unknownOption() const {
    for (std::size_t i = 0; i < m_optionCount; ++i) {
        const std::string& a = m_args[i];
        if (a.size() > 1 && a[0] == '-' && a != "-") return a;
    }
    return std::nullopt;
}

Arguments Arguments::withoutFirst() const {
    Arguments tail;
    if (m_args.empty()) return tail;
    tail.m_args.assign(m_args.begin() + 1, m_args.end());
    tail.m_optionCount = m_optionCount > 0 ? m_optionCount - 1 : 0;
    return tail;
}

std::optional<std::string> FindUnusableText(const std::vector<std::string>& texts,
                                            const std::string& what) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string number = what + " " + std::to_string(i + 1);
        if (!IsValidUtf8(texts[i])) return number + " is not valid UTF-8 text";
        if (texts[i].find('\0') != std::string::npos) return number + " holds a NUL byte";
    }
    return std::nullopt;
}

}  // namespace velquist::cli
