#include "core/text.h"

#include <gtest/gtest.h>

namespace velquist {
namespace {

TEST(TextBetween, MarkerRules) {
    struct Case {
        const char* text;
        const char* start;
        const char* end;
        const char* expected;
    };
    const Case cases[] = {
        {"a<b>c</b>d", "<b>", "</b>", "c"},
        {"a<b>c</b>d", "", "</b>", "a<b>c</b>d"},  // empty marker: whole text
        {"a<b>c</b>d", "<b>", "", "a<b>c</b>d"},
        {"abc", "<x>", "</x>", ""},                // start missing
        {"a<b>cd", "<b>", "</b>", "cd"},           // end missing: the rest
        {"<b>1</b><b>2</b>", "<b>", "</b>", "1"},  // first occurrence
        {"xEyS1ES2E", "S", "E", "1"},              // end searched after start
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextBetween(c.text, c.start, c.end), c.expected) << c.text;
}

TEST(ReplaceAll, ContinuesAfterReplacement) {
    EXPECT_EQ(ReplaceAll("http://www.abc.com", "http://", ""), "www.abc.com");
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");  // no re-scan of inserted text
    EXPECT_EQ(ReplaceAll("wwwww", "www", ""), "ww");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(FindNoCase, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(FindNoCase("WWW.ABC.COM/x", "abc.com"));
    EXPECT_TRUE(FindNoCase("abc", "ABC"));
    EXPECT_FALSE(FindNoCase("abc", ""));
    EXPECT_FALSE(FindNoCase("ab", "abc"));
    EXPECT_FALSE(FindNoCase("[", "{"));  // '[' and '{' differ by 0x20 but are not letters
    EXPECT_TRUE(FindNoCase("第14名", "14名"));
}

TEST(UrlEncodeForm, FormRules) {
    EXPECT_EQ(UrlEncodeForm("a b|~"), "a+b%7C%7E");
    EXPECT_EQ(UrlEncodeForm("Az09-._*"), "Az09-._%2A");
    EXPECT_EQ(UrlEncodeForm("鲜花"), "%E9%B2%9C%E8%8A%B1");
}

TEST(Utf8Prefix, NeverSplitsACharacter) {
    const std::string text = "ab鲜花";  // 2 + 3 + 3 bytes
    EXPECT_EQ(Utf8Prefix(text, 8), text);
    EXPECT_EQ(Utf8Prefix(text, 7), "ab鲜");
    EXPECT_EQ(Utf8Prefix(text, 5), "ab鲜");
    EXPECT_EQ(Utf8Prefix(text, 4), "ab");
    EXPECT_EQ(Utf8Prefix("😀x", 3), "");
    EXPECT_TRUE(IsValidUtf8(Utf8Prefix(text, 6)));
}

TEST(DecimalToInt, BehavesLikeAtoi) {
    const std::pair<const char*, int> cases[] = {
        {"5", 5},    {" 10", 10}, {"abc", 0},
        {"7abc", 7}, {"-3", -3},  {"", 0},
        {"+4", 4},   {"0", 0},    {"99999999999", 2147483647},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(DecimalToInt(text), value) << text;
}

TEST(TrimWhitespace, BothEnds) {
    EXPECT_EQ(TrimWhitespace(" \t a b \r\n"), "a b");
    EXPECT_EQ(TrimWhitespace("   "), "");
}

TEST(LocalTimeText, Format) {
    const std::string t = LocalTimeText();
    ASSERT_EQ(t.size(), 19u);
    EXPECT_EQ(t[4], '-');
    EXPECT_EQ(t[10], ' ');
    EXPECT_EQ(t[13], ':');
}

}  // namespace
}  // namespace velquist
