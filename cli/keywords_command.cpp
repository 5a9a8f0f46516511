#include <iostream>
#include <set>

#include "cli/commands.h"
#include "core/process_state.h"
#include "core/text.h"
#include "records/natural_records.h"
#include "records/paid_records.h"
#include "records/site_records.h"

namespace velquist::cli {

namespace {

constexpr const char* kKeywordsUsage =
    R"(usage: velquist keywords list [--paid [--plan P] [--unit U]]
       velquist keywords add [--paid [--plan P] [--unit U]] KEYWORD... | -
       velquist keywords delete [--paid [--plan P] [--unit U]] KEYWORD...

Natural keywords by default; --paid works on the account tree (plan > unit > keyword), where a
plan or unit left out is "默认" when adding. "-" reads one keyword per line from standard input.
After "--" a keyword may start with "-". Text must be UTF-8 without NUL bytes; one bad keyword
refuses the whole batch. The list shows each keyword's last ranks per enabled site.
)";

constexpr const char* kNoKeywordSelected = "未选择关键词!";

std::vector<std::string> ReadKeywordLines(std::istream& in) {
    std::vector<std::string> keywords;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        keywords.push_back(line);
    }
    return keywords;
}

struct SiteColumns {
    std::vector<std::string> all;      // every site, the list's column order
    std::vector<std::size_t> enabled;  // indexes into `all` of the columns shown
};

SiteColumns LoadSiteColumns(const std::string& db) {
    Process().siteColumnCount = ReloadSiteList(db);
    SiteColumns columns;
    for (const auto& site : Process().promotionSites()) {
        if (site.selected) columns.enabled.push_back(columns.all.size());
        columns.all.push_back(site.url);
    }
    return columns;
}

void AppendResults(std::vector<std::string>& row, const std::vector<SiteResult>& results,
                   const SiteColumns& columns) {
    for (const std::size_t c : columns.enabled)
        row.push_back(c < results.size() ? results[c].rankText : std::string());
}

// The plan and unit ids a --plan/--unit filter names; all plans without a filter.
bool TreeFilter(CliContext& context, const std::optional<std::string>& plan,
                const std::optional<std::string>& unit, std::vector<int>& planIds,
                std::vector<int>& unitIds) {
    const auto tree = loadTree(context.paths.databasePath, *context.notifier);
    if (!tree) return false;
    for (const auto& p : *tree) {
        if (plan && p.plan != *plan) continue;
        if (unit) {
            for (const auto& u : p.units)
                if (u.unit == *unit) unitIds.push_back(u.unitId);
        } else {
            planIds.push_back(p.planId);
        }
    }
    return true;
}

int ListKeywords(CliContext& context, bool paid, const std::optional<std::string>& plan,
                 const std::optional<std::string>& unit) {
    const std::string& db = context.paths.databasePath;
    const SiteColumns columns = LoadSiteColumns(db);
    Table table;
    if (!paid) {
        table.headings = {"编号", "关键词", "查询时间"};
        table.jsonKeys = {{"id", true}, {"keyword"}, {"time"}};
        table.jsonGroupKey = "ranks";
        for (const std::size_t c : columns.enabled) table.headings.push_back(columns.all[c]);
        const auto list = loadNaturalList(db, columns.all);
        if (!list) return context.refuse("数据库打开失败！");
        for (const auto& r : list->rows) {
            std::vector<std::string> row = {std::to_string(r.keywordId), r.keyword, r.time};
            AppendResults(row, r.sites, columns);
            table.rows.push_back(std::move(row));
        }
    } else {
        table.headings = {"编号", "关键词", "推广计划", "推广单元", "查询时间"};
        table.jsonKeys = {{"id", true}, {"keyword"}, {"plan"}, {"unit"}, {"time"}};
        table.jsonGroupKey = "ranks";
        for (const std::size_t c : columns.enabled) table.headings.push_back(columns.all[c]);
        std::vector<int> planIds;
        std::vector<int> unitIds;
        if (!TreeFilter(context, plan, unit, planIds, unitIds)) return kExitRefused;
        if (!planIds.empty() || !unitIds.empty()) {
            const auto list = listPaidKeywords(db, planIds, unitIds, std::nullopt, columns.all);
            if (!list) return context.refuse("数据库打开失败！");
            for (const auto& r : list->rows) {
                std::vector<std::string> row = {std::to_string(r.keywordId), r.keyword, r.plan,
                                                r.unit, r.time};
                AppendResults(row, r.sites, columns);
                table.rows.push_back(std::move(row));
            }
        }
    }
    PrintTable(*context.out, table, context.format);
    return kExitOk;
}

int AddKeywords(CliContext& context, bool paid, const std::optional<std::string>& plan,
                const std::optional<std::string>& unit, std::vector<std::string> keywords) {
    bool anyText = false;
    for (const auto& k : keywords) anyText = anyText || !TrimWhitespace(k).empty();
    if (!anyText) return context.refuse("请输入关键词！");
    AddOutcome outcome;
    if (!paid) {
        outcome = addNaturalKeywords(context.paths.databasePath, keywords, *context.notifier);
    } else {
        std::vector<PaidKeywordEntry> entries;
        entries.reserve(keywords.size());
        for (auto& k : keywords)
            entries.push_back({std::move(k), unit.value_or(""), plan.value_or("")});
        outcome = addPaidKeywords(context.paths.databasePath, entries, *context.notifier);
    }
    return context.finish(outcome.committed ? kExitOk : kExitRefused);
}

int DeleteKeywords(CliContext& context, bool paid, const std::optional<std::string>& plan,
                   const std::optional<std::string>& unit, const std::vector<std::string>& names) {
    const std::string& db = context.paths.databasePath;
    const std::set<std::string> wanted(names.begin(), names.end());
    if (!paid) {
        const auto list = loadNaturalList(db, {});
        std::vector<std::pair<int, std::string>> selected;
        if (list)
            for (const auto& r : list->rows)
                if (wanted.count(r.keyword)) selected.emplace_back(r.keywordId, r.keyword);
        if (selected.empty()) return context.refuse(kNoKeywordSelected);
        return context.finish(
            deleteNaturalKeywords(db, selected, *context.notifier) ? kExitOk : kExitRefused);
    }
    std::vector<int> planIds;
    std::vector<int> unitIds;
    if (!TreeFilter(context, plan, unit, planIds, unitIds)) return kExitRefused;
    std::vector<PaidKeywordKey> selected;
    if (!planIds.empty() || !unitIds.empty()) {
        const auto list = listPaidKeywords(db, planIds, unitIds, std::nullopt, {});
        if (list)
            for (const auto& r : list->rows)
                if (wanted.count(r.keyword))
                    selected.push_back({r.keywordId, r.keyword, r.unit, r.plan});
    }
    if (selected.empty()) return context.refuse(kNoKeywordSelected);
    return context.finish(deletePaidKeywords(db, selected, *context.notifier) ? kExitOk
                                                                              : kExitRefused);
}

}  // namespace

int RunKeywords(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kKeywordsUsage;
        return kExitOk;
    }
    bool missing = false;
    const bool paid = args.takeFlag("--paid");
    const auto plan = args.takeOption("--plan", missing);
    const auto unit = args.takeOption("--unit", missing);
    const auto& rest = args.rest();
    if (missing || args.unknownOption() || rest.empty() || (!paid && (plan || unit))) {
        *context.err << kKeywordsUsage;
        return kExitUsage;
    }
    const std::string action = rest[0];
    std::vector<std::string> keywords(rest.begin() + 1, rest.end());
    if ((action == "list" && !keywords.empty()) ||
        ((action == "add" || action == "delete") && keywords.empty()) ||
        (action != "list" && action != "add" && action != "delete")) {
        *context.err << kKeywordsUsage;
        return kExitUsage;
    }
    // The whole batch is checked before anything is opened, so a bad line changes nothing.
    const bool fromInput = action == "add" && keywords.size() == 1 && keywords[0] == "-";
    if (fromInput) keywords = ReadKeywordLines(std::cin);
    const std::string nothingDone =
        action == "add" ? "; nothing was added" : "; nothing was deleted";
    for (const auto& [name, value] : {std::pair{"--plan", plan}, std::pair{"--unit", unit}})
        if (value && !IsValidUtf8(*value))
            return context.refuse(std::string("velquist: the name after ") + name +
                                  " is not valid UTF-8 text" + nothingDone);
    if (const auto bad = FindUnusableText(keywords, fromInput ? "input line" : "keyword"))
        return context.refuse("velquist: " + *bad + nothingDone);
    if (!context.prepareDatabase()) return kExitRefused;
    if (action == "list") return ListKeywords(context, paid, plan, unit);
    if (action == "add") return AddKeywords(context, paid, plan, unit, keywords);
    return DeleteKeywords(context, paid, plan, unit, keywords);
}

}  // namespace velquist::cli
