#include "tools/search_standin/search_standin.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"

namespace velquist::standin {
namespace {

using namespace std::chrono_literals;

// The markers a result-page reader cuts the page with.
constexpr const char* kPageMarker = "id=\"m-spread-left\"";
constexpr const char* kVerifyMarker = "id=\"verifyform\"";
constexpr const char* kOrganicStart = "<ul class=\"result\">";
constexpr const char* kOrganicEnd = "<ul id=\"e_idea_pp_vip_bottom\"";
constexpr const char* kTopStart = "<ul id=\"e_idea_pp\"";
constexpr const char* kBottomEnd = "<div id=\"side\">";
constexpr const char* kRightStart = "id=\"rightbox\"";
constexpr const char* kNextStart = "id=\"snext\" href=\"";

const std::string kWorldPath = std::string(VELQUIST_TEST_DATA) + "/standin/test_world.json";

std::vector<std::string> CiteTexts(std::string_view block) {
    std::vector<std::string> texts;
    std::size_t at = 0;
    while ((at = block.find("<cite", at)) != std::string_view::npos) {
        const std::size_t open = block.find('>', at);
        const std::size_t close = block.find("</cite>", open);
        if (open == std::string_view::npos || close == std::string_view::npos) {
            break;
        }
        texts.emplace_back(block.substr(open + 1, close - open - 1));
        at = close;
    }
    return texts;
}

std::size_t Occurrences(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

std::string OrganicBlock(const std::string& page) {
    return TextBetween(page, kOrganicStart, kOrganicEnd);
}

// Whether a reader looking for `site` accepts this displayed address: "http://" and "www" are
// dropped from the site, and a highlighted address counts from its first <b>.
bool ReaderAccepts(const std::string& cite, const std::string& site) {
    const std::string pattern = ReplaceAll(ReplaceAll(site, "http://", ""), "www", "");
    std::string text = cite;
    if (text.find("<b>") != std::string::npos && text.find("</b>") != std::string::npos) {
        text =
            TrimWhitespace(ReplaceAll(TextBetween(text + "</cite>", "<b>", "</cite>"), "</b>", ""));
    }
    return FindNoCase(text, pattern);
}

// ---------------------------------------------------------------------------------------------
// Pages built without a server

struct LayoutCase {
    const char* name;
    int organicCount;
    AdSlots ads;
    std::string nextTarget;
    std::size_t targetBytes;
};

TEST(StandinPageTest, EveryAddressLandsInTheBlockItsReaderCuts) {
    const std::vector<LayoutCase> cases = {
        {"full page",
         10,
         {{"www.t1.com", "t2.cn", "www.t3.com"}, {"www.b1.com", "b2.cn"}, {"www.r 1.com", "r2.cn"}},
         "s?q=abc&pn=2&psid=00&src=srp",
         80 * 1024},
        {"no ads, no next, no results", 0, {}, "", 60 * 1024},
        {"benchmark size", 2000, {{"www.t1.com"}, {}, {"www.r1.com"}}, "s?q=x&pn=2", 300 * 1024},
    };
    for (const LayoutCase& layout : cases) {
        SCOPED_TRACE(layout.name);
        ResultPageContent content;
        content.keyword = "鲜花 速递";
        content.pageNo = 2;
        for (int i = 0; i < layout.organicCount; ++i) {
            // Mixes the display forms: plain, part highlighted, wholly highlighted.
            const std::string host = "site" + std::to_string(i) + ".example.com";
            content.organic.push_back(i % 3 == 0   ? "www." + host + "/p"
                                      : i % 3 == 1 ? "www.<b>" + host + "</b>/"
                                                   : "<b>" + host + "</b>/x");
        }
        content.ads = layout.ads;
        content.nextTarget = layout.nextTarget;
        content.targetBytes = layout.targetBytes;

        const std::string page = BuildResultPage(content);

        EXPECT_NE(page.find(kPageMarker), std::string::npos);
        EXPECT_EQ(page.find(kVerifyMarker), std::string::npos);
        EXPECT_EQ(CiteTexts(OrganicBlock(page)), content.organic);
        EXPECT_EQ(CiteTexts(TextBetween(page, kTopStart, kOrganicStart)), layout.ads.top);
        EXPECT_EQ(CiteTexts(TextBetween(page, kOrganicEnd, kBottomEnd)), layout.ads.bottom);
        EXPECT_EQ(CiteTexts(TextBetween(page, kRightStart, "</ul>")), layout.ads.right);
        // No address element outside the four blocks.
        EXPECT_EQ(Occurrences(page, "<cite"), content.organic.size() + layout.ads.top.size() +
                                                  layout.ads.bottom.size() +
                                                  layout.ads.right.size());
        if (layout.nextTarget.empty()) {
            EXPECT_EQ(page.find("id=\"snext\""), std::string::npos);
        } else {
            EXPECT_EQ(Occurrences(page, kNextStart), 1u);
            EXPECT_EQ(TextBetween(page, kNextStart, "\">"), layout.nextTarget);
        }
        EXPECT_GE(page.size(), layout.targetBytes);
        if (layout.organicCount <= 10) {
            // Filler stops close to the asked size; it does not run away.
            EXPECT_LT(page.size(), layout.targetBytes + 1024);
        }
        EXPECT_TRUE(IsValidUtf8(page));
    }
}

TEST(StandinPageTest, KeywordIsEscapedWhereverItIsEchoed) {
    ResultPageContent content;
    content.keyword = "\"><cite>evil.com</cite><script>alert(1)</script>";
    content.organic = {"www.a.com/"};
    const std::string page = BuildResultPage(content);
    EXPECT_EQ(page.find(content.keyword), std::string::npos);
    EXPECT_EQ(page.find("<script>alert"), std::string::npos);
    EXPECT_NE(page.find("&quot;&gt;&lt;cite&gt;evil.com"), std::string::npos);
    EXPECT_EQ(Occurrences(page, "<cite"), 1u);
}

TEST(StandinPageTest, VerificationPageHasTheFormAndNoResultMarkup) {
    const std::string page = BuildVerificationPage();
    EXPECT_NE(page.find(kVerifyMarker), std::string::npos);
    EXPECT_EQ(page.find(kPageMarker), std::string::npos);
    EXPECT_EQ(page.find("<cite"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// World files and generated pages

TEST(StandinWorldTest, BadWorldsAreRefusedWithTheReason) {
    const struct {
        const char* json;
        const char* reason;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "must be a JSON object"},
        {R"({"keywords":{"k":{"fail_time":3}}})", "unknown key \"fail_time\""},
        {R"({"keywords":{"k":{"fail_status":99}}})", "fail_status"},
        {R"({"keywords":{"k":{"pages":[["a", 3]]}}})", "list of strings"},
        {R"({"keywords":{"k":{"ads":{"left":["a"]}}}})", "unknown key \"left\""},
        {R"({"keywords":{"k":{"verify":"yes"}}})", "verify"},
        {R"({"planted_sites":"www.a.com"})", "planted_sites"},
        {R"({"keywords":{"k":{"later_checks":{"pages":[1]}}}})", "must be a list"},
        {R"({"keywords":{"k":{"later_checks":[{"verify":true}]}}})", "unknown key \"verify\""},
        {R"({"keywords":{"k":{"later_checks":[3]}}})", "check 2: expected an object"},
    };
    for (const auto& [json, reason] : cases) {
        SCOPED_TRACE(json);
        std::string error;
        EXPECT_FALSE(ParseWorld(json, error).has_value());
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    std::string error;
    const auto world =
        ParseWorld(R"({"_note":"x","keywords":{"_skip":{},"k":{"_why":"y","pages":[2]}}})", error);
    ASSERT_TRUE(world.has_value()) << error;
    EXPECT_EQ(world->keywords.size(), 1u);
    EXPECT_EQ(ResultsFor(*world, "k", 1).organic.size(), 2u);
}

TEST(StandinWorldTest, PlantedSitesAreSpreadOverKeywordsAndFindable) {
    World world;
    world.plantedSites = {"www.planted-one.com", "planted-two.cn"};
    constexpr int kKeywords = 400;
    for (const std::string& site : world.plantedSites) {
        SCOPED_TRACE(site);
        const std::string host = ReplaceAll(site, "www.", "");
        int absent = 0;
        int inAds = 0;
        std::set<int> pagesSeen;
        for (int k = 0; k < kKeywords; ++k) {
            const std::string keyword = "关键词 " + std::to_string(k);
            int shown = 0;
            for (int pageNo = 1; pageNo <= kLastPage; ++pageNo) {
                const PageResults results = ResultsFor(world, keyword, pageNo);
                ASSERT_EQ(results.organic.size(), static_cast<std::size_t>(kResultsPerPage));
                EXPECT_EQ(results.hasNext, pageNo < kLastPage);
                for (const std::string& cite : results.organic) {
                    if (cite.find(host) != std::string::npos) {
                        ++shown;
                        pagesSeen.insert(pageNo);
                        EXPECT_TRUE(ReaderAccepts(cite, site)) << cite;
                    }
                }
            }
            EXPECT_LE(shown, 1) << keyword;
            absent += shown == 0 ? 1 : 0;
            const AdSlots ads = ResultsFor(world, keyword, 1).ads;
            for (const auto* block : {&ads.top, &ads.bottom, &ads.right}) {
                for (const std::string& ad : *block) {
                    inAds += ad == site ? 1 : 0;
                }
            }
        }
        // A demo needs both outcomes: found on one of the first five pages, and not found.
        EXPECT_EQ(pagesSeen, (std::set<int>{1, 2, 3, 4, 5}));
        EXPECT_GT(absent, kKeywords / 10);
        EXPECT_LT(absent, kKeywords * 3 / 10);
        EXPECT_GT(inAds, kKeywords / 5);
        EXPECT_LT(inAds, kKeywords / 2);
    }
}

// ---------------------------------------------------------------------------------------------
// The server

class StandinServerTest : public ::testing::Test {
  protected:
    void Start(StandinOptions options = {}) {
        if (options.worldPath.empty() && options.worldJson.empty()) {
            options.worldPath = kWorldPath;
        }
        ASSERT_TRUE(m_standin.start(options)) << m_standin.lastError();
    }

    httplib::Result Fetch(const std::string& target, const httplib::Headers& headers = {}) const {
        httplib::SSLClient client("127.0.0.1", m_standin.port());
        client.enable_server_certificate_verification(false);
        client.set_url_encode(
            false);  // the targets are already encoded, as a real client sends them
        client.set_connection_timeout(5);
        client.set_read_timeout(10);
        return client.Get(target.c_str(), headers);
    }

    static std::string FirstPage(const std::string& keyword) {
        return "/s?ie=utf-8&shb=1&src=home_example.com&q=" + UrlEncodeForm(keyword);
    }

    // What a client makes of an answer.
    static std::string Outcome(const httplib::Result& result) {
        if (!result) {
            return "no answer";
        }
        if (result->status != 200) {
            return "status " + std::to_string(result->status);
        }
        if (result->body.find(kVerifyMarker) != std::string::npos) {
            return "verification";
        }
        return result->body.find(kPageMarker) != std::string::npos ? "page" : "other";
    }

    SearchStandin m_standin;
};

// Ranks move between runs: each check of the keyword shows its round's pages and ads, the
// later pages of a check belong to it, and after the last round the first comes again.
TEST_F(StandinServerTest, LaterChecksShowTheirOwnPagesInTurn) {
    const std::string json = R"({"keywords":{"k":{
        "pages":[["a.com","www.mine.com"],["p2.com"]], "ads":{"top":["mine.com"]},
        "later_checks":[{"pages":[["www.mine.com"],["q2.com"]]}, {},
                        {"pages":[[],["r2.com"]], "ads":{"right":["mine.com"]}}]}}})";
    std::string error;
    const auto world = ParseWorld(json, error);
    ASSERT_TRUE(world.has_value()) << error;
    using Pages = std::vector<std::string>;
    const struct {
        int check;
        Pages first;
        Pages second;
        Pages topAds;
        Pages rightAds;
    } cases[] = {
        {1, {"a.com", "www.mine.com"}, {"p2.com"}, {"mine.com"}, {}},
        // Check 2 gives new pages and keeps the ads; check 3 repeats check 2.
        {2, {"www.mine.com"}, {"q2.com"}, {"mine.com"}, {}},
        {3, {"www.mine.com"}, {"q2.com"}, {"mine.com"}, {}},
        {4, {}, {"r2.com"}, {}, {"mine.com"}},
        {5, {"a.com", "www.mine.com"}, {"p2.com"}, {"mine.com"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.check);
        EXPECT_EQ(ResultsFor(*world, "k", 1, c.check).organic, c.first);
        EXPECT_EQ(ResultsFor(*world, "k", 1, c.check).ads.top, c.topAds);
        EXPECT_EQ(ResultsFor(*world, "k", 1, c.check).ads.right, c.rightAds);
        EXPECT_EQ(ResultsFor(*world, "k", 2, c.check).organic, c.second);
    }

    // The server counts the checks by their first pages.
    StandinOptions options;
    options.worldJson = json;
    Start(options);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.check);
        const auto first = Fetch(FirstPage("k"));
        ASSERT_EQ(Outcome(first), "page");
        EXPECT_EQ(CiteTexts(OrganicBlock(first->body)), c.first);
        const auto second = Fetch("/" + TextBetween(first->body, kNextStart, "\">"));
        ASSERT_EQ(Outcome(second), "page");
        EXPECT_EQ(CiteTexts(OrganicBlock(second->body)), c.second);
    }
}

TEST_F(StandinServerTest, WorldKeywordPagesFollowTheNextLink) {
    Start();
    const std::string keyword = "鲜花速递";
    std::string error;
    const std::optional<World> world = LoadWorldFile(kWorldPath, error);
    ASSERT_TRUE(world.has_value()) << error;
    const KeywordWorld& expected = world->keywords.at(keyword);

    const auto first = Fetch(FirstPage(keyword));
    ASSERT_EQ(Outcome(first), "page");
    const std::string& page = first->body;
    EXPECT_EQ(CiteTexts(OrganicBlock(page)), expected.pages[0]);
    EXPECT_EQ(CiteTexts(TextBetween(page, kTopStart, kOrganicStart)), expected.ads.top);
    EXPECT_EQ(CiteTexts(TextBetween(page, kOrganicEnd, kBottomEnd)), expected.ads.bottom);
    EXPECT_EQ(CiteTexts(TextBetween(page, kRightStart, "</ul>")), expected.ads.right);
    EXPECT_GE(page.size(), 50u * 1024);
    EXPECT_LE(page.size(), 300u * 1024);

    // The reader appends the target to "https://HOST/" as it stands.
    const std::string next = TextBetween(page, kNextStart, "\">");
    ASSERT_EQ(next.rfind("s?q=", 0), 0u) << next;
    EXPECT_EQ(TextBetween(next, "q=", "&"), UrlEncodeForm(keyword));
    for (const std::string& base : {std::string("/"), std::string("//")}) {
        SCOPED_TRACE(base);
        const auto second = Fetch(base + next);
        ASSERT_EQ(Outcome(second), "page");
        EXPECT_EQ(CiteTexts(OrganicBlock(second->body)), expected.pages[1]);
        // Ads are a first-page affair.
        EXPECT_TRUE(CiteTexts(TextBetween(second->body, kTopStart, kOrganicStart)).empty());
        EXPECT_NE(TextBetween(second->body, kNextStart, "\">").find("&pn=3&"), std::string::npos);
    }
    // Past the world's pages: generated results, and the last page has no next link.
    const auto ninth = Fetch("/s?q=" + UrlEncodeForm(keyword) + "&pn=9");
    ASSERT_EQ(Outcome(ninth), "page");
    EXPECT_EQ(CiteTexts(OrganicBlock(ninth->body)).size(), 10u);
    EXPECT_NE(ninth->body.find(kNextStart), std::string::npos);
    const auto tenth = Fetch("/s?q=" + UrlEncodeForm(keyword) + "&pn=10");
    ASSERT_EQ(Outcome(tenth), "page");
    EXPECT_EQ(tenth->body.find("id=\"snext\""), std::string::npos);

    EXPECT_EQ(m_standin.requestCountFor(keyword), 5);
    EXPECT_EQ(m_standin.requestCountFor(keyword, 1), 1);
    EXPECT_EQ(m_standin.requestCountFor(keyword, 2), 2);
    EXPECT_EQ(m_standin.requestCountForPath("/s"), 4);
    EXPECT_EQ(m_standin.requestCount(), 5);
}

TEST_F(StandinServerTest, GeneratedPagesAreStablePerKeywordAndDifferBetweenKeywords) {
    Start();
    const auto once = Fetch(FirstPage("玫瑰 花"));
    const auto again = Fetch(FirstPage("玫瑰 花"));
    const auto other = Fetch(FirstPage("玫瑰 草"));
    ASSERT_EQ(Outcome(once), "page");
    ASSERT_EQ(Outcome(again), "page");
    ASSERT_EQ(Outcome(other), "page");
    EXPECT_EQ(once->body, again->body);
    EXPECT_EQ(CiteTexts(OrganicBlock(once->body)).size(), 10u);
    EXPECT_NE(CiteTexts(OrganicBlock(once->body)), CiteTexts(OrganicBlock(other->body)));
    // The keyword was decoded from "+" and "%XX".
    EXPECT_EQ(m_standin.requestCountFor("玫瑰 花"), 2);
    EXPECT_NE(once->body.find("value=\"玫瑰 花\""), std::string::npos);
}

TEST_F(StandinServerTest, KeywordBehavioursPlayOutInRequestOrder) {
    Start();
    const struct {
        const char* keyword;
        std::vector<std::string> outcomes;
    } cases[] = {
        {"fail then serve", {"status 503", "status 503", "page", "page"}},
        {"drop then serve", {"no answer", "page"}},
        {"drop then fail", {"no answer", "status 502", "page"}},
        {"always verify", {"verification", "verification"}},
    };
    for (const auto& [keyword, outcomes] : cases) {
        SCOPED_TRACE(keyword);
        std::vector<std::string> seen;
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            seen.push_back(Outcome(Fetch(FirstPage(keyword))));
        }
        EXPECT_EQ(seen, outcomes);
        EXPECT_EQ(m_standin.requestCountFor(keyword), static_cast<int>(outcomes.size()));
    }
    EXPECT_EQ(m_standin.verificationCount(), 2);
}

TEST_F(StandinServerTest, PageShapingBehaviours) {
    Start();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Outcome(Fetch(FirstPage("slow"))), "page");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);

    const auto last = Fetch(FirstPage("last page"));
    ASSERT_EQ(Outcome(last), "page");
    EXPECT_EQ(CiteTexts(OrganicBlock(last->body)),
              (std::vector<std::string>{"www.only-example.com/1", "www.only-example.com/2"}));
    EXPECT_EQ(last->body.find("id=\"snext\""), std::string::npos);

    // A cut page is a complete answer whose body is the head of the whole page.
    const auto cut = Fetch(FirstPage("cut short"));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->status, 200);
    ASSERT_EQ(cut->body.size(), 30000u);
    std::string error;
    const std::optional<World> world = LoadWorldFile(kWorldPath, error);
    ASSERT_TRUE(world.has_value()) << error;
    const PageResults results = ResultsFor(*world, "cut short", 1);
    ResultPageContent content;
    content.keyword = "cut short";
    content.organic = results.organic;
    content.ads = results.ads;
    content.nextTarget = PageLinkTarget("cut short", 2);
    content.targetBytes = PageBytesFor("cut short", 1);
    EXPECT_EQ(BuildResultPage(content).substr(0, 30000), cut->body);
}

TEST_F(StandinServerTest, FastClientsGetTheVerificationPage) {
    StandinOptions options;
    options.rateLimitPerSecond = 2;
    Start(options);
    const httplib::Headers agentA = {{"User-Agent", "agent-a"}};
    const httplib::Headers agentB = {{"User-Agent", "agent-b"}};
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        seen.push_back(Outcome(Fetch(FirstPage("限速"), agentA)));
    }
    // Another User-Agent from the same address is another client.
    seen.push_back(Outcome(Fetch(FirstPage("限速"), agentB)));
    EXPECT_EQ(seen, (std::vector<std::string>{"page", "page", "verification", "page"}));
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(Outcome(Fetch(FirstPage("限速"), agentA)), "page");
    EXPECT_EQ(m_standin.verificationCount(), 1);
}

TEST_F(StandinServerTest, ServerWideFailuresHitEveryNthRequest) {
    StandinOptions options;
    options.failEveryNth = 3;
    options.failStatus = 500;
    options.dropEveryNth = 4;
    Start(options);
    std::vector<std::string> seen;
    for (int i = 0; i < 8; ++i) {
        seen.push_back(Outcome(Fetch(FirstPage("keyword " + std::to_string(i)))));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"page", "page", "status 500", "no answer", "page",
                                              "status 500", "page", "no answer"}));
    EXPECT_EQ(m_standin.requestCountForPath("/s"), 8);
}

TEST_F(StandinServerTest, CompressesOnlyWhenAsked) {
    Start();
    const auto gzip = Fetch(FirstPage("压缩"), {{"Accept-Encoding", "gzip"}});
    ASSERT_EQ(Outcome(gzip), "page");
    EXPECT_EQ(gzip->get_header_value("Content-Encoding"), "gzip");
    EXPECT_LT(std::stoul(gzip->get_header_value("Content-Length")), gzip->body.size());

    const auto plain = Fetch(FirstPage("压缩"), {{"Accept-Encoding", "identity"}});
    ASSERT_EQ(Outcome(plain), "page");
    EXPECT_FALSE(plain->has_header("Content-Encoding"));
    EXPECT_EQ(plain->body, gzip->body);
}

TEST_F(StandinServerTest, CertificateVerifiesFor127001) {
    Start();
    const std::filesystem::path pem = std::filesystem::temp_directory_path() /
                                      ("standin-" + std::to_string(m_standin.port()) + ".pem");
    {
        std::ofstream file(pem);
        file << m_standin.certificatePem();
    }
    httplib::SSLClient client("127.0.0.1", m_standin.port());
    client.set_ca_cert_path(pem.string());
    client.enable_server_certificate_verification(true);
    client.set_connection_timeout(5);
    const auto result = client.Get("/s?q=cert");
    std::filesystem::remove(pem);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(Outcome(result), "page");
}

TEST_F(StandinServerTest, StopsByItselfWhenItsLifetimeEnds) {
    StandinOptions options;
    options.lifetimeSeconds = 1;
    Start(options);
    ASSERT_TRUE(m_standin.running());
    EXPECT_EQ(Outcome(Fetch(FirstPage("寿命"))), "page");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (m_standin.running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_FALSE(m_standin.running());
    EXPECT_EQ(Outcome(Fetch(FirstPage("寿命"))), "no answer");
}

TEST(StandinStartTest, StartFailuresSayWhy) {
    SearchStandin missingWorld;
    StandinOptions options;
    options.worldPath = "/nonexistent/world.json";
    EXPECT_FALSE(missingWorld.start(options));
    EXPECT_NE(missingWorld.lastError().find("/nonexistent/world.json"), std::string::npos);

    SearchStandin first;
    ASSERT_TRUE(first.start({}));
    SearchStandin second;
    options = {};
    options.port = first.port();
    EXPECT_FALSE(second.start(options));
    EXPECT_NE(second.lastError().find(std::to_string(first.port())), std::string::npos);
    EXPECT_FALSE(first.start({}));
}

}  // namespace
}  // namespace velquist::standin
