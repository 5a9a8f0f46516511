#include "engine/query_run.h"

#include <algorithm>
#include <iostream>
#include <system_error>
#include <thread>

#include "core/database.h"
#include "core/text.h"
#include "engine/http_client.h"
#include "engine/natural_scan.h"
#include "engine/paid_scan.h"

namespace velquist {

namespace {

constexpr auto kNaturalKeywordWait = std::chrono::milliseconds(4000);
constexpr auto kPaidKeywordWait = std::chrono::milliseconds(1000);

std::unique_ptr<CHttpClient> MakeWorkerClient(const QueryPage& page) {
    auto client = std::make_unique<CHttpClient>();
    client->noCookieSave = true;
    client->cookieJarPath = "cookie.txt";
    client->cookieLines.clear();
    if (!page.userAgent.empty()) client->userAgent = page.userAgent;
    client->connectTimeoutSeconds = page.httpTimeoutSeconds;
    client->timeoutSeconds = page.httpTimeoutSeconds;
    return client;
}

std::vector<STRUCT_SITE> EnabledSiteCopies(const std::vector<PromotionSite>& sites) {
    std::vector<STRUCT_SITE> copies;
    for (const auto& site : sites) {
        if (!site.selected) continue;
        STRUCT_SITE copy;
        copy.index = static_cast<int>(copies.size());
        copy.selected = site.selected;
        copy.url = site.url;
        copies.push_back(std::move(copy));
    }
    return copies;
}

// The pause between keywords; a stop cuts it short, since the worker leaves its loop anyway.
void WaitBetweenKeywords(QueryPage& page, std::chrono::milliseconds total) {
    if (page.scan.sleep) {
        page.scan.sleep(total);
        return;
    }
    constexpr auto kSlice = std::chrono::milliseconds(50);
    const auto until = std::chrono::steady_clock::now() + total;
    while (page.runningFlag().load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) break;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kSlice, until - now));
    }
}

void EndWorker(QueryPage& page) {
    // Exactly one worker sees the count reach zero, and it reports the end of the run.
    int live = page.liveWorkers.load();
    while (live > 0 && !page.liveWorkers.compare_exchange_weak(live, live - 1)) {
    }
    if (live == 1) {
        page.finishedFlag().store(true);
        page.runningFlag().store(false);
        page.listener().runEnded(page.kind());
    }
}

void RunWorker(QueryPage* page) {
    try {
        const bool natural = page->kind() == QueryKind::Natural;
        auto client = MakeWorkerClient(*page);
        if (!natural) client->referer = page->scan.endpoints.firstReferer();
        ScanEnvironment env = page->scan;
        env.running = &page->runningFlag();

        const auto enabled = EnabledSiteCopies(page->sites);
        if (enabled.empty()) {
            while (page->queue.popFront()) {
            }
        }
        while (!enabled.empty() && page->runningFlag().load()) {
            auto next = page->queue.popFront();
            if (!next) break;
            std::unique_ptr<STRUCT_WORD> item = std::move(*next);
            item->sites = enabled;
            if (natural) {
                ScanNatural(client.get(), item->keyword, item->sites, env);
                StoreNaturalResults(page->databasePath, *item);
            } else {
                ScanPaid(client.get(), item->keyword, item->sites, env);
                StorePaidResults(page->databasePath, *item);
            }
            page->listener().keywordFinished(page->kind(), std::move(item));
            if (page->runningFlag().load())
                WaitBetweenKeywords(*page, natural ? kNaturalKeywordWait : kPaidKeywordWait);
        }
    } catch (const std::exception& e) {
        // Nothing may leave a thread's entry function; the run still has to end.
        std::cerr << "query worker: " << e.what() << '\n';
    }
    EndWorker(*page);
}

bool StoreResults(const std::string& databasePath, const STRUCT_WORD& item, bool natural) {
    DbConnection db;
    if (!db.open(databasePath)) return false;
    const std::string now = LocalTimeText();
    {
        DbStatement update(db, natural ? "UPDATE seokeyword SET time=? WHERE keyword=?"
                                       : "UPDATE keyword SET time=? WHERE keyword=? AND unit=? "
                                         "AND plan=?");
        update.bindText(1, now);
        update.bindText(2, item.keyword);
        if (!natural) {
            update.bindText(3, item.unit);
            update.bindText(4, item.plan);
        }
        update.step();
    }
    WriteTransaction tx(db);
    bool failed = !tx.begun();
    {
        DbStatement remove(db, natural ? "DELETE FROM seorank WHERE keywordId = ?"
                                       : "DELETE FROM semrank WHERE keywordId = ?");
        remove.bindInt(1, item.id);
        if (!StepSucceeded(remove.step())) failed = true;
    }
    DbStatement insert(
        db, natural ? "INSERT INTO seorank (rank,url,keywordId,rankNum) VALUES (?,?,?,?)"
                    : "INSERT INTO semrank (rank,url,keywordId,rankNum) VALUES (?,?,?,?)");
    for (const auto& site : item.sites) {
        insert.bindText(1, site.rankText.empty() ? std::string("无") : site.rankText);
        insert.bindText(2, site.url);
        insert.bindInt(3, item.id);
        insert.bindInt(4, site.rankNum);
        if (!StepSucceeded(insert.step())) failed = true;
        insert.reset();
    }
    if (failed) {
        tx.rollback();
        std::cerr << ">>>>>添加失败<<<<<\n";
        return false;
    }
    return tx.commit();
}

}  // namespace

int StartWorkers(QueryPage& page, WorkerProc worker) {
    // libcurl's global set-up is not thread-safe: it must be done before the workers exist.
    CHttpClient::GlobalInit();
    int started = 0;
    for (int attempt = 0; attempt < QueryPage::kMaxWorkers; ++attempt) {
        if (static_cast<int>(page.queue.count()) <= started) break;
        page.liveWorkers.fetch_add(1);
        try {
            std::thread(worker, &page).detach();
            ++started;
        } catch (const std::system_error&) {
            page.liveWorkers.fetch_sub(1);
        }
    }
    return started;
}

void NaturalWorker(QueryPage* page) { RunWorker(page); }
void PaidWorker(QueryPage* page) { RunWorker(page); }

bool StoreNaturalResults(const std::string& databasePath, const STRUCT_WORD& item) {
    return StoreResults(databasePath, item, true);
}

bool StorePaidResults(const std::string& databasePath, const STRUCT_WORD& item) {
    return StoreResults(databasePath, item, false);
}

int BeginQueryRun(QueryPage& page, std::vector<std::unique_ptr<STRUCT_WORD>> items) {
    for (auto& item : items) {
        item->pending = true;
        page.queue.pushBack(std::move(item));
    }
    page.runningFlag().store(true);
    page.finishedFlag().store(false);
    const int started =
        StartWorkers(page, page.kind() == QueryKind::Natural ? &NaturalWorker : &PaidWorker);
    if (started == 0) {
        // Nothing to do (or no thread could start): the run ends at once, as a run would.
        page.queue.clear();
        page.finishedFlag().store(true);
        page.runningFlag().store(false);
        page.listener().runEnded(page.kind());
    }
    return started;
}

void RequestStop(QueryPage& page) { page.runningFlag().store(false); }

}  // namespace velquist
