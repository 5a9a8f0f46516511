#include <iostream>
#include <map>
#include <vector>

#include "cli/commands.h"
#include "records/site_records.h"

namespace velquist::cli {

namespace {

constexpr const char* kSitesUsage =
    R"(usage: velquist sites list
       velquist sites add URL
       velquist sites enable SITE | disable SITE
       velquist sites modify SITE NEW_URL
       velquist sites remove SITE

SITE is a site's address or its number in "sites list". Only enabled sites are queried.
Addresses must be UTF-8 text.
)";

int EditResult(CliContext& context, SiteEditStatus status, const std::string& site) {
    switch (status) {
        case SiteEditStatus::Saved:
            return context.finish(kExitOk);
        case SiteEditStatus::NotFound:
            return context.refuse("velquist: no site " + site + " (see: velquist sites list)");
        case SiteEditStatus::Refused:
        case SiteEditStatus::SaveFailed:
            break;
    }
    return context.finish(kExitRefused);
}

}  // namespace

int RunSites(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kSitesUsage;
        return kExitOk;
    }
    const auto& rest = args.rest();
    static const std::map<std::string, std::size_t> kArity = {
        {"list", 1}, {"add", 2}, {"enable", 2}, {"disable", 2}, {"modify", 3}, {"remove", 2}};
    if (rest.empty() || !kArity.count(rest[0]) || kArity.at(rest[0]) != rest.size()) {
        *context.err << kSitesUsage;
        return kExitUsage;
    }
    // Checked before the database is opened, so a bad address changes nothing.
    const std::vector<std::string> values(rest.begin() + 1, rest.end());
    if (const auto bad = FindUnusableText(values, "address"))
        return context.refuse("velquist: " + *bad + "; nothing was changed");
    if (!context.prepareDatabase()) return kExitRefused;
    const std::string& db = context.paths.databasePath;
    const std::string& action = rest[0];

    if (action == "add") {
        const auto status = AddSite(db, rest[1], *context.notifier);
        return EditResult(context, status, rest[1]);
    }
    if (action == "enable" || action == "disable")
        return EditResult(
            context, SetSiteEnabled(db, rest[1], action == "enable", *context.notifier), rest[1]);
    if (action == "modify")
        return EditResult(context, ModifySite(db, rest[1], rest[2], *context.notifier), rest[1]);
    if (action == "remove")
        return EditResult(context, RemoveSite(db, rest[1], *context.notifier), rest[1]);

    const auto sites = LoadSitesForSettings(db);
    if (!sites) return context.refuse("数据库打开失败！");
    Table table{{"序号", "推广网址", "网址状态"}, {}, {{"number", true}, {"url"}, {"status"}}};
    int number = 0;
    for (const auto& site : *sites)
        table.rows.push_back(
            {std::to_string(++number), site.url, site.selected ? "已启用" : "已停用"});
    PrintTable(*context.out, table, context.format);
    return kExitOk;
}

}  // namespace velquist::cli
