#include <fmt/format.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include "cli/commands.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/text.h"
#include "engine/query_run.h"
#include "engine/run_lock.h"
#include "records/natural_records.h"
#include "records/paid_records.h"
#include "records/site_records.h"
#include "services/user_agent.h"

namespace velquist::cli {

namespace {

constexpr const char* kQueryUsage =
    R"(usage: velquist query natural [--pages N] [--all | --failed | KEYWORD...]
       velquist query paid [--all | --failed | --plan P | --unit U | KEYWORD...]

Runs a rank query with up to five workers and prints every keyword as it finishes, with its
rank per enabled site ("第14名，第2页", "左4", "右2", "无"), then the final table. Results are
stored; the results of the same kind from earlier runs are cleared first. A check that could not
be finished (verification page, every fetch failing, an unreadable page, a stop) shows
"查询失败", never "无".

  --pages N   natural: result pages to read for this run (1-10; default: settings pages)
  --all       every stored keyword (paid: of every plan)
  --failed    only the keywords whose last check failed; other results are kept
  --plan P    paid: the keywords of plan P (with --unit: that unit of plan P)
  --unit U    paid: the keywords of every unit named U
Ctrl-C stops the run like the stop button: the keywords in hand finish and are stored.
Exit codes: 0 finished, 1 refused, 2 usage error, 3 finished but some keyword's check failed
or its results could not be stored, 130 stopped.
)";

constexpr const char* kNoSite = "请添加推广网址";
constexpr const char* kNoEnabledSite = "请选择推广网址";
constexpr const char* kNoKeyword = "请先选择关键词";
constexpr const char* kRunFinished = "查询完毕！";
constexpr const char* kRunStopped = "当前查询已停止！";
constexpr const char* kRunBusy = "正在查排名，请稍后再试。";
constexpr const char* kNotStoredMark = "（未保存）";
constexpr const char* kNothingFailed = "没有查询失败的关键词";
constexpr const char* kUnfinishedFormat = "查询失败 [{}] 词，未保存 [{}] 词";
// The run finished, but some keyword's check failed or its results were not stored.
constexpr int kExitChecksFailed = 3;
constexpr const char* kStatusFormat =
    "当前选中 [{}] 词，正在查询 [{}] 词，查询完成 [{}] 词，剩余 [{}] 词";

std::atomic<int> g_interrupts{0};

extern "C" void OnInterrupt(int) {
    // A first Ctrl-C stops the run the way the stop button does; a second one leaves at once.
    if (g_interrupts.fetch_add(1) > 0) _exit(kExitStopped);
    Process().queryRunning.store(false);
}

// Receives the run's events on the worker threads, prints each finished keyword and keeps its
// results for the final table.
class CliRunListener final : public QueryRunListener {
  public:
    CliRunListener(CliContext& context, int querying)
        : m_context(context), m_querying(querying), m_remaining(querying) {}

    void keywordFinished(QueryKind, std::unique_ptr<STRUCT_WORD> item) override {
        std::lock_guard lock(m_mutex);
        --m_remaining;
        std::ostream& live =
            m_context.format == OutputFormat::Text ? *m_context.out : *m_context.err;
        std::string line = item->keyword;
        if (!item->plan.empty()) line += " [" + item->plan + " / " + item->unit + "]";
        for (const auto& site : item->sites) line += "  " + site.url + ": " + site.resultText();
        if (item->checkFailed()) ++m_failed;
        if (!item->stored) {
            ++m_unstored;
            line += kNotStoredMark;
        }
        live << line << '\n'
             << fmt::format(kStatusFormat, m_querying, m_querying, m_querying - m_remaining,
                            m_remaining)
             << '\n'
             << std::flush;
        item->time = LocalTimeText();
        const int id = item->id;
        m_finished[id] = std::move(item);
    }

    void runEnded(QueryKind) override {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_cv.notify_all();
    }

    void waitForEnd() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_ended; });
    }

    // Read once the run has ended.
    int failedCount() const { return m_failed; }
    int unstoredCount() const { return m_unstored; }

    const STRUCT_WORD* finished(int id) const {
        const auto it = m_finished.find(id);
        return it == m_finished.end() ? nullptr : it->second.get();
    }

  private:
    CliContext& m_context;
    const int m_querying;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_remaining;                                         // guarded by m_mutex
    int m_failed = 0;                                        // guarded by m_mutex
    int m_unstored = 0;                                      // guarded by m_mutex
    bool m_ended = false;                                    // guarded by m_mutex
    std::map<int, std::unique_ptr<STRUCT_WORD>> m_finished;  // guarded by m_mutex
};

std::unique_ptr<STRUCT_WORD> MakeItem(int id, const std::string& keyword, const std::string& time) {
    auto item = std::make_unique<STRUCT_WORD>();
    item->id = id;
    item->keyword = keyword;
    item->time = time;
    return item;
}

// Picks the natural keywords to query; a refusal message when none or an unknown one is named.
// True when the row's last check failed for some site.
template <typename Row>
bool LastCheckFailed(const Row& row) {
    for (const auto& site : row.sites)
        if (site.rankText == kFailedRankText) return true;
    return false;
}

std::optional<std::vector<std::unique_ptr<STRUCT_WORD>>> SelectNatural(
    CliContext& context, bool all, bool failedOnly, const std::vector<std::string>& names,
    const std::vector<std::string>& columns, int& exitCode) {
    const auto list = loadNaturalList(context.paths.databasePath, columns);
    std::vector<std::unique_ptr<STRUCT_WORD>> selected;
    const std::set<std::string> wanted(names.begin(), names.end());
    std::set<std::string> seen;
    if (list) {
        for (const auto& row : list->rows) {
            if (failedOnly ? !LastCheckFailed(row) : !all && !wanted.count(row.keyword)) continue;
            seen.insert(row.keyword);
            selected.push_back(MakeItem(row.keywordId, row.keyword, row.time));
        }
    }
    for (const auto& name : wanted) {
        if (!seen.count(name)) {
            exitCode = context.refuse("velquist: not a stored keyword: " + name +
                                      " (add it with: velquist keywords add)");
            return std::nullopt;
        }
    }
    return selected;
}

std::optional<std::vector<std::unique_ptr<STRUCT_WORD>>> SelectPaid(
    CliContext& context, bool all, bool failedOnly, const std::optional<std::string>& plan,
    const std::optional<std::string>& unit, const std::vector<std::string>& names,
    const std::vector<std::string>& columns, int& exitCode) {
    const auto tree = loadTree(context.paths.databasePath, *context.notifier);
    if (!tree) {
        exitCode = kExitRefused;
        return std::nullopt;
    }
    std::vector<int> planIds;
    std::vector<int> unitIds;
    for (const auto& p : *tree) {
        if (unit) {
            if (plan && p.plan != *plan) continue;
            for (const auto& u : p.units)
                if (u.unit == *unit) unitIds.push_back(u.unitId);
        } else if (all || failedOnly || !names.empty() || (plan && p.plan == *plan)) {
            planIds.push_back(p.planId);
        }
    }
    if (planIds.empty() && unitIds.empty()) {
        if (plan || unit) {
            exitCode = context.refuse("velquist: no such plan or unit in the account tree");
            return std::nullopt;
        }
        return std::vector<std::unique_ptr<STRUCT_WORD>>{};
    }
    const auto list =
        listPaidKeywords(context.paths.databasePath, planIds, unitIds, std::nullopt, columns);
    std::vector<std::unique_ptr<STRUCT_WORD>> selected;
    const std::set<std::string> wanted(names.begin(), names.end());
    std::set<std::string> seen;
    if (list) {
        for (const auto& row : list->rows) {
            if (!wanted.empty() && !wanted.count(row.keyword)) continue;
            if (failedOnly && !LastCheckFailed(row)) continue;
            seen.insert(row.keyword);
            auto item = MakeItem(row.keywordId, row.keyword, row.time);
            item->unit = row.unit;
            item->plan = row.plan;
            selected.push_back(std::move(item));
        }
    }
    for (const auto& name : wanted) {
        if (!seen.count(name)) {
            exitCode = context.refuse("velquist: not a stored paid keyword: " + name);
            return std::nullopt;
        }
    }
    return selected;
}

}  // namespace

int RunQuery(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kQueryUsage;
        return kExitOk;
    }
    bool missing = false;
    const auto pagesText = args.takeOption("--pages", missing);
    const auto plan = args.takeOption("--plan", missing);
    const auto unit = args.takeOption("--unit", missing);
    const bool all = args.takeFlag("--all");
    const bool failedOnly = args.takeFlag("--failed");
    if (missing || args.unknownOption() || args.rest().empty()) {
        *context.err << kQueryUsage;
        return kExitUsage;
    }
    const std::string kindName = args.rest()[0];
    const std::vector<std::string> names(args.rest().begin() + 1, args.rest().end());
    if (kindName != "natural" && kindName != "paid") {
        *context.err << kQueryUsage;
        return kExitUsage;
    }
    const QueryKind kind = kindName == "natural" ? QueryKind::Natural : QueryKind::Paid;
    if ((kind == QueryKind::Natural && (plan || unit)) || (kind == QueryKind::Paid && pagesText) ||
        (all && (!names.empty() || plan || unit)) || (!names.empty() && (plan || unit)) ||
        (failedOnly && (all || !names.empty() || plan || unit))) {
        *context.err << kQueryUsage;
        return kExitUsage;
    }
    int pages = 0;
    if (pagesText) {
        pages = DecimalToInt(*pagesText);
        if (std::to_string(pages) != *pagesText || pages < 1 || pages > 10) {
            *context.err << "velquist: --pages takes a number from 1 to 10\n";
            return kExitUsage;
        }
    }
    if (!context.prepareDatabase()) return kExitRefused;
    if (Process().queryRunning.load()) return context.refuse("正在查排名，请稍后再试!");

    const std::string& db = context.paths.databasePath;
    ReloadSiteList(db);
    const auto sites = Process().promotionSites();
    Process().siteColumnCount = static_cast<int>(sites.size());
    if (sites.empty()) return context.refuse(kNoSite);
    std::vector<std::string> enabledColumns;
    std::vector<std::string> allColumns;
    for (const auto& site : sites) {
        allColumns.push_back(site.url);
        if (site.selected) enabledColumns.push_back(site.url);
    }
    if (enabledColumns.empty()) return context.refuse(kNoEnabledSite);

    int exitCode = kExitOk;
    auto selected =
        kind == QueryKind::Natural
            ? SelectNatural(context, all, failedOnly, names, allColumns, exitCode)
            : SelectPaid(context, all, failedOnly, plan, unit, names, allColumns, exitCode);
    if (!selected) return exitCode;
    if (selected->empty() && failedOnly) {
        context.inform(kNothingFailed);
        return kExitOk;
    }
    if (selected->empty()) return context.refuse(kNoKeyword);

    // Held until the run has ended: a second run of this kind, here or in another copy of the
    // program, would clear what this one stores.
    const auto runLock = QueryRunLock::tryAcquire(context.paths.dataFolder, kind);
    if (!runLock) return context.refuse(kRunBusy);

    RankSettings settings(context.paths.settingsPath);
    Process().pageCount = pages ? pages : settings.readPageCount(Process().pageCount.load());

    // One attempt at the vendor's user-agent exchange, so a headless run never waits long.
    HostConfig uaHosts = context.hosts;
    uaHosts.httpTimeoutSeconds = std::min(uaHosts.httpTimeoutSeconds, 5);
    Process().setUserAgent(DiscoverUserAgent(uaHosts, MakeStartupGuidText(), true, {}));

    // A re-check of the failed keywords keeps the others' results: each keyword's store
    // replaces its own rows.
    if (!failedOnly) {
        if (kind == QueryKind::Natural)
            clearNaturalResults(db);
        else
            clearPaidResults(db);
    }

    // What the final table lists, in selection order; the items themselves go to the workers.
    std::vector<STRUCT_WORD> order;
    for (const auto& item : *selected) order.push_back(*item);
    std::vector<std::unique_ptr<STRUCT_WORD>> items = std::move(*selected);
    const int querying = static_cast<int>(items.size());
    CliRunListener listener(context, querying);
    QueryPage page(kind, listener);
    page.databasePath = db;
    page.sites = sites;
    page.userAgent = Process().userAgent();
    page.httpTimeoutSeconds = context.hosts.httpTimeoutSeconds;
    page.scan.endpoints.webHost = context.hosts.searchHost;
    page.scan.endpoints.domain = context.hosts.searchDomain;

    std::ostream& live = context.format == OutputFormat::Text ? *context.out : *context.err;

    g_interrupts = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    live << fmt::format(kStatusFormat, querying, querying, 0, querying) << '\n' << std::flush;
    BeginQueryRun(page, std::move(items));
    // A Ctrl-C that came before the run set its flag still stops it.
    if (g_interrupts.load() > 0) RequestStop(page);
    listener.waitForEnd();
    // The last worker is letting go of its thread; the process must not exit under it.
    JoinWorkers(std::chrono::seconds(10));
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);

    const bool stopped = g_interrupts.load() > 0;
    context.inform(stopped ? kRunStopped : kRunFinished);
    const int failed = listener.failedCount();
    const int unstored = listener.unstoredCount();

    Table table;
    table.headings = {"关键词"};
    table.jsonKeys = {{"keyword"}};
    if (kind == QueryKind::Paid) {
        table.headings.push_back("推广计划");
        table.headings.push_back("推广单元");
        table.jsonKeys.push_back({"plan"});
        table.jsonKeys.push_back({"unit"});
    }
    table.headings.push_back("查询时间");
    table.jsonKeys.push_back({"time"});
    table.jsonGroupKey = "ranks";
    for (const auto& column : enabledColumns) table.headings.push_back(column);
    for (const STRUCT_WORD& chosen : order) {
        std::vector<std::string> row = {chosen.keyword};
        if (kind == QueryKind::Paid) {
            row.push_back(chosen.plan);
            row.push_back(chosen.unit);
        }
        const STRUCT_WORD* done = listener.finished(chosen.id);
        row.push_back(done ? done->time : std::string());
        for (const auto& column : enabledColumns) {
            std::string cell;
            if (done)
                for (const auto& site : done->sites)
                    if (site.url == column) cell = site.resultText();
            row.push_back(cell);
        }
        table.rows.push_back(std::move(row));
    }
    PrintTable(*context.out, table, context.format);
    if (failed > 0 || unstored > 0)
        context.inform(fmt::format(kUnfinishedFormat, failed, unstored));
    if (stopped) return kExitStopped;
    return failed > 0 || unstored > 0 ? kExitChecksFailed : kExitOk;
}

}  // namespace velquist::cli
