#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "core/host_config.h"
#include "core/paths.h"
#include "core/user_notifier.h"

namespace velquist::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;

// Shows the system's messages on the command line. Texts are held until the command knows its
// outcome: then they go to stderr for a refusal, else to the info stream.
class CliNotifier final : public UserNotifier {
  public:
    using UserNotifier::showMessage;
    CliNotifier(std::ostream& info, std::ostream& error) : m_info(info), m_error(error) {}

    void showMessage(const std::string& text, const std::string& caption) override;
    // A command line has nobody to ask; confirmations are given by the command itself.
    bool askYesNo(const std::string&, const std::string&) override { return true; }

    // Writes the held texts out and forgets them.
    void flush(bool asErrors);
    const std::vector<std::string>& shown() const { return m_shown; }

  private:
    std::ostream& m_info;
    std::ostream& m_error;
    std::vector<std::string> m_pending;
    std::vector<std::string> m_shown;
};

// What every command gets: the folders, the hosts, the output form and the streams.
struct CliContext {
    AppPaths paths;
    HostConfig hosts;
    OutputFormat format = OutputFormat::Text;
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    CliNotifier* notifier = nullptr;

    // Creates the folders and brings the database up to date; false (message shown) when the
    // database cannot be opened.
    bool prepareDatabase();
    // Refuses with the system's message on stderr; returns the refusal exit code.
    int refuse(const std::string& message);
    // Information for the user: stdout in text form, stderr when stdout carries data.
    void inform(const std::string& message);
    // Writes the held system messages as the outcome says and returns `exitCode`.
    int finish(int exitCode);
};

// A command's arguments after its name, with the "--flag value" options taken out. A "--" ends
// the options: what follows it is plain text even when it starts with "-".
class Arguments {
  public:
    Arguments(std::vector<std::string> args);

    bool takeFlag(const std::string& name);
    // The value after `name`; nullopt when absent. `missingValue` is set when the flag stands
    // last without a value.
    std::optional<std::string> takeOption(const std::string& name, bool& missingValue);
    bool wantsHelp() const;
    // The arguments left, without the "--".
    const std::vector<std::string>& rest() const { return m_args; }
    // The first remaining argument that looks like an option, if any.
    std::optional<std::string> unknownOption() const;
    // The remaining arguments after the first, with the end of the options where it was.
    Arguments withoutFirst() const;

  private:
    Arguments() = default;
    using Iterator = std::vector<std::string>::iterator;
    Iterator optionsEnd() { return m_args.begin() + static_cast<std::ptrdiff_t>(m_optionCount); }

    std::vector<std::string> m_args;
    std::size_t m_optionCount = 0;  // m_args before this index may be options
};

// Names the first text that is not valid UTF-8 or holds a NUL byte, e.g. "line 3 is not valid
// UTF-8 text" for `what` "line"; nullopt when all are clean. Such text would be stored as it is
// and break every reader after it (JSON output among them).
std::optional<std::string> FindUnusableText(const std::vector<std::string>& texts,
                                            const std::string& what);

}  // namespace velquist::cli
