// Builds a year of daily checks (1,000 keywords x 10 sites x 365 days), then times one keyword's
// series, the changes over all keywords, the size per stored result, and the result store with
// its history append against the same store without it, measured in the same run, and what that
// append adds to a natural run against the search stand-in.

#include <fmt/format.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "core/database.h"
#include "core/schema.h"
#include "core/text.h"
#include "core/user_notifier.h"
#include "engine/query_run.h"
#include "records/rank_history.h"
#include "run_end_waiter.h"
#include "tools/search_standin/search_standin.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace velquist;

constexpr int kKeywords = 1000;
constexpr int kSites = 10;
constexpr int kDays = 365;
constexpr int kStoreRounds = 10;  // alternating blocks of stores with and without history
constexpr int kStoresPerBlock = 20;
constexpr int kRunKeywords = 10;
constexpr int kRunPages = 2;

double SecondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Keyword(int k) { return fmt::format("关键词{:04}", k); }
std::string Site(int s) { return fmt::format("www.site{}.example.com", s); }
std::string RankText(int rank) { return fmt::format("第{}名，第{}页", rank, (rank + 9) / 10); }

// One site's check on one day: a rank that wanders, sometimes not found, rarely failed.
struct Walk {
    int rank = 20;
    HistoryResult next(std::mt19937& random, const std::string& url, std::string& text) {
        rank = std::clamp(rank + static_cast<int>(random() % 7) - 3, 1, 60);
        const unsigned roll = random() % 100;
        if (roll == 0) {
            text = "查询失败";
            return {url, text, 50, RankState::Failed};
        }
        if (rank > 50 || roll < 15) {
            text = "无";
            return {url, text, 50, RankState::NotFound};
        }
        text = RankText(rank);
        return {url, text, rank, RankState::Ranked};
    }
};

bool Exec(DbConnection& db, const char* sql) { return db.execute(sql) == kSqliteOk; }

bool AddLiveKeywordsAndSites(const std::string& path) {
    DbConnection db(path);
    WriteTransaction transaction(db);
    DbStatement keyword(db, "INSERT INTO seokeyword (keyword,keywordId) VALUES (?,?)");
    for (int k = 0; k < kKeywords; ++k) {
        keyword.bindText(1, Keyword(k));
        keyword.bindInt(2, k + 1);
        if (!StepSucceeded(keyword.step())) return false;
        keyword.reset();
    }
    DbStatement site(db, "INSERT INTO website (urlid,url,selected) VALUES (?,?,1)");
    for (int s = 0; s < kSites; ++s) {
        site.bindInt(1, s);
        site.bindText(2, Site(s));
        if (!StepSucceeded(site.step())) return false;
        site.reset();
    }
    return transaction.commit();
}

// A year of daily runs, day by day as the runs would append them, in one transaction.
bool BuildYear(const std::string& path, std::int64_t firstDay, long long& rows) {
    DbConnection db(path);
    // The build's own connection may keep the whole file in memory; the program's never does.
    Exec(db, "PRAGMA cache_size=-393216");
    WriteTransaction transaction(db);
    if (!transaction.begun()) return false;
    RankHistoryAppender appender(db);
    std::mt19937 random(12);
    std::vector<Walk> walks(kKeywords * kSites);
    std::vector<HistoryKey> keys;
    for (int k = 0; k < kKeywords; ++k) keys.push_back({RankKind::Natural, Keyword(k), "", ""});
    std::vector<std::string> urls;
    for (int s = 0; s < kSites; ++s) urls.push_back(Site(s));
    std::vector<std::string> texts(kSites);
    std::vector<HistoryResult> results(kSites);
    for (int day = 0; day < kDays; ++day)
        for (int k = 0; k < kKeywords; ++k) {
            const std::int64_t time = firstDay + day * 86400 + k * 4;  // 4 s apart, as a run goes
            for (int s = 0; s < kSites; ++s)
                results[s] = walks[k * kSites + s].next(random, urls[s], texts[s]);
            if (!appender.append(keys[k], time, results)) return false;
            rows += kSites;
        }
    return transaction.commit();
}

long long TableBytes(const std::string& path, const char* tables) {
    DbConnection db(path);
    DbStatement s(db, std::string("SELECT SUM(pgsize) FROM dbstat WHERE name IN (") + tables + ")");
    if (s.step() != kSqliteRow) return -1;  // dbstat not compiled in
    return std::stoll(s.columnText(0));
}

// The result store as it was without history: the same statements in one transaction.
bool StoreWithoutHistory(const std::string& path, const STRUCT_WORD& item) {
    DbConnection db;
    if (!db.open(path)) return false;
    WriteTransaction tx(db);
    if (!tx.begun()) return false;
    {
        DbStatement exists(db, "SELECT 1 FROM seokeyword WHERE keywordId = ?");
        exists.bindInt(1, item.id);
        if (exists.step() != kSqliteRow) return false;
    }
    bool failed = false;
    {
        DbStatement update(db, "UPDATE seokeyword SET time=? WHERE keyword=?");
        update.bindText(1, LocalTimeText());
        update.bindText(2, item.keyword);
        failed = !StepSucceeded(update.step());
    }
    {
        DbStatement remove(db, "DELETE FROM seorank WHERE keywordId = ?");
        remove.bindInt(1, item.id);
        failed = failed || !StepSucceeded(remove.step());
    }
    DbStatement insert(db, "INSERT INTO seorank (rank,url,keywordId,rankNum) VALUES (?,?,?,?)");
    for (const auto& site : item.sites) {
        if (failed) break;
        insert.bindText(1, site.resultText());
        insert.bindText(2, site.url);
        insert.bindInt(3, item.id);
        insert.bindInt(4, site.rankNum);
        failed = !StepSucceeded(insert.step());
        insert.reset();
    }
    if (failed) return false;
    return tx.commit();
}

STRUCT_WORD Item(int k, std::mt19937& random) {
    STRUCT_WORD item;
    item.id = k + 1;
    item.keyword = Keyword(k);
    for (int s = 0; s < kSites; ++s) {
        STRUCT_SITE& site = item.sites.emplace_back();
        site.index = s;
        site.selected = 1;
        site.url = Site(s);
        const int rank = static_cast<int>(random() % 60) + 1;
        site.rankNum = rank;
        if (rank <= 50) site.rankText = RankText(rank);
    }
    return item;
}

}  // namespace

int main() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / fmt::format("velquist-history-bench-{}", getpid());
    std::filesystem::create_directories(folder / "database");
    const std::string path = (folder / "database" / "main_360.db").string();
    SilentNotifier silent;
    if (!PrepareDatabase(folder.string(), (folder / "database").string(), path, silent) ||
        !AddLiveKeywordsAndSites(path)) {
        fmt::print(stderr, "cannot prepare {}\n", path);
        return 1;
    }

    const std::int64_t firstDay = *ParseLocalTime("2025-01-01 08:00:00");
    long long rows = 0;
    bool built = false;
    const double buildSeconds = SecondsOf([&] { built = BuildYear(path, firstDay, rows); });
    if (!built) {
        fmt::print(stderr, "building the history failed\n");
        return 1;
    }
    fmt::print(
        "history: {} keywords x {} sites x {} days = {} rows, built in {:.2f} s ({:.2f} "
        "µs per row)\n",
        kKeywords, kSites, kDays, rows, buildSeconds, buildSeconds * 1e6 / rows);

    const auto fileBytes = static_cast<long long>(std::filesystem::file_size(path));
    const long long historyBytes = TableBytes(
        path,
        "'rankhistory','historykeyword','historysite','historyrank','sqlite_autoindex_"
        "historykeyword_1','sqlite_autoindex_historysite_1','sqlite_autoindex_historyrank_1'");
    const std::string compact = (folder / "compact.db").string();
    {
        DbConnection db(path);
        Exec(db, fmt::format("VACUUM INTO '{}'", compact).c_str());
    }
    const auto compactBytes = static_cast<long long>(std::filesystem::file_size(compact));
    std::filesystem::remove(compact);
    fmt::print("size: file {:.1f} MB = {:.1f} bytes per result row", fileBytes / 1e6,
               double(fileBytes) / rows);
    if (historyBytes > 0)
        fmt::print("; history tables {:.1f} MB = {:.1f} bytes per row", historyBytes / 1e6,
                   double(historyBytes) / rows);
    fmt::print("; after VACUUM {:.1f} bytes per row\n", double(compactBytes) / rows);

    // One keyword's series, each with a connection of its own as a page would open it.
    std::mt19937 random(7);
    std::vector<double> series;
    std::size_t points = 0;
    for (int i = 0; i < 50; ++i) {
        const HistoryKey key{RankKind::Natural, Keyword(static_cast<int>(random() % kKeywords)), "",
                             ""};
        series.push_back(SecondsOf([&] {
            const auto loaded = LoadRankSeries(path, key);
            points = 0;
            for (const auto& site : loaded.value()) points += site.points.size();
        }));
    }
    fmt::print(
        "series of one keyword ({} points): median {:.2f} ms, max {:.2f} ms (target < 50 "
        "ms)\n",
        points, Median(series) * 1e3, *std::max_element(series.begin(), series.end()) * 1e3);

    // The changes over every keyword: the latest check of each and each site's previous one.
    std::vector<double> changes;
    std::size_t changed = 0;
    for (int i = 0; i < 3; ++i)
        changes.push_back(
            SecondsOf([&] { changed = LoadRankChanges(path, RankKind::Natural).value().size(); }));
    fmt::print("changes over all {} keywords ({} moved): median {:.3f} s (target < 2 s)\n",
               kKeywords, changed, Median(changes));

    // The store of one keyword, with its history append and without, alternating blocks on the
    // same database so that disk and cache drift fall on both alike.
    std::vector<double> with;
    std::vector<double> without;
    int next = 0;
    for (int round = 0; round < kStoreRounds; ++round)
        for (const bool history : round % 2 ? std::vector{false, true} : std::vector{true, false})
            for (int i = 0; i < kStoresPerBlock; ++i) {
                const STRUCT_WORD item = Item(next++ % kKeywords, random);
                bool ok = false;
                const double seconds = SecondsOf([&] {
                    ok =
                        history ? StoreNaturalResults(path, item) : StoreWithoutHistory(path, item);
                });
                if (!ok) {
                    fmt::print(stderr, "a store failed\n");
                    return 1;
                }
                (history ? with : without).push_back(seconds);
            }
    double sumWith = 0;
    double sumWithout = 0;
    for (const double s : with) sumWith += s;
    for (const double s : without) sumWithout += s;
    fmt::print(
        "store of one keyword x {} sites, {} each: with history median {:.2f} ms, "
        "without {:.2f} ms; ratio of medians {:.3f}, of totals {:.3f} (the store alone; the run is "
        "below)\n",
        kSites, with.size(), Median(with) * 1e3, Median(without) * 1e3,
        Median(with) / Median(without), sumWith / sumWithout);

    // What the append costs a run: a natural run of some of these keywords against the search
    // stand-in with the program's own pauses, storing into this year of history, and the extra
    // the appends measured above add to it.
    standin::SearchStandin server;
    standin::StandinOptions options;
    options.worldJson = R"({"planted_sites": [], "keywords": {}})";
    options.lifetimeSeconds = 120;
    if (!server.start(options)) {
        fmt::print(stderr, "stand-in: {}\n", server.lastError());
        return 1;
    }
    bench::RunEndWaiter listener;
    QueryPage page(QueryKind::Natural, listener);
    page.databasePath = path;
    for (int s = 0; s < kSites; ++s) page.sites.push_back({Site(s), 1});
    page.scan.endpoints.webHost = server.host();
    std::atomic<int> pageCount{kRunPages};
    page.scan.pageCount = &pageCount;
    std::vector<std::unique_ptr<STRUCT_WORD>> items;
    for (int k = 0; k < kRunKeywords; ++k) {
        auto item = std::make_unique<STRUCT_WORD>();
        item->id = k + 1;
        item->keyword = Keyword(k);
        items.push_back(std::move(item));
    }
    CHttpClient::GlobalInit();
    const double runSeconds = SecondsOf([&] {
        BeginQueryRun(page, std::move(items));
        listener.wait();
    });
    JoinWorkers(std::chrono::seconds(10));
    server.stop();
    const double appendSeconds = (Median(with) - Median(without)) * kRunKeywords;
    fmt::print(
        "natural run of {} keywords x {} pages, five workers, the program's pauses: {:.2f} s, of "
        "which the history appends {:.2f} ms = {:.3f} % (target <= 10 %)\n",
        kRunKeywords, kRunPages, runSeconds, appendSeconds * 1e3,
        100 * appendSeconds / (runSeconds - appendSeconds));

    std::filesystem::remove_all(folder);
    return 0;
}
