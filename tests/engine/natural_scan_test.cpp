#include "engine/natural_scan.h"

#include <gtest/gtest.h>

#include "engine/paid_scan.h"
#include "engine_test_support.h"

namespace velquist {
namespace {

using testing::FillerPage;
using testing::RecordingSleeper;
using testing::StandinFixture;

constexpr const char* kWorld = R"({
  "planted_sites": [],
  "keywords": {
    "page two": {"pages": [ FILLER1, ["a.cn","b.cn","c.cn","www.target.com/x","e.cn"], FILLER3 ]},
    "two sites": {"pages": [ ["www.second.com/1","x.cn"], ["y.cn","first.com/z"], FILLER3 ]},
    "captcha": {"verify": true},
    "flaky": {"pages": [["q.cn","www.target.com"]], "fail_status": 503, "fail_times": 3},
    "dropped": {"pages": [["www.target.com"]], "drop_times": 2},
    "no next": {"pages": [ FILLER1 ], "no_next": true},
    "ads": {"pages": [["o.cn"]], "ads": {"top": ["t1.com","t2.com","t3.com"], "bottom": ["www.target.com"], "right": ["r.com","second.com"]}}
  }
})";

std::string World() {
    std::string world = kWorld;
    world.replace(world.find("FILLER1"), 7, FillerPage("one"));
    world.replace(world.find("FILLER1"), 7, FillerPage("one"));
    world.replace(world.find("FILLER3"), 7, FillerPage("three"));
    world.replace(world.find("FILLER3"), 7, FillerPage("three"));
    return world;
}

class ScanTest : public ::testing::Test {
  protected:
    ScanTest() : standin(World()) {
        env.endpoints = standin.endpoints();
        env.pageCount = &pages;
        env.running = &running;
        env.sleep = sleeper.sleeper();
        client.timeoutSeconds = 10;
        client.connectTimeoutSeconds = 10;
    }

    static std::vector<STRUCT_SITE> Sites(std::initializer_list<const char*> urls) {
        std::vector<STRUCT_SITE> sites;
        for (const char* url : urls) {
            STRUCT_SITE s;
            s.index = static_cast<int>(sites.size());
            s.url = url;
            s.selected = 1;
            sites.push_back(s);
        }
        return sites;
    }

    StandinFixture standin;
    std::atomic<int> pages{5};
    std::atomic<bool> running{true};
    RecordingSleeper sleeper;
    ScanEnvironment env;
    CHttpClient client;
};

TEST_F(ScanTest, RankCountsAcrossPagesAndStopsWhenAllAreFound) {
    auto sites = Sites({"www.target.com"});
    ScanNatural(&client, "page two", sites, env);
    EXPECT_EQ(sites[0].rankText, "第14名，第2页");
    EXPECT_EQ(sites[0].rankNum, 14);
    EXPECT_EQ(standin.server.requestCountFor("page two", 1), 1);
    EXPECT_EQ(standin.server.requestCountFor("page two", 2), 1);
    EXPECT_EQ(standin.server.requestCountFor("page two", 3), 0);
    EXPECT_EQ(sleeper.waits(), (std::vector<long long>{200}));  // one wait between two pages
}

TEST_F(ScanTest, TwoSitesFoundOnDifferentPagesAndTheReferersFollow) {
    auto sites = Sites({"first.com", "second.com"});
    ScanNatural(&client, "two sites", sites, env);
    EXPECT_EQ(sites[0].rankText, "第12名，第2页");
    EXPECT_EQ(sites[1].rankText, "第1名，第1页");
    EXPECT_EQ(standin.server.requestCountFor("two sites", 3), 0);
}

TEST_F(ScanTest, UnfoundSiteWalksEveryPageAndPageCountIsReadPerPage) {
    auto sites = Sites({"nowhere.com"});
    pages = 3;
    ScanNatural(&client, "page two", sites, env);
    EXPECT_FALSE(sites[0].found);
    EXPECT_EQ(sites[0].rankNum, 30);
    EXPECT_EQ(standin.server.requestCountFor("page two"), 3);

    auto single = Sites({"nowhere.com"});
    pages = 1;
    ScanNatural(&client, "no next", single, env);
    EXPECT_EQ(standin.server.requestCountFor("no next"), 1);
}

TEST_F(ScanTest, FetchRetriesAndFailures) {
    struct Case {
        const char* keyword;
        bool found;
        int requests;
        std::vector<long long> waits;
    };
    const Case cases[] = {
        {"captcha", false, 1, {}},         // the verification page ends at once
        {"flaky", true, 4, {}},            // 5xx pages are not result pages: retried at once
        {"dropped", true, 3, {500, 500}},  // failed transfers wait 500 ms
    };
    for (const auto& c : cases) {
        RecordingSleeper local;
        env.sleep = local.sleeper();
        auto sites = Sites({"www.target.com"});
        pages = 1;
        ScanNatural(&client, c.keyword, sites, env);
        EXPECT_EQ(sites[0].found, c.found) << c.keyword;
        EXPECT_EQ(standin.server.requestCountFor(c.keyword), c.requests) << c.keyword;
        EXPECT_EQ(local.waits(), c.waits) << c.keyword;
    }
}

TEST_F(ScanTest, MissingNextLinkEndsTheScanAfterTenAttemptsOnTheBareBase) {
    auto sites = Sites({"nowhere.com"});
    pages = 2;
    ScanNatural(&client, "no next", sites, env);
    EXPECT_EQ(standin.server.requestCountFor("no next"), 1);
    EXPECT_EQ(standin.server.requestCountForPath("/"), 10);
    EXPECT_EQ(sites[0].rankNum, 10);
}

TEST_F(ScanTest, RefusedConnectionMakesTenAttemptsWithWaits) {
    ScanEnvironment closed = env;
    closed.endpoints.webHost = "127.0.0.1:1";
    auto sites = Sites({"www.target.com"});
    std::string page;
    client.url = closed.endpoints.resultPageUrl("x");
    RecordingSleeper local;
    closed.sleep = local.sleeper();
    EXPECT_FALSE(FetchResultPage(client, page, closed));
    EXPECT_EQ(local.waits(), std::vector<long long>(10, 500));
}

TEST_F(ScanTest, StoppedRunMakesNoRequest) {
    running = false;
    auto sites = Sites({"www.target.com"});
    ScanNatural(&client, "page two", sites, env);
    ScanPaid(&client, "ads", sites, env);
    EXPECT_EQ(standin.server.requestCount(), 0);
}

TEST_F(ScanTest, PaidScanReadsOnlyTheFirstPage) {
    auto sites = Sites({"http://www.target.com/landing", "second.com", "none.com", ""});
    client.referer = standin.endpoints().firstReferer();
    ScanPaid(&client, "ads", sites, env);
    EXPECT_EQ(sites[0].rankText, "左4");
    EXPECT_EQ(sites[0].rankNum, 4);
    EXPECT_EQ(sites[1].rankText, "右2");
    EXPECT_EQ(sites[1].rankNum, 52);
    EXPECT_EQ(sites[2].rankText, "");
    EXPECT_EQ(sites[2].rankNum, 102);
    EXPECT_EQ(sites[3].rankNum, 0);
    EXPECT_EQ(standin.server.requestCountFor("ads"), 1);
}

}  // namespace
}  // namespace velquist
