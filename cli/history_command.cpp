#include <fmt/format.h>
#include <json/json.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <ostream>

#include "cli/commands.h"
#include "engine/rank_types.h"
#include "records/rank_history.h"
#include "records/site_records.h"

namespace velquist::cli {

namespace {

constexpr const char* kHistoryUsage =
    R"(usage: velquist history [--paid] [--site SITE] [--since DATE] [KEYWORD...]
       velquist history changes [--paid] [--since DATE]
       velquist history prune --before DATE

Every check a query stores is also kept in the rank history, which survives restarts (the live
results are cleared at every start and before each run of their kind).

  history          each keyword's series per site: the time of every check and its rank. All
                   keywords with history when none is named; with --paid a keyword shows under
                   every plan and unit it is in.
  history changes  the sites whose rank moved between their keyword's last two checks, best
                   gains first, with the old and the new rank. Ranks order by number (a paid
                   left slot before every right one) and "无" comes below every rank, so a site
                   newly found is the biggest gain and a site newly lost the biggest loss.
                   "查询失败" is no rank: a site whose latest check failed is left out, and a
                   failed check before it is passed over for the last one that finished.
  history prune    removes every check made before DATE.

  --site SITE   only this site: its address or its number in "sites list"
  --since DATE  history: only checks from DATE on. changes: compare with each site's rank at
                DATE (its last check before then, else its first one after), leaving out
                keywords not checked since DATE
DATE is YYYY-MM-DD (midnight) or "YYYY-MM-DD HH:MM:SS", in local time.
)";

constexpr const char* kReadFailed = "velquist: the rank history could not be read";

int Usage(CliContext& context, const std::string& problem = {}) {
    if (!problem.empty()) *context.err << "velquist: " << problem << '\n';
    *context.err << kHistoryUsage;
    return kExitUsage;
}

std::string KeywordTitle(const HistoryKey& key) {
    if (key.kind == RankKind::Natural) return key.keyword;
    return key.keyword + " [" + key.plan + " / " + key.unit + "]";
}

std::string ChangeText(const RankChange& change) {
    if (change.before.state == RankState::NotFound) return "新上榜";
    if (change.after.state == RankState::NotFound) return "掉出";
    const std::string arrow = change.gain > 0 ? "↑" : "↓";
    // Between the two paid columns the slots are not counted in one line.
    if (change.key.kind == RankKind::Paid &&
        (change.before.rankNum > kRightColumnOffset) != (change.after.rankNum > kRightColumnOffset))
        return arrow;
    return arrow + std::to_string(std::llabs(change.gain));
}

// Prints the series keyword by keyword, so even the whole history never sits in memory at once.
class SeriesPrinter {
  public:
    SeriesPrinter(CliContext& context, bool paid) : m_context(context), m_paid(paid) {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        builder["emitUTF8"] = true;
        m_json.reset(builder.newStreamWriter());
    }

    void begin() {
        std::ostream& out = *m_context.out;
        if (m_context.format == OutputFormat::Tsv)
            out << (m_paid ? "关键词\t推广计划\t推广单元\t网址\t查询时间\t排名\n"
                           : "关键词\t网址\t查询时间\t排名\n");
        if (m_context.format == OutputFormat::Json) out << '[';
    }

    void keyword(const HistoryKey& key, const std::vector<SiteSeries>& series) {
        std::ostream& out = *m_context.out;
        switch (m_context.format) {
            case OutputFormat::Text: {
                Table table{{"网址", "查询时间", "排名"}, {}};
                for (const auto& site : series)
                    for (const auto& point : site.points)
                        table.rows.push_back(
                            {site.url, FormatLocalTime(point.time), point.rankText});
                out << (m_printed++ ? "\n" : "") << KeywordTitle(key) << '\n';
                PrintTable(out, table, OutputFormat::Text);
                break;
            }
            case OutputFormat::Tsv: {
                std::string lead = TsvCell(key.keyword) + '\t';
                if (m_paid) lead += TsvCell(key.plan) + '\t' + TsvCell(key.unit) + '\t';
                for (const auto& site : series)
                    for (const auto& point : site.points)
                        out << lead << TsvCell(site.url) << '\t' << FormatLocalTime(point.time)
                            << '\t' << TsvCell(point.rankText) << '\n';
                break;
            }
            case OutputFormat::Json:
                for (const auto& site : series) {
                    Json::Value object(Json::objectValue);
                    object["keyword"] = key.keyword;
                    if (m_paid) {
                        object["plan"] = key.plan;
                        object["unit"] = key.unit;
                    }
                    object["site"] = site.url;
                    Json::Value points(Json::arrayValue);
                    for (const auto& point : site.points) {
                        Json::Value entry(Json::objectValue);
                        entry["time"] = FormatLocalTime(point.time);
                        entry["rank"] = point.rankText;
                        points.append(entry);
                    }
                    object["series"] = points;
                    out << (m_printed++ ? ",\n" : "\n");
                    m_json->write(object, &out);
                }
                break;
        }
    }

    void end() {
        if (m_context.format == OutputFormat::Json) *m_context.out << (m_printed ? "\n]\n" : "]\n");
    }

  private:
    CliContext& m_context;
    const bool m_paid;
    int m_printed = 0;
    std::unique_ptr<Json::StreamWriter> m_json;
};

// The address --site names: a listed site by address or number, else the text itself, which
// may be a site removed since its checks. nullopt (refused) when no check holds it either.
std::optional<std::string> ResolveSite(CliContext& context, RankHistoryReader& reader,
                                       const std::string& site) {
    const auto sites = LoadSitesForSettings(context.paths.databasePath);
    if (sites)
        if (const auto index = FindSite(*sites, site)) return (*sites)[*index].url;
    if (reader.knowsSite(site).value_or(false)) return site;
    return std::nullopt;
}

int PrintSeries(CliContext& context, bool paid, const std::vector<std::string>& named,
                const std::optional<std::string>& site, std::int64_t since) {
    RankHistoryReader reader(context.paths.databasePath);
    const RankKind kind = paid ? RankKind::Paid : RankKind::Natural;
    const auto known = reader.keywords(kind);
    if (!known) return context.refuse(kReadFailed);
    std::vector<HistoryKey> keys;
    if (named.empty()) keys = *known;
    for (const auto& keyword : named) {
        const std::size_t before = keys.size();
        for (const auto& key : *known)
            if (key.keyword == keyword && std::find(keys.begin(), keys.end(), key) == keys.end())
                keys.push_back(key);
        if (keys.size() == before)
            return context.refuse("velquist: no history for keyword " + keyword);
    }
    std::optional<std::string> url;
    if (site) {
        url = ResolveSite(context, reader, *site);
        if (!url)
            return context.refuse("velquist: no site " + *site + " (see: velquist sites list)");
    }

    SeriesPrinter printer(context, paid);
    printer.begin();
    for (const auto& key : keys) {
        auto series = reader.series(key, since);
        if (!series) return context.refuse(kReadFailed);
        if (url) std::erase_if(*series, [&](const SiteSeries& s) { return s.url != *url; });
        if (!series->empty()) printer.keyword(key, *series);
    }
    printer.end();
    return kExitOk;
}

int PrintChanges(CliContext& context, bool paid, std::optional<std::int64_t> since) {
    const auto changes = LoadRankChanges(context.paths.databasePath,
                                         paid ? RankKind::Paid : RankKind::Natural, since);
    if (!changes) return context.refuse(kReadFailed);
    Table table;
    table.headings = {"关键词"};
    table.jsonKeys = {{"keyword"}};
    if (paid) {
        table.headings.insert(table.headings.end(), {"推广计划", "推广单元"});
        table.jsonKeys.insert(table.jsonKeys.end(), {{"plan"}, {"unit"}});
    }
    table.headings.insert(table.headings.end(),
                          {"网址", "原排名", "新排名", "变化", "原查询时间", "新查询时间"});
    table.jsonKeys.insert(
        table.jsonKeys.end(),
        {{"site"}, {"oldRank"}, {"newRank"}, {"change"}, {"oldTime"}, {"newTime"}});
    for (const auto& change : *changes) {
        std::vector<std::string> row = {change.key.keyword};
        if (paid) row.insert(row.end(), {change.key.plan, change.key.unit});
        row.insert(row.end(),
                   {change.url, change.before.rankText, change.after.rankText, ChangeText(change),
                    FormatLocalTime(change.before.time), FormatLocalTime(change.after.time)});
        table.rows.push_back(std::move(row));
    }
    PrintTable(*context.out, table, context.format);
    return kExitOk;
}

int Prune(CliContext& context, const std::string& beforeText, std::int64_t before) {
    const auto removed = PruneRankHistory(context.paths.databasePath, before);
    if (!removed) return context.refuse("velquist: the rank history could not be pruned");
    context.inform(fmt::format("removed {} history rows from before {}", *removed, beforeText));
    return kExitOk;
}

}  // namespace

int RunHistory(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kHistoryUsage;
        return kExitOk;
    }
    bool missing = false;
    const bool paid = args.takeFlag("--paid");
    const auto site = args.takeOption("--site", missing);
    const auto sinceText = args.takeOption("--since", missing);
    const auto beforeText = args.takeOption("--before", missing);
    if (missing || args.unknownOption()) return Usage(context);
    std::vector<std::string> rest = args.rest();
    const std::string action =
        !rest.empty() && (rest[0] == "changes" || rest[0] == "prune") ? rest[0] : "";
    if (!action.empty()) rest.erase(rest.begin());

    std::optional<std::int64_t> since;
    if (sinceText && !(since = ParseLocalTime(*sinceText)))
        return Usage(context, "--since takes YYYY-MM-DD or \"YYYY-MM-DD HH:MM:SS\"");
    std::optional<std::int64_t> before;
    if (beforeText && !(before = ParseLocalTime(*beforeText)))
        return Usage(context, "--before takes YYYY-MM-DD or \"YYYY-MM-DD HH:MM:SS\"");
    if (action == "prune") {
        if (!before || paid || site || since || !rest.empty()) return Usage(context);
    } else if (beforeText || (action == "changes" && (site || !rest.empty()))) {
        return Usage(context);
    }
    if (const auto bad = FindUnusableText(rest, "keyword"))
        return context.refuse("velquist: " + *bad);
    if (site)
        if (const auto bad = FindUnusableText({*site}, "site"))
            return context.refuse("velquist: " + *bad);

    if (!context.prepareDatabase()) return kExitRefused;
    if (action == "prune") return Prune(context, *beforeText, *before);
    if (action == "changes") return PrintChanges(context, paid, since);
    return PrintSeries(context, paid, rest, site, since.value_or(kEarliestTime));
}

}  // namespace velquist::cli
