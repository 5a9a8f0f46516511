#include "records/paid_records.h"

#include <algorithm>

#include "records_test_support.h"

namespace velquist {
namespace {

using testing::RecordingNotifier;
using testing::RecordsTest;
using Table = std::vector<std::vector<std::string>>;

using PaidRecords = RecordsTest;

TEST_F(PaidRecords, FirstKeywordCreatesPlanOneUnitOneAndKeywordOne) {
    RecordingNotifier notifier;
    int committedWith = -1;
    const auto outcome = addPaidKeywords(dbPath(), {{"鲜花", "北京单元", "春季计划"}}, notifier,
                                         [&](int added) { committedWith = added; });
    EXPECT_TRUE(outcome.committed);
    EXPECT_EQ(committedWith, 1);
    EXPECT_EQ(rows("SELECT plan,planid FROM plan"), (Table{{"春季计划", "1"}}));
    EXPECT_EQ(rows("SELECT unit,unitid,planid FROM unit"), (Table{{"北京单元", "1", "1"}}));
    EXPECT_EQ(rows("SELECT keyword,unit,plan,keywordId,unitid FROM keyword"),
              (Table{{"鲜花", "北京单元", "春季计划", "1", "1"}}));
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"添加完毕"});
    // The marker was unset, so it takes the highest id before the add.
    EXPECT_EQ(Process().firstNewKeywordId.load(), 0);
    const auto items = Process().treeItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].unitId, 1);
    EXPECT_EQ(items[1].unit, "北京单元");
}

TEST_F(PaidRecords, BatchReusesPlansAndUnitsAndSkipsRepeatedTriples) {
    RecordingNotifier notifier;
    const auto outcome = addPaidKeywords(dbPath(),
                                         {
                                             {"k", "u1", "p"},
                                             {"k", "u1", "p"},    // same triple again
                                             {"k", "u2", "p"},    // same text, other unit
                                             {"k", "u1", "q"},    // same unit name, other plan
                                             {"  ", "u9", "p9"},  // blank: dropped whole
                                             {"d", "", " "},      // empty names are the default
                                         },
                                         notifier);
    EXPECT_EQ(outcome.requested, 5);
    EXPECT_EQ(outcome.added, 4);
    EXPECT_EQ(outcome.skipped, 1);
    EXPECT_EQ(notifier.messages,
              std::vector<std::string>{"您添加的内容包含已有的或重复的项，其余项已添加完毕"});
    EXPECT_EQ(rows("SELECT planid,plan FROM plan ORDER BY planid"),
              (Table{{"1", "p"}, {"2", "q"}, {"3", "默认"}}));
    EXPECT_EQ(rows("SELECT unitid,unit,planid FROM unit ORDER BY unitid"),
              (Table{{"1", "u1", "1"}, {"2", "u2", "1"}, {"3", "u1", "2"}, {"4", "默认", "3"}}));
    EXPECT_EQ(rows("SELECT keywordId,keyword,unit,plan,unitid FROM keyword ORDER BY keywordId"),
              (Table{{"1", "k", "u1", "p", "1"},
                     {"3", "k", "u2", "p", "2"},
                     {"4", "k", "u1", "q", "3"},
                     {"5", "d", "默认", "默认", "4"}}));
}

TEST_F(PaidRecords, FindsPlansAndUnitsOtherProcessesStoredAndKeepsLongNamesWhole) {
    // Stored by someone else: not in this process's tree items.
    exec("INSERT INTO plan (plan,planid) VALUES ('Plan',5),('plan',6)");
    exec("INSERT INTO unit (unit,unitid,planid) VALUES ('Unit',9,5)");
    exec(
        "INSERT INTO keyword (keyword,unit,plan,keywordId,unitid) VALUES "
        "('old','Unit','Plan',40,9)");
    Process().firstNewKeywordId = 12;  // already set: stays

    std::string longName;
    for (int i = 0; i < 100; ++i) longName += "长";
    RecordingNotifier notifier;
    const auto outcome = addPaidKeywords(
        dbPath(), {{"a", "Unit", "Plan"}, {"b", "Unit", "plan"}, {longName, longName, longName}},
        notifier);
    EXPECT_EQ(outcome.added, 3);
    EXPECT_EQ(Process().firstNewKeywordId.load(), 12);
    // Names match byte for byte: "plan" is a plan of its own, and gets a unit of its own.
    EXPECT_EQ(
        rows("SELECT keywordId,keyword,unitid FROM keyword WHERE keywordId>40 ORDER BY keywordId"),
        (Table{{"41", "a", "9"}, {"42", "b", "10"}, {"43", longName, "11"}}));
    EXPECT_EQ(rows("SELECT unitid,planid FROM unit WHERE unitid>9 ORDER BY unitid"),
              (Table{{"10", "6"}, {"11", "7"}}));
    EXPECT_EQ(rows("SELECT plan FROM plan WHERE planid=7"), (Table{{longName}}));
    EXPECT_EQ(rows("SELECT unit FROM unit WHERE unitid=11"), (Table{{longName}}));
}

TEST_F(PaidRecords, FailedInsertRollsBackKeywordsPlansAndUnits) {
    exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON keyword WHEN NEW.keyword='boom' "
        "BEGIN SELECT RAISE(ABORT,'refused'); END");
    RecordingNotifier notifier;
    const auto outcome = addPaidKeywords(
        dbPath(), {{"a", "u", "p"}, {"boom", "u2", "p2"}, {"c", "u", "p"}}, notifier);
    EXPECT_FALSE(outcome.committed);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"添加失败"});
    EXPECT_EQ(count("keyword"), 0);
    EXPECT_EQ(count("unit"), 0);
    EXPECT_EQ(count("plan"), 0);
}

// Plans 1 (units 1, 2), 2 (units 3, 4) and 3 (unit 5); keywordIds 1..5 in units 1..5 and
// keyword 6 added later to unit 4.
class PaidTree : public RecordsTest {
  protected:
    void SetUp() override {
        RecordsTest::SetUp();
        exec("INSERT INTO plan (plan,planid) VALUES ('甲',1),('乙',2),('丙',3)");
        exec(
            "INSERT INTO unit (unit,unitid,planid) VALUES ('u1',1,1),('u2',2,1),('u3',3,2),"
            "('u4',4,2),('u5',5,3)");
        exec(
            "INSERT INTO keyword (keyword,unit,plan,keywordId,unitid) VALUES "
            "('k1','u1','甲',1,1),('k2','u2','甲',2,2),('k3','u3','乙',3,3),"
            "('k4','u4','乙',4,4),('k5','u5','丙',5,5),('k6','u4','乙',6,4)");
    }

    std::vector<int> listedIds(const std::vector<int>& plans, const std::vector<int>& units,
                               std::optional<int> newAfter) const {
        const auto list = listPaidKeywords(dbPath(), plans, units, newAfter, {"a.com"});
        std::vector<int> ids;
        if (!list) {
            ADD_FAILURE() << "list failed";
            return ids;
        }
        for (const auto& row : list->rows) ids.push_back(row.keywordId);
        return ids;
    }
};

TEST_F(PaidTree, FilterShapesSelectTheTickedNodesAndTheNewKeywords) {
    const struct {
        std::vector<int> plans;
        std::vector<int> units;
        std::optional<int> newAfter;
        std::vector<int> expected;
    } cases[] = {
        {{1}, {}, {}, {1, 2}},      {{1}, {}, 5, {1, 2, 6}},   {{}, {3, 5}, {}, {3, 5}},
        {{}, {3, 5}, 5, {3, 5, 6}}, {{1}, {5}, {}, {1, 2, 5}}, {{1, 3}, {3}, 5, {1, 2, 3, 5, 6}},
        {{}, {}, 4, {5, 6}},  // no tree filter: only the new keywords
        {{}, {}, {}, {}},           {{9}, {}, {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(listedIds(c.plans, c.units, c.newAfter), c.expected)
            << "plans " << c.plans.size() << " units " << c.units.size() << " new "
            << c.newAfter.value_or(-1);
}

TEST_F(PaidTree, UnitFilterListsRowsByIdThenUrlWithTheirResults) {
    // Row order follows the table's own id, not the keywordId.
    exec("INSERT INTO keyword (keyword,unit,plan,keywordId,unitid) VALUES ('k7','u3','乙',2,3)");
    exec("UPDATE keyword SET time='2024-05-02 09:00:00' WHERE keyword IN ('k3','k7')");
    exec(
        "INSERT INTO semrank (rank,rankNum,url,keywordId) VALUES ('左2',2,'b.com',3),"
        "('右1',51,'a.com',3),('无',1100,'x.com',5),('无',1100,'w.com',5)");
    const auto list = listPaidKeywords(dbPath(), {}, {3, 5}, {}, {"a.com", "b.com"});
    ASSERT_TRUE(list.has_value());
    std::vector<std::string> keywords;
    for (const auto& row : list->rows) keywords.push_back(row.keyword);
    EXPECT_EQ(keywords, (std::vector<std::string>{"k3", "k5", "k7"}));
    EXPECT_EQ(list->queriedCount, 1);  // k7 has a time but no result

    const auto& k3 = list->rows[0];
    EXPECT_EQ(k3.unit, "u3");
    EXPECT_EQ(k3.plan, "乙");
    EXPECT_EQ(k3.time, "2024-05-02 09:00:00");
    EXPECT_EQ(k3.sites[0].rankText, "右1");
    EXPECT_EQ(k3.sites[0].rankNum, 51);
    EXPECT_EQ(k3.sites[1].rankText, "左2");
    // Results of sites that have no column are not shown.
    EXPECT_EQ(list->rows[1].sites[0].url, "");
    EXPECT_EQ(list->rows[1].sites[0].rankText, "");
    EXPECT_EQ(list->rows[1].sites[1].url, "");
}

TEST_F(PaidTree, ListRefusesComposedSortTexts) {
    EXPECT_FALSE(listPaidKeywords(dbPath(), {1}, {}, {}, {}, "id) AS x; DROP TABLE keyword; --")
                     .has_value());
    EXPECT_TRUE(listPaidKeywords(dbPath(), {1}, {}, {}, {}, "key.keyword", "DESC").has_value());
    EXPECT_EQ(count("keyword"), 6);
}

TEST_F(PaidTree, TreeAndChoicesComeInTheirOrders) {
    exec("INSERT INTO plan (plan,planid) VALUES ('a-plan',4)");
    exec("INSERT INTO unit (unit,unitid,planid) VALUES ('u0',7,1)");
    RecordingNotifier notifier;
    const auto tree = loadTree(dbPath(), notifier);
    ASSERT_TRUE(tree.has_value());
    ASSERT_EQ(tree->size(), 4u);
    EXPECT_EQ((*tree)[0].plan, "甲");
    ASSERT_EQ((*tree)[0].units.size(), 3u);
    EXPECT_EQ((*tree)[0].units[2].unit, "u0");
    EXPECT_TRUE((*tree)[3].units.empty());
    const auto items = Process().treeItems();
    ASSERT_EQ(items.size(), 4u + 6u);
    EXPECT_EQ(items[0].planId, 1);
    EXPECT_EQ(items[0].unitId, 0);
    EXPECT_EQ(items[1].unitId, 1);
    EXPECT_EQ(items[1].plan, "甲");

    const auto plans = loadPlanChoices(dbPath(), notifier);
    ASSERT_TRUE(plans.has_value());
    std::vector<std::string> names;
    for (const auto& plan : *plans) names.push_back(plan.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a-plan", "丙", "乙", "甲"}));  // by bytes

    const auto units = loadUnitChoices(dbPath(), 1, notifier);
    ASSERT_TRUE(units.has_value());
    ASSERT_EQ(units->size(), 3u);
    EXPECT_EQ((*units)[2].id, 7);
    EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(PaidTree, UnreadableUnitsFailTheTreeWithItsOwnText) {
    Process().setTreeItems({{1, "kept", 0, ""}});
    exec("DROP TABLE unit");
    RecordingNotifier notifier;
    EXPECT_FALSE(loadTree(dbPath(), notifier).has_value());
    EXPECT_FALSE(loadUnitChoices(dbPath(), 1, notifier).has_value());
    EXPECT_EQ(notifier.messages, (std::vector<std::string>{"连接单元数据失败，账户树未能读取成功！",
                                                           "连接单元数据失败，未能读取成功！"}));
    EXPECT_EQ(Process().treeItems().at(0).plan, "kept");
}

TEST_F(PaidTree, DeletesRemoveKeywordsUnitsAndPlans) {
    exec(
        "INSERT INTO semrank (rank,rankNum,url,keywordId) VALUES ('左1',1,'a.com',1),"
        "('左1',1,'a.com',3),('左1',1,'a.com',4)");
    RecordingNotifier notifier;
    EXPECT_TRUE(deletePaidKeywords(dbPath(), {{1, "k1", "u1", "甲"}}, notifier));
    EXPECT_EQ(column("SELECT keywordId FROM semrank ORDER BY keywordId"),
              (std::vector<std::string>{"3", "4"}));

    EXPECT_TRUE(deleteUnit(dbPath(), 5, notifier));
    EXPECT_EQ(column("SELECT unitid FROM unit ORDER BY unitid"),
              (std::vector<std::string>{"1", "2", "3", "4"}));

    EXPECT_TRUE(deletePlan(dbPath(), 2, notifier));
    EXPECT_EQ(column("SELECT planid FROM plan ORDER BY planid"),
              (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(column("SELECT unitid FROM unit ORDER BY unitid"),
              (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(column("SELECT keyword FROM keyword ORDER BY id"), std::vector<std::string>{"k2"});
    // Results of deleted keywords stay until the next clearing.
    EXPECT_EQ(count("semrank"), 2);
    EXPECT_TRUE(notifier.messages.empty());

    EXPECT_TRUE(clearPaidResults(dbPath()));
    EXPECT_EQ(count("semrank"), 0);
}

TEST_F(PaidTree, FailedDeletesLeaveEverythingInPlace) {
    exec(
        "CREATE TRIGGER keepUnit BEFORE DELETE ON unit WHEN OLD.unitid=3 "
        "BEGIN SELECT RAISE(ABORT,'kept'); END");
    exec(
        "CREATE TRIGGER keepKeyword BEFORE DELETE ON keyword WHEN OLD.keyword='k2' "
        "BEGIN SELECT RAISE(ABORT,'kept'); END");
    RecordingNotifier notifier;
    EXPECT_FALSE(deleteUnit(dbPath(), 3, notifier));  // keywords first, then the unit fails
    EXPECT_FALSE(deletePlan(dbPath(), 2, notifier));  // its unit 3 fails last
    EXPECT_FALSE(
        deletePaidKeywords(dbPath(), {{1, "k1", "u1", "甲"}, {2, "k2", "u2", "甲"}}, notifier));
    EXPECT_EQ(notifier.messages,
              (std::vector<std::string>{"删除失败！", "删除失败！", "删除关键词失败！"}));
    EXPECT_EQ(count("keyword"), 6);
    EXPECT_EQ(count("unit"), 5);
    EXPECT_EQ(count("plan"), 3);
}

}  // namespace
}  // namespace velquist
