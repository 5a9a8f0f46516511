#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Json {
class Value;
}

namespace velquist {

// The fixed key strings of the service envelope. DES takes the first 8 bytes of each, so the
// report key's ninth character plays no part.
inline constexpr std::string_view kLoginKey = "x7&^p;d4";
inline constexpr std::string_view kAnswerCheckKey = "j(5=b*e9";
inline constexpr std::string_view kReportKey = "m#4t!q)w2";

// DES-ECB under the first 8 bytes of `key` (parity bits ignored; a shorter key is filled with
// zero bytes), plaintext zero-padded to a multiple of 8 (no extra block when it already is one),
// written as uppercase hex, two digits per byte. Empty plaintext gives "".
std::string EncipherToHex(std::string_view key, std::string_view plaintext);

// The reverse of EncipherToHex. Each pair of characters is one byte, a character up to '9'
// counting as its digit value and any other as (code - 55): only digits and uppercase A-F
// decode to what they denote, as the services write them. Each deciphered 8-byte block is kept
// up to its first zero byte. nullopt when the text is not cipher text at all: an odd number of
// characters, or a byte count that is not a multiple of 8.
std::optional<std::string> DecipherFromHex(std::string_view key, std::string_view hex);

// MD5 digest as 32 uppercase hex digits; "" only if the crypto library cannot provide MD5.
std::string Md5HexUpper(std::string_view bytes);

// The reverse of form encoding, for what the services receive: "+" is a space and "%XX" (hex
// digits of either case) one byte; every other byte stands for itself. nullopt when a "%" is
// not followed by two hex digits.
std::optional<std::string> UrlDecodeForm(std::string_view text);

// Compact JSON: no white space, object members in ascending byte order of their keys, the JSON
// escapes for quote, backslash and control characters, every other byte unchanged, followed by
// exactly one "\n" (the newline is part of what gets enciphered).
std::string WriteJson(const Json::Value& value);

// The text a request signature is the MD5 of: first + "41_" + second + "63_" + third + "KW".
std::string SignatureText(std::string_view first, std::string_view second, std::string_view third);

// Adds "username" = nameField, "password" = MD5 of SignatureText(signatureFirstField,
// passwordField, time hash), "time" = time hash and "appversion" = kVersionText to `object`
// (an object, or null which becomes one), where the time hash is the MD5 of `timeText`.
// Returns the time hash.
std::string BuildCredentialFields(Json::Value& object, std::string_view nameField,
                                  std::string_view signatureFirstField,
                                  std::string_view passwordField, std::string_view timeText);

// As above with the current local time ("%Y-%m-%d %H:%M:%S").
std::string BuildCredentialFields(Json::Value& object, std::string_view nameField,
                                  std::string_view signatureFirstField,
                                  std::string_view passwordField);

}  // namespace velquist
