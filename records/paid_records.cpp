#include "records/paid_records.h"

#include <fmt/format.h>

#include <map>
#include <unordered_map>
#include <utility>

#include "core/database.h"
#include "core/process_state.h"
#include "core/text.h"
#include "records/keyword_batch.h"
#include "records/list_reader.h"

namespace velquist {

namespace {

enum class TreeReadError { None, Plans, Units };

std::optional<std::vector<TreePlan>> ReadTree(DbConnection& db, TreeReadError& error) {
    error = TreeReadError::None;
    std::vector<TreePlan> plans;
    DbStatement selectPlans(db, "SELECT planid, plan FROM plan order by planid");
    int rc = selectPlans.step();
    for (; rc == kSqliteRow; rc = selectPlans.step())
        plans.push_back({selectPlans.columnInt(0), selectPlans.columnText(1), {}});
    if (rc != kSqliteDone) {
        error = TreeReadError::Plans;
        return std::nullopt;
    }
    DbStatement selectUnits(db, "SELECT unitid, unit FROM unit WHERE planid = ? ORDER BY unitid");
    for (TreePlan& plan : plans) {
        selectUnits.bindInt(1, plan.planId);
        int unitRc = selectUnits.step();
        for (; unitRc == kSqliteRow; unitRc = selectUnits.step())
            plan.units.push_back({selectUnits.columnInt(0), selectUnits.columnText(1)});
        selectUnits.reset();
        if (unitRc != kSqliteDone) {
            error = TreeReadError::Units;
            return std::nullopt;
        }
    }
    return plans;
}

void PublishTreeItems(const std::vector<TreePlan>& plans) {
    std::vector<STRUCT_TREEDATA> items;
    for (const TreePlan& plan : plans) {
        items.push_back({plan.planId, plan.plan, 0, {}});
        for (const TreeUnit& unit : plan.units)
            items.push_back({plan.planId, plan.plan, unit.unitId, unit.unit});
    }
    Process().setTreeItems(std::move(items));
}

std::optional<std::vector<NamedId>> ReadChoices(DbStatement& select) {
    std::vector<NamedId> choices;
    int rc = select.step();
    for (; rc == kSqliteRow; rc = select.step())
        choices.push_back({select.columnInt(0), select.columnText(1)});
    if (rc != kSqliteDone) return std::nullopt;
    return choices;
}

const std::string& NameOrDefault(const std::string& name) {
    static const std::string defaultName = kDefaultTreeName;
    return records_detail::IsBlank(name) ? defaultName : name;
}

// Finds plans and units by exact name, creating the missing ones with the next ids. Runs
// inside the add's write transaction, so the database itself is the reference: a plan another
// process created is found, and no id is handed out twice.
class TreeResolver {
  public:
    explicit TreeResolver(DbConnection& db)
        : m_lastPlanId(ReadSingleInt(db, "SELECT max(planid) FROM plan")),
          m_lastUnitId(ReadSingleInt(db, "SELECT max(unitid) FROM unit")),
          m_findPlan(db, "SELECT planid FROM plan WHERE plan=? ORDER BY planid LIMIT 1"),
          m_findUnit(db,
                     "SELECT unitid FROM unit WHERE planid=? AND unit=? ORDER BY unitid LIMIT 1"),
          m_insertPlan(db, "INSERT INTO plan (plan,planid) VALUES (?,?)"),
          m_insertUnit(db, "INSERT INTO unit (unit,unitid,planid) VALUES (?,?,?)") {}

    std::optional<int> planId(const std::string& plan) {
        if (const auto known = m_plans.find(plan); known != m_plans.end()) return known->second;
        auto id = lookUp(m_findPlan, [&] { m_findPlan.bindText(1, plan); });
        if (!id) return std::nullopt;
        if (*id == 0) {
            *id = ++m_lastPlanId;
            m_insertPlan.bindText(1, plan);
            m_insertPlan.bindInt(2, *id);
            if (!records_detail::StepAndReset(m_insertPlan)) return std::nullopt;
        }
        m_plans.emplace(plan, *id);
        return id;
    }

    std::optional<int> unitId(int planId, const std::string& unit) {
        auto key = std::make_pair(planId, unit);
        if (const auto known = m_units.find(key); known != m_units.end()) return known->second;
        auto id = lookUp(m_findUnit, [&] {
            m_findUnit.bindInt(1, planId);
            m_findUnit.bindText(2, unit);
        });
        if (!id) return std::nullopt;
        if (*id == 0) {
            *id = ++m_lastUnitId;
            m_insertUnit.bindText(1, unit);
            m_insertUnit.bindInt(2, *id);
            m_insertUnit.bindInt(3, planId);
            if (!records_detail::StepAndReset(m_insertUnit)) return std::nullopt;
        }
        m_units.emplace(std::move(key), *id);
        return id;
    }

  private:
    // The found id, 0 when there is none, nullopt when the read failed.
    template <typename Bind>
    static std::optional<int> lookUp(DbStatement& find, Bind bind) {
        bind();
        const int rc = find.step();
        const int id = rc == kSqliteRow ? find.columnInt(0) : 0;
        find.reset();
        if (rc != kSqliteRow && rc != kSqliteDone) return std::nullopt;
        return id;
    }

    int m_lastPlanId;
    int m_lastUnitId;
    DbStatement m_findPlan;
    DbStatement m_findUnit;
    DbStatement m_insertPlan;
    DbStatement m_insertUnit;
    std::unordered_map<std::string, int> m_plans;
    std::map<std::pair<int, std::string>, int> m_units;
};

std::string JoinIds(const std::vector<int>& ids) { return fmt::format("{}", fmt::join(ids, ",")); }

// The tree filter of the paid list, in the six shapes the page relies on.
std::string FilterClause(const std::vector<int>& planIds, const std::vector<int>& unitIds,
                         std::optional<int> newKeywordsAfter) {
    const std::string plans = JoinIds(planIds);
    const std::string units = JoinIds(unitIds);
    const std::string extra =
        newKeywordsAfter ? fmt::format(" OR a.keywordId > {0}", *newKeywordsAfter) : std::string();
    if (!planIds.empty() && !unitIds.empty()) {
        if (!extra.empty())
            return fmt::format(" AND ((c.planid IN ({0}) OR b.unitid IN ({1})) ", plans, units) +
                   extra + ")";
        return fmt::format(" AND (c.planid IN ({0}) OR b.unitid IN ({1})) ", plans, units);
    }
    if (!planIds.empty()) {
        if (!extra.empty()) return fmt::format(" AND (c.planid IN ({0})", plans) + extra + ")";
        return fmt::format(" AND c.planid IN ({0})", plans);
    }
    if (!unitIds.empty()) {
        if (!extra.empty()) return fmt::format(" AND (b.unitid IN ({0})", units) + extra + ")";
        return fmt::format(" AND b.unitid IN ({0})", units);
    }
    // Without a tree filter only the new keywords are listed.
    return ReplaceAll(extra, "OR", "AND");
}

// Runs `statements` in one write transaction. The failure text is shown only after the rollback
// and the close, since a message box waits for the user and the lock would wait with it.
template <typename Statements>
bool RunDeletes(const std::string& dbPath, UserNotifier& notifier, const char* failureText,
                Statements statements) {
    const bool deleted = [&] {
        DbConnection db;
        if (!db.open(dbPath)) return false;
        WriteTransaction transaction(db);
        return transaction.begun() && statements(db) && transaction.commit();
    }();
    if (!deleted) notifier.showMessage(failureText);
    return deleted;
}

// The add transaction alone, so that its lock and connection are gone when the caller shows a
// message. Counts into `outcome`; false when nothing was stored.
bool InsertPaidKeywords(const std::string& dbPath, const std::vector<PaidKeywordEntry>& entries,
                        AddOutcome& outcome) {
    DbConnection db;
    if (!db.open(dbPath)) return false;
    {
        WriteTransaction transaction(db);
        if (!transaction.begun()) return false;
        int lastKeywordId = ReadSingleInt(db, "SELECT max(keywordId) FROM keyword");
        int unmarked = -1;
        Process().firstNewKeywordId.compare_exchange_strong(unmarked, lastKeywordId);

        TreeResolver tree(db);
        DbStatement insert(db,
                           "INSERT INTO keyword (keyword,unit,plan,keywordId,unitid) "
                           "VALUES (?,?,?,?,?)");
        for (const PaidKeywordEntry& entry : entries) {
            if (records_detail::IsBlank(entry.keyword)) continue;
            const std::string& plan = NameOrDefault(entry.plan);
            const std::string& unit = NameOrDefault(entry.unit);
            const auto planId = tree.planId(plan);
            if (!planId) return false;
            const auto unitId = tree.unitId(*planId, unit);
            if (!unitId) return false;
            insert.bindText(1, entry.keyword);
            insert.bindText(2, unit);
            insert.bindText(3, plan);
            insert.bindInt(4, ++lastKeywordId);
            insert.bindInt(5, *unitId);
            const auto result = records_detail::StepInsert(db, insert);
            if (result == records_detail::InsertResult::Failed) return false;
            if (result == records_detail::InsertResult::Duplicate)
                ++outcome.skipped;
            else
                ++outcome.added;
        }
        if (!transaction.commit()) return false;
    }
    TreeReadError ignored;
    if (const auto plans = ReadTree(db, ignored)) PublishTreeItems(*plans);
    return true;
}

bool RunWithId(DbConnection& db, const char* sql, int id) {
    DbStatement statement(db, sql);
    statement.bindInt(1, id);
    return StepSucceeded(statement.step());
}

}  // namespace

std::optional<std::vector<TreePlan>> loadTree(const std::string& dbPath, UserNotifier& notifier) {
    TreeReadError error = TreeReadError::Plans;
    std::optional<std::vector<TreePlan>> plans;
    {
        DbConnection db;
        if (db.open(dbPath)) plans = ReadTree(db, error);
    }
    if (!plans) {
        notifier.showMessage(error == TreeReadError::Units ? kTreeUnitsReadFailed
                                                           : kTreeReadFailed);
        return std::nullopt;
    }
    PublishTreeItems(*plans);
    return plans;
}

std::optional<std::vector<NamedId>> loadPlanChoices(const std::string& dbPath,
                                                    UserNotifier& notifier) {
    std::optional<std::vector<NamedId>> choices;
    if (DbConnection db; db.open(dbPath)) {
        DbStatement select(db, "SELECT planid, plan FROM plan order by plan");
        choices = ReadChoices(select);
    }
    if (!choices) notifier.showMessage(kTreeReadFailed);
    return choices;
}

std::optional<std::vector<NamedId>> loadUnitChoices(const std::string& dbPath, int planId,
                                                    UserNotifier& notifier) {
    std::optional<std::vector<NamedId>> choices;
    if (DbConnection db; db.open(dbPath)) {
        DbStatement select(db, "SELECT unitid, unit FROM unit WHERE planid = ? ORDER BY unitid");
        select.bindInt(1, planId);
        choices = ReadChoices(select);
    }
    if (!choices) notifier.showMessage(kUnitChoicesReadFailed);
    return choices;
}

AddOutcome addPaidKeywords(const std::string& dbPath, const std::vector<PaidKeywordEntry>& entries,
                           UserNotifier& notifier, std::function<void(int added)> onCommitted) {
    AddOutcome outcome;
    for (const PaidKeywordEntry& entry : entries)
        if (!records_detail::IsBlank(entry.keyword)) ++outcome.requested;
    if (!InsertPaidKeywords(dbPath, entries, outcome)) {
        notifier.showMessage(kAddFailed);
        return AddOutcome{false, outcome.requested, 0, 0};
    }
    outcome.committed = true;
    if (onCommitted) onCommitted(outcome.added);
    notifier.showMessage(outcome.skipped == 0 ? kAddFinished : kAddPartlySkipped);
    return outcome;
}

std::optional<PaidList> listPaidKeywords(const std::string& dbPath, const std::vector<int>& planIds,
                                         const std::vector<int>& unitIds,
                                         std::optional<int> newKeywordsAfter,
                                         const std::vector<std::string>& siteColumns,
                                         std::string_view column, std::string_view direction) {
    if (!records_detail::IsSafeSortColumn(column) ||
        !records_detail::IsSafeSortDirection(direction))
        return std::nullopt;
    PaidList list;
    if (planIds.empty() && unitIds.empty() && !newKeywordsAfter) return list;
    DbConnection db;
    if (!db.open(dbPath)) return std::nullopt;

    const std::string selection =
        "(SELECT a.*, b.unitid, b.unit, c.planid, c.plan FROM keyword a, unit b, plan c "
        "\t\t\t\t\t\t  WHERE a.unitid=b.unitid AND b.planid=c.planid" +
        FilterClause(planIds, unitIds, newKeywordsAfter) + ")";
    const int count = ReadSingleInt(db, "SELECT COUNT(*) FROM \t\t\t\t\t\t  " + selection);
    if (count > 0) list.rows.reserve(static_cast<std::size_t>(count));

    const std::string ordered = fmt::format(
        "{0}, url ASC",
        "SELECT DISTINCT key.keywordId,key.keyword,key.unit,key.plan,key.time,link.rank,link.url,"
        "link.rankNum FROM \t\t\t\t\t\t  " +
            selection +
            " AS key LEFT JOIN semrank AS link ON key.keywordId=link.keywordId ORDER BY " +
            std::string(column) + " " + std::string(direction));
    DbStatement select(db, ordered);
    const records_detail::SitePlacer placer(siteColumns);
    const auto queried = records_detail::ReadGroupedRows(
        select, placer, 4, 5, 6, 7, list.rows, [](PaidKeywordRow& row, const DbStatement& source) {
            row.keyword = source.columnText(1);
            row.unit = source.columnText(2);
            row.plan = source.columnText(3);
        });
    if (!queried) return std::nullopt;
    list.queriedCount = *queried;
    return list;
}

bool deletePaidKeywords(const std::string& dbPath, const std::vector<PaidKeywordKey>& keywords,
                        UserNotifier& notifier) {
    return RunDeletes(dbPath, notifier, kDeleteKeywordsFailed, [&](DbConnection& db) {
        DbStatement deleteKeyword(db, "DELETE FROM keyword WHERE keyword=? AND unit=? AND plan=?");
        DbStatement deleteResults(db, "DELETE FROM semrank WHERE keywordId=?");
        for (const PaidKeywordKey& key : keywords) {
            deleteKeyword.bindText(1, key.keyword);
            deleteKeyword.bindText(2, key.unit);
            deleteKeyword.bindText(3, key.plan);
            if (!records_detail::StepAndReset(deleteKeyword)) return false;
            deleteResults.bindInt(1, key.keywordId);
            if (!records_detail::StepAndReset(deleteResults)) return false;
        }
        return true;
    });
}

bool deleteUnit(const std::string& dbPath, int unitId, UserNotifier& notifier) {
    return RunDeletes(dbPath, notifier, kDeleteFailed, [unitId](DbConnection& db) {
        return RunWithId(db, "DELETE FROM keyword WHERE unitid=?", unitId) &&
               RunWithId(db, "DELETE FROM unit WHERE unitid=?", unitId);
    });
}

bool deletePlan(const std::string& dbPath, int planId, UserNotifier& notifier) {
    return RunDeletes(dbPath, notifier, kDeleteFailed, [planId](DbConnection& db) {
        // Read inside the transaction, so a unit added meanwhile loses its keywords too.
        std::vector<int> unitIds;
        {
            DbStatement select(db, "SELECT unitid FROM unit WHERE planid=? ORDER BY unitid");
            select.bindInt(1, planId);
            int rc = select.step();
            for (; rc == kSqliteRow; rc = select.step()) unitIds.push_back(select.columnInt(0));
            if (rc != kSqliteDone) return false;
        }
        DbStatement deleteKeywords(db, "DELETE FROM keyword WHERE unitid=?");
        for (const int unitId : unitIds) {
            deleteKeywords.bindInt(1, unitId);
            if (!records_detail::StepAndReset(deleteKeywords)) return false;
        }
        return RunWithId(db, "DELETE FROM unit WHERE planid=?", planId) &&
               RunWithId(db, "DELETE FROM plan WHERE planid=?", planId);
    });
}

bool clearPaidResults(const std::string& dbPath) {
    DbConnection db;
    if (!db.open(dbPath)) return false;
    DbStatement statement(db, "DELETE FROM semrank");
    return StepSucceeded(statement.step());
}

}  // namespace velquist
