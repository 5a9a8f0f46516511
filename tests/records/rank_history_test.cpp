#include "records/rank_history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/schema.h"
#include "records_test_support.h"

namespace velquist {
namespace {

using testing::RecordsTest;

// One site's outcome in a test check: a rank number, "无" or a failed check.
struct Outcome {
    std::string url;
    int rank = 0;  // > 0: ranked at this position
    RankState state = RankState::Ranked;
};

Outcome Ranked(const std::string& url, int rank) { return {url, rank, RankState::Ranked}; }
Outcome Absent(const std::string& url) { return {url, 0, RankState::NotFound}; }
Outcome Failed(const std::string& url) { return {url, 0, RankState::Failed}; }

std::string TextOf(const Outcome& o) {
    switch (o.state) {
        case RankState::Ranked:
            return "第" + std::to_string(o.rank) + "名，第" + std::to_string((o.rank + 9) / 10) +
                   "页";
        case RankState::NotFound:
            return "无";
        case RankState::Failed:
            break;
    }
    return "查询失败";
}

HistoryKey Natural(const std::string& keyword) { return {RankKind::Natural, keyword, "", ""}; }
HistoryKey Paid(const std::string& keyword, const std::string& plan, const std::string& unit) {
    return {RankKind::Paid, keyword, plan, unit};
}

constexpr std::int64_t kDay = 24 * 3600;
constexpr std::int64_t kStart = 1'767'225'600;  // 2026-01-01 00:00:00 UTC

class RankHistoryTest : public RecordsTest {
  protected:
    void SetUp() override {
        RecordsTest::SetUp();
        ASSERT_TRUE(EnsureRankHistoryTables(dbPath()));
    }

    // Appends one check in a transaction of its own, as a store does.
    void check(const HistoryKey& key, std::int64_t time, const std::vector<Outcome>& outcomes,
               bool paidSlots = false) {
        std::vector<std::string> texts;
        for (const auto& o : outcomes)
            texts.push_back(paidSlots && o.state == RankState::Ranked
                                ? (o.rank > 50 ? "右" + std::to_string(o.rank - 50)
                                               : "左" + std::to_string(o.rank))
                                : TextOf(o));
        std::vector<HistoryResult> results;
        for (std::size_t i = 0; i < outcomes.size(); ++i)
            results.push_back({outcomes[i].url, texts[i],
                               outcomes[i].state == RankState::Ranked ? outcomes[i].rank : 50,
                               outcomes[i].state});
        DbConnection db(dbPath());
        WriteTransaction transaction(db);
        ASSERT_TRUE(transaction.begun());
        ASSERT_TRUE(RankHistoryAppender(db).append(key, time, results));
        ASSERT_TRUE(transaction.commit());
    }

    // "keyword site old→new change" lines, in the order given.
    static std::vector<std::string> Lines(const std::vector<RankChange>& changes) {
        std::vector<std::string> lines;
        for (const auto& c : changes)
            lines.push_back(c.key.keyword + " " + c.url + " " + c.before.rankText + "→" +
                            c.after.rankText);
        return lines;
    }
};

TEST_F(RankHistoryTest, ChecksAreKeptByNameWithEachTextOnceAndComeBackAsSeriesPerSite) {
    check(Natural("鲜花"), kStart, {Ranked("b.com", 14), Absent("a.com")});
    check(Natural("鲜花"), kStart + kDay, {Ranked("b.com", 3), Failed("a.com")});
    check(Paid("鲜花", "P", "U"), kStart, {Ranked("b.com", 3)}, true);
    check(Paid("鲜花", "P", "U2"), kStart, {Ranked("b.com", 52)}, true);
    // A second check within the same second replaces the first instead of failing the store.
    check(Natural("鲜花"), kStart + kDay, {Ranked("b.com", 2), Failed("a.com")});

    EXPECT_EQ(count("historykeyword"), 3);
    EXPECT_EQ(count("historysite"), 2);
    EXPECT_EQ(count("rankhistory"), 6);
    // "第3名，第1页" of both checks and of nothing else is one dictionary row.
    EXPECT_EQ(column("SELECT rank FROM historyrank ORDER BY id"),
              (std::vector<std::string>{"第14名，第2页", "无", "第3名，第1页", "查询失败", "左3",
                                        "右2", "第2名，第1页"}));

    const auto series = LoadRankSeries(dbPath(), Natural("鲜花"));
    ASSERT_TRUE(series);
    ASSERT_EQ(series->size(), 2u);
    EXPECT_EQ((*series)[0].url, "a.com");
    ASSERT_EQ((*series)[0].points.size(), 2u);
    EXPECT_EQ((*series)[0].points[0].rankText, "无");
    EXPECT_EQ((*series)[0].points[0].state, RankState::NotFound);
    EXPECT_EQ((*series)[0].points[1].rankText, "查询失败");
    EXPECT_EQ((*series)[0].points[1].state, RankState::Failed);
    EXPECT_EQ((*series)[1].url, "b.com");
    ASSERT_EQ((*series)[1].points.size(), 2u);
    EXPECT_EQ((*series)[1].points[0].time, kStart);
    EXPECT_EQ((*series)[1].points[0].rankNum, 14);
    EXPECT_EQ((*series)[1].points[1].time, kStart + kDay);
    EXPECT_EQ((*series)[1].points[1].rankText, "第2名，第1页");

    const auto recent = LoadRankSeries(dbPath(), Natural("鲜花"), kStart + 1);
    ASSERT_TRUE(recent);
    ASSERT_EQ(recent->size(), 2u);
    EXPECT_EQ((*recent)[1].points.size(), 1u);

    const auto paid = LoadRankSeries(dbPath(), Paid("鲜花", "P", "U2"));
    ASSERT_TRUE(paid);
    ASSERT_EQ(paid->size(), 1u);
    EXPECT_EQ((*paid)[0].points.at(0).rankText, "右2");
    EXPECT_EQ((*paid)[0].points.at(0).rankNum, 52);

    for (const auto& unknown : {Natural("玫瑰"), Paid("鲜花", "P", "other"), Paid("鲜花", "", "")})
        EXPECT_TRUE(LoadRankSeries(dbPath(), unknown)->empty()) << unknown.unit;

    RankHistoryReader reader(dbPath());
    const auto natural = reader.keywords(RankKind::Natural);
    ASSERT_TRUE(natural);
    EXPECT_EQ(*natural, std::vector<HistoryKey>{Natural("鲜花")});
    EXPECT_EQ(reader.keywords(RankKind::Paid)->size(), 2u);
    EXPECT_TRUE(reader.knowsSite("a.com").value_or(false));
    EXPECT_FALSE(reader.knowsSite("c.com").value_or(true));
}

TEST_F(RankHistoryTest, ChangesPutFoundSitesFirstAndLostSitesLastAndPassOverFailedChecks) {
    struct Case {
        std::string keyword;
        std::vector<Outcome> checks;  // one site "s.com", oldest first
    };
    const Case cases[] = {
        {"up 7", {Ranked("s.com", 10), Ranked("s.com", 3)}},
        {"up 2 to 1", {Ranked("s.com", 3), Ranked("s.com", 1)}},
        {"up 2 to 3", {Ranked("s.com", 5), Ranked("s.com", 3)}},
        {"found at 5", {Absent("s.com"), Ranked("s.com", 5)}},
        {"found at 20", {Absent("s.com"), Ranked("s.com", 20)}},
        {"down 5", {Ranked("s.com", 4), Ranked("s.com", 9)}},
        {"lost from 2", {Ranked("s.com", 2), Absent("s.com")}},
        {"lost from 30", {Ranked("s.com", 30), Absent("s.com")}},
        {"same", {Ranked("s.com", 6), Ranked("s.com", 6)}},
        {"still absent", {Absent("s.com"), Absent("s.com")}},
        {"latest failed", {Ranked("s.com", 8), Failed("s.com")}},
        {"failed between", {Ranked("s.com", 12), Failed("s.com"), Ranked("s.com", 7)}},
        {"only failed before", {Failed("s.com"), Ranked("s.com", 7)}},
        {"checked once", {Ranked("s.com", 4)}},
    };
    for (const auto& c : cases)
        for (std::size_t i = 0; i < c.checks.size(); ++i)
            check(Natural(c.keyword), kStart + static_cast<std::int64_t>(i) * kDay, {c.checks[i]});
    // A site new in the latest check has nothing to compare with; its neighbour moved.
    check(Natural("new site"), kStart, {Ranked("s.com", 1)});
    check(Natural("new site"), kStart + kDay, {Ranked("s.com", 4), Ranked("t.com", 1)});
    // The other kind stays apart.
    check(Paid("up 7", "P", "U"), kStart, {Absent("s.com")}, true);
    check(Paid("up 7", "P", "U"), kStart + kDay, {Ranked("s.com", 1)}, true);

    const auto changes = LoadRankChanges(dbPath(), RankKind::Natural);
    ASSERT_TRUE(changes);
    EXPECT_EQ(Lines(*changes), (std::vector<std::string>{
                                   "found at 5 s.com 无→第5名，第1页",
                                   "found at 20 s.com 无→第20名，第2页",
                                   "up 7 s.com 第10名，第1页→第3名，第1页",
                                   "failed between s.com 第12名，第2页→第7名，第1页",
                                   "up 2 to 1 s.com 第3名，第1页→第1名，第1页",
                                   "up 2 to 3 s.com 第5名，第1页→第3名，第1页",
                                   "new site s.com 第1名，第1页→第4名，第1页",
                                   "down 5 s.com 第4名，第1页→第9名，第1页",
                                   "lost from 30 s.com 第30名，第3页→无",
                                   "lost from 2 s.com 第2名，第1页→无",
                               }));
    ASSERT_FALSE(changes->empty());
    EXPECT_EQ(changes->front().before.time, kStart);
    EXPECT_EQ(changes->front().after.time, kStart + kDay);
}

TEST_F(RankHistoryTest, PaidLeftSlotsOutrankRightSlots) {
    check(Paid("a", "P", "U"), kStart, {Ranked("s.com", 51)}, true);         // 右1
    check(Paid("a", "P", "U"), kStart + kDay, {Ranked("s.com", 2)}, true);   // 左2
    check(Paid("b", "P", "U"), kStart, {Ranked("s.com", 1)}, true);          // 左1
    check(Paid("b", "P", "U"), kStart + kDay, {Ranked("s.com", 3)}, true);   // 左3
    check(Paid("c", "P", "U"), kStart, {Ranked("s.com", 3)}, true);          // 左3
    check(Paid("c", "P", "U"), kStart + kDay, {Ranked("s.com", 52)}, true);  // 右2
    const auto changes = LoadRankChanges(dbPath(), RankKind::Paid);
    ASSERT_TRUE(changes);
    EXPECT_EQ(Lines(*changes),
              (std::vector<std::string>{"a s.com 右1→左2", "b s.com 左1→左3", "c s.com 左3→右2"}));
    EXPECT_EQ(changes->at(0).key, Paid("a", "P", "U"));
    EXPECT_TRUE(LoadRankChanges(dbPath(), RankKind::Natural)->empty());
}

TEST_F(RankHistoryTest, SinceComparesWithTheStandingAtThatTime) {
    // Day 0: 9th, day 1: 5th, day 2: failed, day 3: 4th. "late" is first checked on day 2.
    check(Natural("k"), kStart, {Ranked("s.com", 9)});
    check(Natural("k"), kStart + kDay, {Ranked("s.com", 5)});
    check(Natural("k"), kStart + 2 * kDay, {Failed("s.com")});
    check(Natural("k"), kStart + 3 * kDay, {Ranked("s.com", 4)});
    check(Natural("late"), kStart + 2 * kDay, {Ranked("s.com", 10)});
    check(Natural("late"), kStart + 3 * kDay, {Ranked("s.com", 6)});
    struct Case {
        std::optional<std::int64_t> since;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {std::nullopt,
         {"late s.com 第10名，第1页→第6名，第1页", "k s.com 第5名，第1页→第4名，第1页"}},
        {kStart + kDay,
         {"k s.com 第9名，第1页→第4名，第1页", "late s.com 第10名，第1页→第6名，第1页"}},
        {kStart + kDay + 1,
         {"late s.com 第10名，第1页→第6名，第1页", "k s.com 第5名，第1页→第4名，第1页"}},
        {kStart - kDay,
         {"k s.com 第9名，第1页→第4名，第1页", "late s.com 第10名，第1页→第6名，第1页"}},
        {kStart + 3 * kDay,
         {"late s.com 第10名，第1页→第6名，第1页", "k s.com 第5名，第1页→第4名，第1页"}},
        {kStart + 3 * kDay + 1, {}},
    };
    for (const auto& c : cases) {
        const auto changes = LoadRankChanges(dbPath(), RankKind::Natural, c.since);
        ASSERT_TRUE(changes);
        EXPECT_EQ(Lines(*changes), c.lines) << (c.since ? *c.since - kStart : -1);
    }
}

TEST_F(RankHistoryTest, LatestChecksOfAListComeInItsOrderWithEachSitesPreviousStanding) {
    check(Natural("a"), kStart, {Ranked("old.com", 2), Ranked("s.com", 8)});
    check(Natural("a"), kStart + kDay, {Ranked("s.com", 3), Absent("t.com")});
    check(Natural("b"), kStart, {Ranked("s.com", 1)});
    const auto checks = LoadLatestChecks(dbPath(), {Natural("never"), Natural("a"), Natural("b")});
    ASSERT_TRUE(checks);
    ASSERT_EQ(checks->size(), 3u);
    EXPECT_EQ((*checks)[0].key, Natural("never"));
    EXPECT_EQ((*checks)[0].time, 0);
    EXPECT_TRUE((*checks)[0].sites.empty());

    const KeywordCheck& a = (*checks)[1];
    EXPECT_EQ(a.time, kStart + kDay);
    // The site left out of the latest check is not part of it.
    ASSERT_EQ(a.sites.size(), 2u);
    EXPECT_EQ(a.sites[0].url, "s.com");
    EXPECT_EQ(a.sites[0].latest.rankText, "第3名，第1页");
    ASSERT_TRUE(a.sites[0].previous);
    EXPECT_EQ(a.sites[0].previous->rankText, "第8名，第1页");
    EXPECT_EQ(StandingGain(*a.sites[0].previous, a.sites[0].latest), 5);
    EXPECT_EQ(a.sites[1].url, "t.com");
    EXPECT_FALSE(a.sites[1].previous);

    ASSERT_EQ((*checks)[2].sites.size(), 1u);
    EXPECT_FALSE((*checks)[2].sites[0].previous);
}

TEST_F(RankHistoryTest, AReaderKeptOpenReadsAddressesAndTextsAnewAfterAPrune) {
    check(Natural("k"), kStart, {Ranked("a.com", 3)});
    check(Natural("k"), kStart + kDay, {Ranked("a.com", 7)});
    RankHistoryReader reader(dbPath());
    const auto before = reader.latestCheck(Natural("k"));
    ASSERT_TRUE(before);
    ASSERT_EQ(before->sites.size(), 1u);
    EXPECT_EQ(before->sites[0].url, "a.com");
    EXPECT_EQ(before->sites[0].latest.rankText, "第7名，第1页");

    // Emptied dictionaries hand their ids out again, now for other addresses and texts.
    ASSERT_TRUE(PruneRankHistory(dbPath(), kStart + 2 * kDay));
    check(Natural("k"), kStart + 3 * kDay, {Ranked("b.com", 9)});
    check(Natural("k"), kStart + 4 * kDay, {Ranked("b.com", 5)});
    ASSERT_EQ(column("SELECT id FROM historysite WHERE url='b.com'"),
              std::vector<std::string>{"1"});
    for (const bool listed : {false, true}) {
        const auto after = listed ? reader.latestChecks({Natural("k")}).value().at(0)
                                  : reader.latestCheck(Natural("k")).value();
        ASSERT_EQ(after.sites.size(), 1u) << listed;
        EXPECT_EQ(after.sites[0].url, "b.com") << listed;
        EXPECT_EQ(after.sites[0].latest.rankText, "第5名，第1页") << listed;
        ASSERT_TRUE(after.sites[0].previous) << listed;
        EXPECT_EQ(after.sites[0].previous->rankText, "第9名，第1页") << listed;
    }
}

TEST_F(RankHistoryTest, StandingsOrderRanksAboveAbsentAndGiveFailedChecksNone) {
    const HistoryPoint first{0, "第1名，第1页", 1, RankState::Ranked};
    const HistoryPoint ninetieth{0, "第90名，第9页", 90, RankState::Ranked};
    const HistoryPoint absent{0, "无", 100, RankState::NotFound};
    const HistoryPoint failed{0, "查询失败", 3, RankState::Failed};
    EXPECT_LT(*Standing(first), *Standing(ninetieth));
    EXPECT_LT(*Standing(ninetieth), *Standing(absent));
    EXPECT_FALSE(Standing(failed));
    EXPECT_GT(*StandingGain(absent, ninetieth), *StandingGain(ninetieth, first));
    EXPECT_LT(*StandingGain(first, absent), *StandingGain(ninetieth, absent));
    EXPECT_FALSE(StandingGain(failed, first));
    EXPECT_FALSE(StandingGain(first, failed));
}

TEST_F(RankHistoryTest, PruneRemovesOldChecksAndWhatNoCheckUsesAnyMore) {
    check(Natural("kept"), kStart, {Ranked("a.com", 11), Ranked("b.com", 2)});
    check(Natural("kept"), kStart + kDay, {Ranked("a.com", 3), Ranked("b.com", 2)});
    check(Natural("gone"), kStart, {Ranked("gone.com", 77)});
    const auto removed = PruneRankHistory(dbPath(), kStart + kDay);
    ASSERT_TRUE(removed);
    EXPECT_EQ(*removed, 3);
    EXPECT_EQ(count("rankhistory"), 2);
    EXPECT_EQ(column("SELECT keyword FROM historykeyword"), std::vector<std::string>{"kept"});
    EXPECT_EQ(column("SELECT url FROM historysite ORDER BY url"),
              (std::vector<std::string>{"a.com", "b.com"}));
    EXPECT_EQ(column("SELECT rank FROM historyrank ORDER BY rank"),
              (std::vector<std::string>{"第2名，第1页", "第3名，第1页"}));
    const auto series = LoadRankSeries(dbPath(), Natural("kept"));
    ASSERT_TRUE(series);
    ASSERT_EQ(series->size(), 2u);
    EXPECT_EQ((*series)[0].points.size(), 1u);
    EXPECT_EQ((*series)[0].points[0].time, kStart + kDay);

    // A pruned keyword checked again starts a new series.
    check(Natural("gone"), kStart + 2 * kDay, {Ranked("gone.com", 5)});
    const auto again = LoadRankSeries(dbPath(), Natural("gone"));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->size(), 1u);
    EXPECT_EQ((*again)[0].points.size(), 1u);
    EXPECT_EQ(*PruneRankHistory(dbPath(), kStart), 0);
}

TEST(RankHistoryTime, LocalDatesParseStrictlyAndFormatBack) {
    struct Case {
        const char* text;
        const char* formatted;  // nullptr: refused
    };
    const Case cases[] = {
        {"2026-03-01", "2026-03-01 00:00:00"},
        {"2026-03-01 08:05:09", "2026-03-01 08:05:09"},
        {"2028-02-29 23:59:59", "2028-02-29 23:59:59"},
        {"2026-02-29", nullptr},
        {"2026-02-30", nullptr},
        {"2026-13-01", nullptr},
        {"2026-03-01 24:00:00", nullptr},
        {"2026-03-01 08:60:00", nullptr},
        {"2026-3-1", nullptr},
        {"2026-03-01T08:05:09", nullptr},
        {"2026-03-01 08:05", nullptr},
        {"2026-03-01 ", nullptr},
        {"", nullptr},
        {"２０２６-03-01", nullptr},
    };
    for (const auto& c : cases) {
        const auto time = ParseLocalTime(c.text);
        if (!c.formatted) {
            EXPECT_FALSE(time) << c.text;
            continue;
        }
        ASSERT_TRUE(time) << c.text;
        EXPECT_EQ(FormatLocalTime(*time), c.formatted);
    }
    EXPECT_EQ(*ParseLocalTime("2026-03-02") - *ParseLocalTime("2026-03-01 12:00:00"), 12 * 3600);
}

}  // namespace
}  // namespace velquist
