#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <string>
#include <vector>

#include "engine/address_elements.h"
#include "engine/natural_scan.h"
#include "engine/paid_scan.h"

namespace velquist {
namespace {

// A result page holding the given organic cite elements and ad blocks.
std::string Page(const std::vector<std::string>& organic, const std::vector<std::string>& top = {},
                 const std::vector<std::string>& bottom = {},
                 const std::vector<std::string>& right = {}) {
    std::string page = "<html><body><div id=\"m-spread-left\">";
    if (!top.empty()) {
        page += "<ul id=\"e_idea_pp\">";
        for (const auto& ad : top) page += "<li><a>ad</a><cite>" + ad + "</cite></li>";
        page += "</ul>";
    }
    page += "<ul class=\"result\">";
    for (const auto& cite : organic) page += "<li class=\"res-list\"><h3>t</h3>" + cite + "</li>\n";
    page += "</ul><ul id=\"e_idea_pp_vip_bottom\">";
    for (const auto& ad : bottom) page += "<li><cite>" + ad + "</cite></li>";
    page +=
        "</ul><a id=\"snext\" href=\"s?q=x&pn=2\">下一页</a><div id=\"side\"><div "
        "id=\"rightbox\"><ul>";
    for (const auto& ad : right) page += "<li><cite>" + ad + "</cite></li>";
    page += "</ul></div></div></div></body></html>";
    return page;
}

std::string Cite(const std::string& address) { return "<cite>" + address + "</cite>"; }

STRUCT_SITE Site(const std::string& url) {
    STRUCT_SITE site;
    site.url = url;
    site.selected = 1;
    return site;
}

TEST(ParseNaturalPage, AddressFormsAndHighlighting) {
    struct Case {
        const char* name;
        std::string site;
        std::vector<std::string> cites;
        int expectedResult;
        int expectedRank;
    };
    const std::vector<std::string> filler = {Cite("www.one.com/a"), Cite("two.net/b")};
    const Case cases[] = {
        {"bare domain found behind www.",
         "abc.com",
         {Cite("www.one.com"), Cite("www.abc.com/x")},
         1,
         2},
        {"bare domain found in capitals", "abc.com", {Cite("WWW.ABC.COM/Y")}, 1, 1},
        {"http://www site looked for as .domain/path",
         "http://www.abc.com/shop",
         {Cite("abc.com/shop"), Cite("www.abc.com/shop/1")},
         1,
         2},
        {"attributes on the cite element",
         "abc.com",
         {"<cite class=\"x\" data-a=\"1\">www.abc.com</cite>"},
         1,
         1},
        {"text before <b> is dropped",
         "www.abc.com",
         {"<cite>www.<b>abc</b>.com</cite>", Cite("www.abc.com")},
         1,
         2},
        {"highlighted address: the text from <b> on counts",
         "abc.com",
         {"<cite>www.<b>abc.com</b>/p</cite>"},
         1,
         1},
        {"highlight splitting the address hides it from the block test",
         "abc.com",
         {"<cite>www.<b>abc</b>.com/p</cite>"},
         0,
         10},
        {"site only outside cites: counted elements, not found",
         "abc.com",
         {"<p>abc.com</p>" + Cite("www.one.com"), Cite("two.net")},
         0,
         2},
    };
    for (const auto& c : cases) {
        auto site = Site(c.site);
        EXPECT_EQ(ParseNaturalPage(Page(c.cites), 3, site), c.expectedResult) << c.name;
        EXPECT_EQ(site.rankNum, c.expectedRank) << c.name;
        EXPECT_EQ(site.found, c.expectedResult == 1) << c.name;
        if (c.expectedResult == 1)
            EXPECT_EQ(site.rankText, "第" + std::to_string(c.expectedRank) + "名，第3页") << c.name;
        else
            EXPECT_EQ(site.rankText, "") << c.name;
    }
}

TEST(ParseNaturalPage, AbsentSiteCountsTenAndEmptyAddressIsDone) {
    std::vector<std::string> many;
    for (int i = 0; i < 13; ++i) many.push_back(Cite("www.other" + std::to_string(i) + ".com"));
    auto absent = Site("abc.com");
    absent.rankNum = 4;
    EXPECT_EQ(ParseNaturalPage(Page(many), 1, absent), 0);
    EXPECT_EQ(absent.rankNum, 14);  // ten, whatever the number of results

    auto empty = Site("");
    EXPECT_EQ(ParseNaturalPage(Page(many), 1, empty), -1);
    EXPECT_EQ(empty.rankNum, 0);
    EXPECT_EQ(empty.rankText, "");

    // Found on the next page after an absent one: 10 + position.
    auto later = Site("abc.com");
    later.rankNum = 10;
    EXPECT_EQ(ParseNaturalPage(Page({Cite("a.cn"), Cite("b.cn"), Cite("c.cn"), Cite("abc.com")}), 2,
                               later),
              1);
    EXPECT_EQ(later.rankText, "第14名，第2页");
}

TEST(ParseNaturalPage, DamagedPagesDoNotCrash) {
    const std::string organicStart = "<div id=\"m-spread-left\"><ul class=\"result\">";
    std::string junk(10 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 131) % 256);
    const std::string pages[] = {
        "",
        "<html>no organic block at all</html>",
        organicStart + "<li><cite>www.abc.com/x</ci",  // truncated inside a cite
        organicStart + "<cite>unterminated abc.com",
        organicStart + junk + "abc.com",
        junk,
    };
    for (const auto& page : pages) {
        auto site = Site("abc.com");
        const int result = ParseNaturalPage(page, 1, site);
        EXPECT_EQ(result, 0);
        EXPECT_FALSE(site.found);
    }
}

// Pages a broken or hostile server may send: each must give a plain "not found" in time that
// grows with the page, and never an exception (a regex over them backtracks until it gives up).
TEST(ParseNaturalPage, HostileOrganicBlocksStayLinear) {
    const std::string organicStart = "<div id=\"m-spread-left\"><ul class=\"result\">";
    std::string script;
    while (script.size() < 40 * 1024) script += "if (a > b) { x = y > z ? 1 : 2; }\n";
    std::string unclosed;
    while (unclosed.size() < 10 * 1024 * 1024) unclosed += "<cite";
    const struct {
        const char* name;
        std::string page;
        int rankNum;
    } cases[] = {
        {"unclosed cite before 40 KB of script",
         organicStart + Cite("a.cn") + "<cite class=\"x\">b.cn" + script, 1},
        {"closing tag in upper case",
         organicStart + Cite("a.cn") + "<cite>b.cn</CITE>" + script + "</cite", 1},
    };
    for (const auto& c : cases) {
        auto present = Site("b.cn");
        EXPECT_EQ(ParseNaturalPage(c.page, 1, present), 0) << c.name;
        EXPECT_EQ(present.rankNum, c.rankNum) << c.name;  // only the complete elements count
    }
    // The address is in the block, but no element ever closes: nothing to count.
    auto site = Site("abc.com");
    EXPECT_EQ(ParseNaturalPage(organicStart + unclosed + "abc.com", 1, site), 0);
    EXPECT_EQ(site.rankNum, 0);
}

TEST(ParsePaidPage, ThousandsOfUnclosedAdAddresses) {
    std::string unclosed;
    while (unclosed.size() < 200 * 1024) unclosed += "<cite>ad.cn ";
    const std::string page = "<div id=\"m-spread-left\"><ul id=\"e_idea_pp\">" + unclosed +
                             "<ul class=\"result\"></ul><div id=\"side\"><div id=\"rightbox\">"
                             "<ul><li><cite>abc.com</cite></li></ul>";
    auto site = Site("abc.com");
    ParsePaidPage(page, site);
    EXPECT_EQ(site.rankText, "右1");
    EXPECT_EQ(site.rankNum, 51);
}

// The plain search finds exactly the elements the address patterns match, on pages with
// attributes, line breaks, stray ">" and unclosed elements between complete ones.
TEST(AddressElements, SameElementsAsThePatterns) {
    const std::string pages[] = {
        "",
        "<cite>a.cn</cite>",
        "<cite class=\"res-url\">www.<b>a.cn</b>/x</cite> text <cite>b.cn</cite>",
        "<cite\nclass=x>a\n.cn</cite><cite>unclosed <cite>c.cn</cite>",
        "<cite a=\"1>2\">x</cite>>> <cite>>y</cite>",
        "<cite>a</cite><citeX>b</cite><cite >c</cite></cite>",
        "<cite</cite>",
        "<cite><cite>nested</cite></cite>",
        "<cite>tail without end",
        "<CITE>upper</CITE><cite>lower</cite>",
    };
    const boost::regex organic("<cite(.*?)>(.*?)</cite>", boost::regex::perl);
    const boost::regex bare("<cite>(.*?)</cite>", boost::regex::perl);
    for (const auto& page : pages) {
        for (const auto form :
             {AddressElements::Form::WithAttributes, AddressElements::Form::Bare}) {
            std::vector<std::string> expected;
            const auto& pattern = form == AddressElements::Form::Bare ? bare : organic;
            for (boost::sregex_iterator it(page.begin(), page.end(), pattern), end; it != end; ++it)
                expected.push_back(it->str(0));
            std::vector<std::string> found;
            AddressElements elements(page, form);
            while (const auto element = elements.next()) found.emplace_back(*element);
            EXPECT_EQ(found, expected) << page;
        }
    }
}

TEST(ParsePaidPage, SlotsAndColumns) {
    struct Case {
        const char* name;
        std::string site;
        std::string page;
        std::string rankText;
        int rankNum;
    };
    const std::vector<std::string> threeTop = {"one.com", "two.com", "three.com"};
    const Case cases[] = {
        {"second right ad", "abc.com", Page({}, {"x.com"}, {}, {"y.com", "www.abc.com"}), "右2",
         52},
        {"first bottom ad after three top", "abc.com", Page({}, threeTop, {"abc.com"}, {}), "左4",
         4},
        {"both columns: left wins", "abc.com", Page({}, {"abc.com"}, {}, {"abc.com"}), "左1", 1},
        {"top block absent: bottom only", "abc.com", Page({}, {}, {"q.com", "abc.com"}, {}), "左2",
         2},
        {"http://www with path uses the host, patternB matches a bare domain",
         "http://www.abc.com/landing", Page({}, {"abc.com/zz"}, {}, {}), "左1", 1},
        {"spaces inside a left address do not matter", "abc.com", Page({}, {"a bc . com"}, {}, {}),
         "左1", 1},
        {"spaces inside a right address do", "abc.com", Page({}, {}, {}, {"a bc.com"}), "", 101},
        {"not in any slot: 100 + right count", "abc.com",
         Page({}, {"a.com"}, {}, {"b.com", "c.com"}), "", 102},
        {"no advertisement at all", "abc.com", Page({Cite("abc.com")}), "", 0},
        {"empty address", "", Page({}, {"abc.com"}), "", 0},
    };
    for (const auto& c : cases) {
        auto site = Site(c.site);
        ParsePaidPage(c.page, site);
        EXPECT_EQ(site.rankText, c.rankText) << c.name;
        EXPECT_EQ(site.rankNum, c.rankNum) << c.name;
        EXPECT_FALSE(site.found) << c.name;
    }
}

TEST(MatchAdBlock, PatternsFromTheAddress) {
    // patternA drops "www" (".abc.com"), patternB turns "www." into ">" (">abc.com").
    auto site = Site("www.abc.com/x/y");
    EXPECT_TRUE(MatchAdBlock(site, "<cite>abc.com</cite>", "左"));
    EXPECT_EQ(site.rankText, "左1");
    auto other = Site("www.abc.com");
    EXPECT_FALSE(MatchAdBlock(other, "<cite>xabc.com</cite><cite>q</cite>", "右"));
    EXPECT_EQ(other.rankNum, 102);
}

}  // namespace
}  // namespace velquist
