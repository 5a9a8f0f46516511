#include <iostream>

#include "cli/commands.h"
#include "records/paid_records.h"

namespace velquist::cli {

namespace {

constexpr const char* kTreeUsage =
    R"(usage: velquist tree
       velquist tree delete-plan PLAN
       velquist tree delete-unit --plan PLAN UNIT

Lists the account tree (账户树): plans and their units with their ids. Deleting a plan removes
its units and their keywords; deleting a unit removes its keywords.
)";

}  // namespace

int RunTree(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kTreeUsage;
        return kExitOk;
    }
    bool missing = false;
    const auto plan = args.takeOption("--plan", missing);
    const auto& rest = args.rest();
    const bool list = rest.empty() && !plan;
    const bool deletePlanCall = rest.size() == 2 && rest[0] == "delete-plan" && !plan;
    const bool deleteUnitCall = rest.size() == 2 && rest[0] == "delete-unit" && plan;
    if (missing || args.unknownOption() || !(list || deletePlanCall || deleteUnitCall)) {
        *context.err << kTreeUsage;
        return kExitUsage;
    }
    if (!context.prepareDatabase()) return kExitRefused;
    const std::string& db = context.paths.databasePath;
    const auto tree = loadTree(db, *context.notifier);
    if (!tree) return kExitRefused;

    if (deletePlanCall) {
        for (const auto& p : *tree)
            if (p.plan == rest[1])
                return deletePlan(db, p.planId, *context.notifier) ? kExitOk : kExitRefused;
        return context.refuse("velquist: no plan " + rest[1]);
    }
    if (deleteUnitCall) {
        for (const auto& p : *tree)
            if (p.plan == *plan)
                for (const auto& u : p.units)
                    if (u.unit == rest[1])
                        return deleteUnit(db, u.unitId, *context.notifier) ? kExitOk : kExitRefused;
        return context.refuse("velquist: no unit " + rest[1] + " in plan " + *plan);
    }

    Table table{{"推广计划", "计划编号", "推广单元", "单元编号"},
                {},
                {{"plan"}, {"planId", true}, {"unit"}, {"unitId", true}}};
    for (const auto& p : *tree) {
        if (p.units.empty()) table.rows.push_back({p.plan, std::to_string(p.planId), "", ""});
        for (const auto& u : p.units)
            table.rows.push_back(
                {p.plan, std::to_string(p.planId), u.unit, std::to_string(u.unitId)});
    }
    if (context.format == OutputFormat::Text) *context.out << "账户树\n";
    PrintTable(*context.out, table, context.format);
    return kExitOk;
}

}  // namespace velquist::cli
