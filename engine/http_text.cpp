#include "engine/http_text.h"

namespace velquist {

namespace {
constexpr std::string_view kHttpOnlyMarker = "#HttpOnly_";
constexpr std::string_view kHeaderBlockEnd = "\r\n\r\n";
}  // namespace

std::string_view CookieJarLine(std::string_view line) {
    if (line.starts_with(kHttpOnlyMarker)) line.remove_prefix(kHttpOnlyMarker.size());
    return line;
}

std::vector<std::string> SplitCookieLines(std::string_view lines) {
    std::vector<std::string> pieces;
    while (!lines.empty()) {
        const auto end = lines.find('\n');
        if (end != 0) pieces.emplace_back(lines.substr(0, end));
        if (end == std::string_view::npos) break;
        lines.remove_prefix(end + 1);
    }
    return pieces;
}

void KeepFinalHeaderBlock(std::string& headers) {
    if (headers.size() < kHeaderBlockEnd.size()) return;
    headers.resize(headers.size() - kHeaderBlockEnd.size());
    const auto lastBreak = headers.rfind(kHeaderBlockEnd);
    if (lastBreak != std::string::npos) headers.erase(0, lastBreak + kHeaderBlockEnd.size());
}

}  // namespace velquist
