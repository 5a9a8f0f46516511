#include "cli/cli_context.h"

#include <algorithm>
#include <ostream>

#include "core/schema.h"

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

bool Arguments::takeFlag(const std::string& name) {
    const auto it = std::find(m_args.begin(), m_args.end(), name);
    if (it == m_args.end()) return false;
    m_args.erase(it);
    return true;
}

std::optional<std::string> Arguments::takeOption(const std::string& name, bool& missingValue) {
    const std::string prefix = name + "=";
    for (auto it = m_args.begin(); it != m_args.end(); ++it) {
        if (it->rfind(prefix, 0) == 0) {
            std::string value = it->substr(prefix.size());
            m_args.erase(it);
            return value;
        }
        if (*it == name) {
            if (it + 1 == m_args.end()) {
                missingValue = true;
                m_args.erase(it);
                return std::nullopt;
            }
            std::string value = *(it + 1);
            m_args.erase(it, it + 2);
            return value;
        }
    }
    return std::nullopt;
}

bool Arguments::wantsHelp() const {
    return std::any_of(m_args.begin(), m_args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

std::optional<std::string> Arguments::unknownOption() const {
    for (const auto& a : m_args)
        if (a.size() > 1 && a[0] == '-' && a != "-") return a;
    return std::nullopt;
}

}  // namespace velquist::cli
