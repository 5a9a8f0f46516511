#include "services/envelope.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "core/paths.h"
#include "core/text.h"

namespace velquist {
namespace {

using namespace std::string_literals;

// Expected cipher texts were produced separately with the openssl command line tool
// (des-ecb, -nopad, zero bytes appended by hand), so they check both the cipher and the padding.
TEST(EncipherToHex, KnownAnswers) {
    struct Case {
        std::string key;
        std::string plaintext;
        const char* expected;
    };
    const Case cases[] = {
        {std::string(kLoginKey), "0123456789ABCDEF", "73B54CCB7FB386C292041A115BE20EED"},
        // The classic DES textbook vector, with a binary key.
        {"\x13\x34\x57\x79\x9B\xBC\xDF\xF1", "\x01\x23\x45\x67\x89\xAB\xCD\xEF",
         "85E813540F0AB405"},
        // 9 bytes of UTF-8, zero padded to 16.
        {std::string(kLoginKey), "中文ABC", "B744907800C29DC74636FCC615F25604"},
        // A report body: the JSON text with its newline, under the 8-byte prefix of the key.
        {std::string(kReportKey), "{\"appid\":\"13\"}\n", "B37AAB071E9858FE11CC23D79701B7BA"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncipherToHex(c.key, c.plaintext), c.expected) << c.plaintext;
    }
}

TEST(EncipherToHex, PaddedLengthIsNextMultipleOfEight) {
    struct Case {
        std::size_t plaintextBytes;
        std::size_t hexDigits;
    };
    const Case cases[] = {{0, 0}, {1, 16}, {7, 16}, {8, 16}, {16, 32}, {17, 48}};
    for (const auto& c : cases) {
        const std::string hex = EncipherToHex(kLoginKey, std::string(c.plaintextBytes, 'q'));
        EXPECT_EQ(hex.size(), c.hexDigits) << c.plaintextBytes << " bytes";
        EXPECT_TRUE(std::all_of(hex.begin(), hex.end(), [](char ch) {
            return std::isdigit(static_cast<unsigned char>(ch)) || (ch >= 'A' && ch <= 'F');
        })) << hex;
    }
}

TEST(EncipherToHex, PaddingIsZeroBytesAndBlocksAreIndependent) {
    EXPECT_EQ(EncipherToHex(kLoginKey, "abc"), EncipherToHex(kLoginKey, "abc\0\0\0\0\0"s));
    // ECB: equal plaintext blocks give equal cipher blocks.
    const std::string hex = EncipherToHex(kLoginKey, "sameblk!sameblk!x");
    ASSERT_EQ(hex.size(), 48u);
    EXPECT_EQ(hex.substr(0, 16), hex.substr(16, 16));
    EXPECT_NE(hex.substr(0, 16), hex.substr(32, 16));
}

TEST(EncipherToHex, OnlyTheFirstEightKeyBytesCountAndParityBitsAreIgnored) {
    const std::string plaintext = "{\"appid\":\"13\",\"os\":\"Linux 64\"}\n";
    const std::string withReportKey = EncipherToHex(kReportKey, plaintext);
    EXPECT_EQ(withReportKey, EncipherToHex("m#4t!q)w", plaintext));
    EXPECT_EQ(withReportKey, EncipherToHex("m#4t!q)wZZZ", plaintext));
    // Flipping the lowest bit of every key byte touches only DES parity bits.
    std::string parityFlipped(kLoginKey);
    for (char& ch : parityFlipped) {
        ch = static_cast<char>(ch ^ 1);
    }
    EXPECT_EQ(EncipherToHex(parityFlipped, plaintext), EncipherToHex(kLoginKey, plaintext));
    EXPECT_NE(EncipherToHex(kAnswerCheckKey, plaintext), EncipherToHex(kLoginKey, plaintext));
}

TEST(DecipherFromHex, GivesBackWhatWasEnciphered) {
    const std::string plaintexts[] = {
        "",
        "a",
        "exactly8",
        "sixteen bytes!!!",
        "seventeen bytes!!",
        "用户名：张三，公司：某某网络科技有限公司",
        "{\"appversion\":\"1.0.2.2\",\"username\":\"%E5%BC%A0\"}\n",
    };
    for (const std::string_view key : {kLoginKey, kAnswerCheckKey, kReportKey}) {
        for (const auto& plaintext : plaintexts) {
            const auto deciphered = DecipherFromHex(key, EncipherToHex(key, plaintext));
            ASSERT_TRUE(deciphered.has_value()) << plaintext;
            EXPECT_EQ(*deciphered, plaintext);
        }
    }
}

TEST(DecipherFromHex, EachBlockIsCutAtItsFirstZeroByte) {
    // Blocks "ab\0cdefg" and "hij" + padding.
    const auto deciphered = DecipherFromHex(kLoginKey, EncipherToHex(kLoginKey, "ab\0cdefghij"s));
    ASSERT_TRUE(deciphered.has_value());
    EXPECT_EQ(*deciphered, "abhij");
}

TEST(DecipherFromHex, LowercaseDigitsDoNotDecodeToTheirValue) {
    const std::string plaintext = "0123456789ABCDEF";
    std::string hex = EncipherToHex(kLoginKey, plaintext);
    ASSERT_TRUE(std::any_of(hex.begin(), hex.end(), [](char ch) { return ch >= 'A'; }));
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](char ch) { return static_cast<char>(std::tolower(ch)); });
    const auto deciphered = DecipherFromHex(kLoginKey, hex);
    ASSERT_TRUE(deciphered.has_value());
    EXPECT_NE(*deciphered, plaintext);
}

TEST(DecipherFromHex, RejectsTextThatIsNotWholeBlocks) {
    const std::string valid = EncipherToHex(kLoginKey, "0123456789ABCDEF");
    const std::string invalid[] = {
        "A",
        valid.substr(0, 31),  // odd length
        valid.substr(0, 14),  // 7 bytes
        valid.substr(0, 18),  // 9 bytes
        valid + "00",         // 17 bytes
        "404",
    };
    for (const auto& hex : invalid) {
        EXPECT_EQ(DecipherFromHex(kLoginKey, hex), std::nullopt) << hex;
    }
    EXPECT_EQ(DecipherFromHex(kLoginKey, ""), std::optional<std::string>(""));
}

TEST(DecipherFromHex, ReadsOnlyTheGivenView) {
    // A view over the first block of a longer text must not pick up the second block.
    const std::string hex = EncipherToHex(kLoginKey, "firstblkSECONDBK");
    const auto deciphered = DecipherFromHex(kLoginKey, std::string_view(hex).substr(0, 16));
    ASSERT_TRUE(deciphered.has_value());
    EXPECT_EQ(*deciphered, "firstblk");
}

TEST(Md5HexUpper, Rfc1321Vectors) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Md5HexUpper(c.input), c.expected) << c.input;
    }
}

TEST(WriteJson, CompactSortedByKeyBytesWithOneTrailingNewline) {
    Json::Value object(Json::objectValue);
    object["username"] = "张三";
    object["b"] = "x";
    object["B"] = "y";
    object["appversion"] = "1.0.2.2";
    object["ab"] = "";
    object["中"] = "k";
    EXPECT_EQ(WriteJson(object),
              "{\"B\":\"y\",\"ab\":\"\",\"appversion\":\"1.0.2.2\",\"b\":\"x\","
              "\"username\":\"张三\",\"中\":\"k\"}\n");
}

TEST(WriteJson, EscapesOnlyQuoteBackslashAndControlCharacters) {
    Json::Value object(Json::objectValue);
    object["t"] = "q\"b\\n\nr\rt\tb\bf\f\x01/é\x7f";
    EXPECT_EQ(WriteJson(object), "{\"t\":\"q\\\"b\\\\n\\nr\\rt\\tb\\bf\\f\\u0001/é\x7f\"}\n");
    EXPECT_EQ(WriteJson(Json::Value(Json::objectValue)), "{}\n");
}

TEST(UrlEncodeForm, EnvelopeCharacters) { EXPECT_EQ(UrlEncodeForm("a b|~"), "a+b%7C%7E"); }

// Expected hashes computed separately with md5sum (and cross-checked with Python's hashlib):
//   MD5("2015-03-01 08:05:09")                                   = 3B365A3D...B52A
//   MD5("secret")                                                = 5EBE2294...EE69
//   MD5("张三 x41_5EBE...EE6963_3B36...B52AKW")                   = D652D1E6...3C3F
//   MD5("AABBCCDDEEFF|11223344556641_63_3B36...B52AKW")          = F4F498E5...D699
TEST(BuildCredentialFields, SignsWithTheFirstFieldPasswordAndTimeHash) {
    constexpr const char* kTimeText = "2015-03-01 08:05:09";
    constexpr const char* kTimeHash = "3B365A3D581F1AC2ECD5A86757B1B52A";
    struct Case {
        const char* what;
        std::string nameField;
        std::string signatureFirstField;
        std::string passwordField;
        const char* expectedSignature;
    };
    const Case cases[] = {
        {"login", UrlEncodeForm("张三 x"), "张三 x", "5EBE2294ECD0E0F08EAB7690D2A6EE69",
         "D652D1E606EA43F3FE62BCCAD57F3C3F"},
        {"feedback", UrlEncodeForm("AABBCCDDEEFF|112233445566"), "AABBCCDDEEFF|112233445566", "",
         "F4F498E59109F51478E19B4F11BCD699"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Json::Value object(Json::objectValue);
        object["appid"] = "13";
        const std::string timeHash = BuildCredentialFields(
            object, c.nameField, c.signatureFirstField, c.passwordField, kTimeText);
        EXPECT_EQ(timeHash, kTimeHash);
        EXPECT_EQ(object["username"].asString(), c.nameField);
        EXPECT_EQ(object["password"].asString(), c.expectedSignature);
        EXPECT_EQ(object["time"].asString(), kTimeHash);
        EXPECT_EQ(object["appversion"].asString(), kVersionText);
        EXPECT_EQ(object["appid"].asString(), "13");
        EXPECT_EQ(object.size(), 5u);
    }
}

TEST(BuildCredentialFields, UsesTheCurrentLocalTime) {
    Json::Value object;
    const std::string before = LocalTimeText();
    const std::string timeHash = BuildCredentialFields(object, "n", "n", "p");
    const std::string after = LocalTimeText();
    EXPECT_TRUE(timeHash == Md5HexUpper(before) || timeHash == Md5HexUpper(after)) << timeHash;
    EXPECT_EQ(object["time"].asString(), timeHash);
    EXPECT_EQ(object["password"].asString(), Md5HexUpper(SignatureText("n", "p", timeHash)));
}

TEST(SignatureText, JoinsWithTheFixedInfixesAndSuffix) {
    EXPECT_EQ(SignatureText("a", "b", "c"), "a41_b63_cKW");
    EXPECT_EQ(SignatureText("", "", ""), "41_63_KW");
}

}  // namespace
}  // namespace velquist
