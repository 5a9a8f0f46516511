#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velquist {

// Text handling around a transfer, kept apart from libcurl so it can be checked on its own.

// One line of libcurl's cookie list as the jar keeps it: only a leading "#HttpOnly_" marker is
// taken off, so a cookie whose value happens to contain it stays whole.
std::string_view CookieJarLine(std::string_view line);

// The caller's cookie lines, one per "\n"; empty lines are skipped.
std::vector<std::string> SplitCookieLines(std::string_view lines);

// With redirects followed, `headers` holds every response's block in turn; the caller wants
// only the final one, without the blank line that closes it.
void KeepFinalHeaderBlock(std::string& headers);

}  // namespace velquist
