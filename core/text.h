#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velquist {

// Text after the first `start` up to the first following `end`. An empty marker gives the whole
// text; a missing `start` gives ""; a missing `end` gives everything after `start`.
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);

// Replaces every occurrence left to right, continuing after each inserted replacement.
std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with);

// ASCII letters fold, every other byte compares exactly; an empty pattern never occurs.
bool FindNoCase(std::string_view text, std::string_view pattern);

// Form encoding: space to "+", [A-Za-z0-9-._] kept, every other byte "%XX" (uppercase hex).
std::string UrlEncodeForm(std::string_view bytes);

// Removes ASCII white space (space, tab, CR, LF, VT, FF) at both ends.
std::string TrimWhitespace(std::string_view text);

// Rank texts ("第14名，第2页", "左4") are kept to this many bytes.
inline constexpr std::size_t kRankTextMaxBytes = 31;

// The longest prefix of at most `maxBytes` bytes that does not split a UTF-8 character.
std::string Utf8Prefix(std::string_view text, std::size_t maxBytes);

// Decimal text to int as the C runtime's atoi does: leading blanks, an optional sign, digits;
// anything else stops the number, no digits give 0. Saturates instead of overflowing.
int DecimalToInt(std::string_view text);

// Current local time as "%Y-%m-%d %H:%M:%S".
std::string LocalTimeText();
// A time (seconds since 1970) as local "%Y-%m-%d %H:%M:%S"; "" for a time that has no such form.
std::string FormatLocalTime(std::int64_t time);

// Columns a terminal gives the text: CJK and other wide characters take two.
std::size_t DisplayWidth(const std::string& utf8);

// True when every byte sequence is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace velquist
