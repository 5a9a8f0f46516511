// A natural run of 20 keywords x 5 pages with the product's real waits against the stand-in,
// compared with the pacing floor those waits alone impose on five workers.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "core/schema.h"
#include "engine/http_client.h"
#include "engine/query_run.h"
#include "run_end_waiter.h"
#include "tools/search_standin/search_standin.h"

using namespace velquist;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kKeywords = 20;
constexpr int kPages = 5;
constexpr double kPageWaitSeconds = 0.2;     // between the pages of one keyword
constexpr double kKeywordWaitSeconds = 4.0;  // after each keyword of a worker while the run goes

}  // namespace

int main() {
    CHttpClient::GlobalInit();
    const auto folder = std::filesystem::temp_directory_path() / "velquist-natural-run-bench";
    std::filesystem::remove_all(folder);
    SilentNotifier quiet;
    const std::string db = (folder / "database" / "main_360.db").string();
    if (!PrepareDatabase(folder.string(), (folder / "database").string(), db, quiet)) return 1;

    standin::SearchStandin server;
    standin::StandinOptions options;
    options.worldJson = R"({"planted_sites": [], "keywords": {}})";
    options.lifetimeSeconds = 120;
    if (!server.start(options)) {
        std::fprintf(stderr, "stand-in: %s\n", server.lastError().c_str());
        return 1;
    }

    bench::RunEndWaiter listener;
    QueryPage page(QueryKind::Natural, listener);
    page.databasePath = db;
    page.sites = {
        {"never-shown.example.com", 1}};  // not found: every page of every keyword is read
    page.scan.endpoints.webHost = server.host();
    std::atomic<int> pages{kPages};
    page.scan.pageCount = &pages;
    std::vector<std::unique_ptr<STRUCT_WORD>> items;
    for (int i = 0; i < kKeywords; ++i) {
        auto item = std::make_unique<STRUCT_WORD>();
        item->id = i + 1;
        item->keyword = "benchmark keyword " + std::to_string(i);
        items.push_back(std::move(item));
    }

    const auto start = Clock::now();
    BeginQueryRun(page, std::move(items));
    listener.wait();
    const std::chrono::duration<double> took = Clock::now() - start;

    const int perWorker = (kKeywords + QueryPage::kMaxWorkers - 1) / QueryPage::kMaxWorkers;
    const double floor = perWorker * ((kPages - 1) * kPageWaitSeconds + kKeywordWaitSeconds);
    std::printf("natural run: %d keywords x %d pages, %d workers, %d requests\n", kKeywords, kPages,
                QueryPage::kMaxWorkers, server.requestCount());
    std::printf("keywords finished: %d\n", listener.finished());
    std::printf("wall time:     %.2f s\n", took.count());
    std::printf("pacing floor:  %.2f s  (%d keywords per worker x (%d x 0.2 s + 4 s))\n", floor,
                perWorker, kPages - 1);
    std::printf("ratio:         %.3fx  (target <= 1.05x)\n", took.count() / floor);
    server.stop();
    std::filesystem::remove_all(folder);
    return 0;
}
