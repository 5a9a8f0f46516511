#include "records/text_decoding.h"

#include <fmt/format.h>
#include <iconv.h>

#include <cerrno>
#include <memory>

#include "core/text.h"

namespace velquist {

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

DecodedText DecodeUtf16(std::string_view bytes, bool bigEndian) {
    DecodedText result;
    if (bytes.size() % 2 != 0) {
        result.reason = "the UTF-16 text ends in the middle of a character";
        return result;
    }
    auto unitAt = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    result.utf8.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const char16_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 2 < bytes.size()) {
            const char16_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(result.utf8, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            result.utf8.clear();
            result.reason = fmt::format("byte {} holds a broken UTF-16 character", i + 2);
            return result;
        }
        AppendUtf8(result.utf8, unit);
    }
    return result;
}

struct IconvCloser {
    void operator()(void* cd) const noexcept { iconv_close(static_cast<iconv_t>(cd)); }
};

DecodedText DecodeGb18030(std::string_view bytes) {
    DecodedText result;
    const iconv_t opened = iconv_open("UTF-8", "GB18030");
    if (opened == reinterpret_cast<iconv_t>(-1)) {
        result.reason = "this system cannot convert GB18030 text";
        return result;
    }
    const std::unique_ptr<void, IconvCloser> cd(opened);
    // Two GB18030 bytes become at most three UTF-8 bytes, four at most four.
    result.utf8.resize(bytes.size() + bytes.size() / 2 + 16);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t written = 0;
    while (inLeft > 0) {
        char* out = result.utf8.data() + written;
        std::size_t outLeft = result.utf8.size() - written;
        const std::size_t rc = iconv(static_cast<iconv_t>(cd.get()), &in, &inLeft, &out, &outLeft);
        written = result.utf8.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            result.utf8.resize(result.utf8.size() * 2);
            continue;
        }
        const std::size_t at = bytes.size() - inLeft + 1;
        result.utf8.clear();
        result.reason = errno == EINVAL ? "the text ends in the middle of a character"
                                        : fmt::format("byte {} is neither UTF-8 nor GB18030", at);
        return result;
    }
    result.utf8.resize(written);
    return result;
}

// Length of the white space the text starts with, or 0.
std::size_t LeadingSpace(std::string_view t) {
    if (t.empty()) return 0;
    if (t[0] == ' ' || (t[0] >= '\t' && t[0] <= '\r')) return 1;
    for (std::string_view mark : {"\xC2\xA0", "\xE3\x80\x80", "\xEF\xBB\xBF"})
        if (t.starts_with(mark)) return mark.size();
    return 0;
}

std::size_t TrailingSpace(std::string_view t) {
    if (t.empty()) return 0;
    const char last = t.back();
    if (last == ' ' || (last >= '\t' && last <= '\r')) return 1;
    for (std::string_view mark : {"\xC2\xA0", "\xE3\x80\x80", "\xEF\xBB\xBF"})
        if (t.ends_with(mark)) return mark.size();
    return 0;
}

std::string_view Trimmed(std::string_view t) {
    while (const std::size_t n = LeadingSpace(t)) t.remove_prefix(n);
    while (const std::size_t n = TrailingSpace(t)) t.remove_suffix(n);
    return t;
}

}  // namespace

TextEncoding DetectTextEncoding(std::string_view firstBytes) {
    if (firstBytes.starts_with("\xEF\xBB\xBF")) return TextEncoding::Utf8Bom;
    if (firstBytes.starts_with("\xFF\xFE")) return TextEncoding::Utf16Le;
    if (firstBytes.starts_with("\xFE\xFF")) return TextEncoding::Utf16Be;
    return TextEncoding::Narrow;
}

DecodedText DecodeTextFile(std::string bytes) {
    switch (DetectTextEncoding(bytes)) {
        case TextEncoding::Utf8Bom: {
            bytes.erase(0, 3);
            if (!IsValidUtf8(bytes)) return {{}, "the file is marked as UTF-8 but is not UTF-8"};
            return {std::move(bytes), {}};
        }
        case TextEncoding::Utf16Le:
            return DecodeUtf16(std::string_view(bytes).substr(2), false);
        case TextEncoding::Utf16Be:
            return DecodeUtf16(std::string_view(bytes).substr(2), true);
        case TextEncoding::Narrow:
            break;
    }
    if (IsValidUtf8(bytes)) return {std::move(bytes), {}};
    return DecodeGb18030(bytes);
}

std::string ImportedText(std::string_view utf8, std::size_t maxChars) {
    std::string_view text = Trimmed(utf8);
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == maxChars) {
            text = Trimmed(text.substr(0, i));
            break;
        }
    }
    return std::string(text);
}

}  // namespace velquist
