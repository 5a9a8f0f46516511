#pragma once

// Text of keyword files: the encodings people save keyword lists in, and the shape every imported
// keyword, plan and unit text is brought to. Pure functions, safe on any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velquist {

enum class TextEncoding {
    Utf8Bom,  // EF BB BF
    Utf16Le,  // FF FE
    Utf16Be,  // FE FF
    Narrow,   // no mark: UTF-8 when the bytes are valid UTF-8, else the Chinese code page
};

// The encoding the first bytes of a file announce.
TextEncoding DetectTextEncoding(std::string_view firstBytes);

struct DecodedText {
    std::string utf8;    // without the byte-order mark
    std::string reason;  // empty when decoded; else why the bytes are not text
};

// The whole file as UTF-8. Marked UTF-16 is read as UTF-16 (an unpaired surrogate or an odd
// byte count fails); unmarked bytes are UTF-8 when valid, otherwise GB18030.
DecodedText DecodeTextFile(std::string bytes);

// Imported keywords, plans and units keep at most this many characters.
inline constexpr std::size_t kImportTextMaxChars = 63;

// Trims white space (ASCII, no-break, ideographic space, stray byte-order marks) at both ends,
// keeps at most `maxChars` characters and trims the end again. Expects valid UTF-8.
std::string ImportedText(std::string_view utf8, std::size_t maxChars = kImportTextMaxChars);

}  // namespace velquist
