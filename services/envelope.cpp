#include "services/envelope.h"

#include <json/value.h>
#include <json/writer.h>
#include <openssl/des.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/paths.h"
#include "core/text.h"

namespace velquist {
namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kBlockSize = 8;

// The low-level DES routines need no provider and cannot fail, so enciphering stays a plain
// function of its inputs; the key schedule is a plain struct with nothing to release.
DES_key_schedule KeySchedule(std::string_view key) {
    DES_cblock keyBytes{};
    std::memcpy(keyBytes, key.data(), std::min(key.size(), sizeof keyBytes));
    DES_key_schedule schedule;
    // Unchecked: the key strings are text, and DES simply ignores the parity bits.
    DES_set_key_unchecked(&keyBytes, &schedule);
    return schedule;
}

void AppendUpperHex(std::string& out, unsigned char byte) {
    out.push_back(kUpperHexDigits[byte >> 4]);
    out.push_back(kUpperHexDigits[byte & 0x0F]);
}

// The services write digits and uppercase A-F; anything else maps by the same rule and simply
// yields bytes that do not decipher to meaningful text.
int HexDigitValue(char ch) {
    const auto code = static_cast<unsigned char>(ch);
    return code <= '9' ? code - '0' : code - 55;
}

struct MdContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextDeleter>;

}  // namespace

std::string EncipherToHex(std::string_view key, std::string_view plaintext) {
    DES_key_schedule schedule = KeySchedule(key);
    std::string hex;
    hex.reserve((plaintext.size() + kBlockSize - 1) / kBlockSize * kBlockSize * 2);
    for (std::size_t offset = 0; offset < plaintext.size(); offset += kBlockSize) {
        DES_cblock input{};  // zero padding for the last, short block
        std::memcpy(input, plaintext.data() + offset,
                    std::min(kBlockSize, plaintext.size() - offset));
        DES_cblock output;
        DES_ecb_encrypt(&input, &output, &schedule, DES_ENCRYPT);
        for (const unsigned char byte : output) {
            AppendUpperHex(hex, byte);
        }
    }
    return hex;
}

std::optional<std::string> DecipherFromHex(std::string_view key, std::string_view hex) {
    if (hex.size() % 2 != 0 || (hex.size() / 2) % kBlockSize != 0) {
        return std::nullopt;
    }
    DES_key_schedule schedule = KeySchedule(key);
    std::string plaintext;
    plaintext.reserve(hex.size() / 2);
    for (std::size_t offset = 0; offset < hex.size(); offset += kBlockSize * 2) {
        DES_cblock input;
        for (std::size_t i = 0; i < kBlockSize; ++i) {
            const int value =
                HexDigitValue(hex[offset + 2 * i]) * 16 + HexDigitValue(hex[offset + 2 * i + 1]);
            input[i] = static_cast<unsigned char>(value);
        }
        DES_cblock output;
        DES_ecb_encrypt(&input, &output, &schedule, DES_DECRYPT);
        // The zero padding goes; a zero inside a block cuts the rest of that block too.
        const auto* begin = reinterpret_cast<const char*>(output);
        const auto* zero = std::find(begin, begin + kBlockSize, '\0');
        plaintext.append(begin, zero);
    }
    return plaintext;
}

std::string Md5HexUpper(std::string_view bytes) {
    const MdContext context(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &digestLength) != 1) {
        return {};
    }
    std::string hex;
    hex.reserve(digestLength * 2);
    for (unsigned int i = 0; i < digestLength; ++i) {
        AppendUpperHex(hex, digest[i]);
    }
    return hex;
}

std::optional<std::string> UrlDecodeForm(std::string_view text) {
    const auto digit = [](char ch) -> int {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        return -1;
    };
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded.push_back(' ');
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = digit(text[i + 1]);
            const int low = digit(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            decoded.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

std::string WriteJson(const Json::Value& value) {
    // The stream writer with no indentation is the compact form that also leaves UTF-8 bytes
    // as they are; the older fast writer turns them into \u escapes.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["emitUTF8"] = true;
    std::string text = Json::writeString(builder, value);
    text.push_back('\n');
    return text;
}

std::string SignatureText(std::string_view first, std::string_view second, std::string_view third) {
    std::string text;
    text.reserve(first.size() + second.size() + third.size() + 8);
    text.append(first).append("41_").append(second).append("63_").append(third).append("KW");
    return text;
}

std::string BuildCredentialFields(Json::Value& object, std::string_view nameField,
                                  std::string_view signatureFirstField,
                                  std::string_view passwordField, std::string_view timeText) {
    std::string timeHash = Md5HexUpper(timeText);
    const std::string signature =
        Md5HexUpper(SignatureText(signatureFirstField, passwordField, timeHash));
    object["username"] = std::string(nameField);
    object["password"] = signature;
    object["time"] = timeHash;
    object["appversion"] = kVersionText;
    return timeHash;
}

std::string BuildCredentialFields(Json::Value& object, std::string_view nameField,
                                  std::string_view signatureFirstField,
                                  std::string_view passwordField) {
    return BuildCredentialFields(object, nameField, signatureFirstField, passwordField,
                                 LocalTimeText());
}

}  // namespace velquist
