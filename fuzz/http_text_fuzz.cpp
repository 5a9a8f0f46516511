// Cookie lines and response header blocks, both of which come from the network or from a jar
// file a server filled.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/http_text.h"
#include "fuzz_check.h"

namespace {

constexpr std::string_view kHttpOnly = "#HttpOnly_";
constexpr std::string_view kBlockEnd = "\r\n\r\n";

bool IsSubstringOf(std::string_view part, std::string_view whole) {
    return whole.find(part) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velquist;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Only one leading marker goes; the rest of the line stays as it is.
    const std::string_view line = CookieJarLine(input);
    if (input.starts_with(kHttpOnly))
        FUZZ_CHECK(line == input.substr(kHttpOnly.size()));
    else
        FUZZ_CHECK(line == input);

    // Every byte but the line breaks ends up in exactly one non-empty piece, in order.
    const auto pieces = SplitCookieLines(input);
    std::string joined;
    for (const auto& piece : pieces) {
        FUZZ_CHECK(!piece.empty());
        FUZZ_CHECK(piece.find('\n') == std::string::npos);
        joined += piece;
    }
    std::string withoutBreaks(input);
    std::erase(withoutBreaks, '\n');
    FUZZ_CHECK(joined == withoutBreaks);

    // What is kept is one block: a piece of the input holding no block end of its own; after a
    // well-formed series of blocks it is the last block without its closing blank line.
    std::string headers(input);
    KeepFinalHeaderBlock(headers);
    FUZZ_CHECK(headers.size() <= input.size());
    FUZZ_CHECK(IsSubstringOf(headers, input));
    if (input.size() >= kBlockEnd.size()) FUZZ_CHECK(!IsSubstringOf(kBlockEnd, headers));
    if (input.ends_with(kBlockEnd)) {
        const std::string_view body = input.substr(0, input.size() - kBlockEnd.size());
        FUZZ_CHECK(body.ends_with(headers));
        const std::size_t start = body.size() - headers.size();
        FUZZ_CHECK(start == 0 || body.substr(0, start).ends_with(kBlockEnd));
    }
    return 0;
}
