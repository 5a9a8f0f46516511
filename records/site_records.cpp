#include "records/site_records.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>
#include <boost/regex.hpp>
#include <charconv>
#include <stdexcept>

#include "core/database.h"
#include "core/text.h"

namespace velquist {

int ReloadSiteList(const std::string& dbPath) {
    DbConnection db;
    if (!db.open(dbPath)) return 0;
    const int count = ReadSingleInt(db, "SELECT COUNT(*) FROM website");
    std::vector<PromotionSite> sites;
    sites.reserve(static_cast<std::size_t>(std::max(count, 0)));
    DbStatement select(db, "SELECT url,selected FROM website ORDER BY url ASC;");
    for (int rc = select.step(); rc == kSqliteRow; rc = select.step()) {
        if (select.columnIsNull(0)) continue;
        sites.push_back({select.columnText(0), select.columnInt(1)});
    }
    Process().setPromotionSites(std::move(sites));
    return count;
}

namespace {

// The sites in entry order; nullopt when the read ends in an error, because saving a shortened
// list would lose the missing sites.
std::optional<std::vector<PromotionSite>> ReadSitesInEntryOrder(DbConnection& db) {
    const int count = ReadSingleInt(db, "SELECT COUNT(*) FROM website");
    std::vector<PromotionSite> sites;
    sites.reserve(static_cast<std::size_t>(std::max(count, 0)));
    DbStatement select(db, "SELECT url, selected FROM website ORDER BY urlid ASC");
    int rc = select.step();
    for (; rc == kSqliteRow; rc = select.step())
        sites.push_back({select.columnText(0), select.columnInt(1)});
    if (rc != kSqliteDone) return std::nullopt;
    return sites;
}

// "DELETE FROM website" and one insert per site; the caller owns the transaction.
bool WriteSites(DbConnection& db, const std::vector<PromotionSite>& sites) {
    {
        DbStatement clear(db, "DELETE FROM website");
        if (!StepSucceeded(clear.step())) return false;
    }
    DbStatement insert(db, "INSERT INTO website (urlid,url,selected) VALUES (?,?,?)");
    for (std::size_t position = 0; position < sites.size(); ++position) {
        insert.bindInt(1, static_cast<int>(position));
        insert.bindText(2, sites[position].url);
        insert.bindInt(3, sites[position].selected);
        const int rc = insert.step();
        insert.reset();
        if (!StepSucceeded(rc)) return false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<PromotionSite>> LoadSitesForSettings(const std::string& dbPath) {
    DbConnection db;
    if (!db.open(dbPath)) return std::nullopt;
    return ReadSitesInEntryOrder(db);
}

bool SaveSites(const std::string& dbPath, const std::vector<PromotionSite>& sites) {
    DbConnection db;
    if (!db.open(dbPath)) return false;
    WriteTransaction transaction(db);
    if (!transaction.begun() || !WriteSites(db, sites)) return false;
    return transaction.commit();
}

bool IsValidSiteAddress(const std::string& utf8) {
    static const boost::regex pattern(
        "(?:[a-z0-9](?:[-a-z0-9]*[a-z0-9])?\\.)+(?:com|xyz|net|edu|biz|gov|org|asia|in(?:t|fo)|"
        "(?-i:[a-z][a-z]))(\\/.*)*",
        boost::regex::perl | boost::regex::icase);
    try {
        return boost::regex_match(utf8, pattern);
    } catch (const std::runtime_error&) {
        // Boost gives up on texts that would take too long to match; such a text is no address.
        return false;
    }
}

SiteCheckResult CheckNewSite(const std::string& typed, const std::vector<PromotionSite>& current) {
    SiteCheckResult result;
    const std::string trimmed = TrimWhitespace(typed);
    if (trimmed.empty()) {
        result.message = kSiteEmpty;
        return result;
    }
    std::string url = ReplaceAll(trimmed, "HTTP://", "");
    url = ReplaceAll(url, "http://", "");
    url = ReplaceAll(url, "Http://", "");
    if (!IsValidSiteAddress(url)) {
        result.message = fmt::format(kSiteInvalidFormat, trimmed);
        return result;
    }
    const bool duplicate =
        std::any_of(current.begin(), current.end(),
                    [&url](const PromotionSite& site) { return site.url == url; });
    if (duplicate) {
        result.message = fmt::format(kSiteDuplicateFormat, trimmed);
        return result;
    }
    result.accepted = true;
    result.url = std::move(url);
    return result;
}

std::optional<std::size_t> FindSite(const std::vector<PromotionSite>& sites,
                                    const std::string& urlOrPosition) {
    const auto byUrl = std::find_if(sites.begin(), sites.end(), [&](const PromotionSite& site) {
        return site.url == urlOrPosition;
    });
    if (byUrl != sites.end()) return static_cast<std::size_t>(byUrl - sites.begin());
    // A valid address always holds a dot, so an all-digit text can only be a position.
    std::size_t position = 0;
    const char* first = urlOrPosition.data();
    const char* last = first + urlOrPosition.size();
    const auto [end, error] = std::from_chars(first, last, position);
    if (urlOrPosition.empty() || error != std::errc() || end != last) return std::nullopt;
    if (position < 1 || position > sites.size()) return std::nullopt;
    return position - 1;
}

namespace {

// What an edit of the stored list decided; a refusal's text waits until the database is free.
struct EditDecision {
    SiteEditStatus status = SiteEditStatus::Saved;
    std::string refusal;
};

// Reads, edits and writes the stored list inside one write transaction, so an edit made by
// another process meanwhile is neither lost nor overwritten with a stale list. Nothing is shown
// before the transaction has ended and the connection is closed: a message box waits for the
// user, and every worker and every other copy of the program would wait on the lock with it.
template <typename Edit>
SiteEditStatus EditSites(const std::string& dbPath, UserNotifier& notifier, Edit edit) {
    const EditDecision decision = [&]() -> EditDecision {
        const EditDecision failed{SiteEditStatus::SaveFailed, {}};
        DbConnection db;
        if (!db.open(dbPath)) return failed;
        WriteTransaction transaction(db);
        if (!transaction.begun()) return failed;
        auto sites = ReadSitesInEntryOrder(db);
        if (!sites) return failed;
        EditDecision edited = edit(*sites);
        if (edited.status != SiteEditStatus::Saved) return edited;
        if (!WriteSites(db, *sites) || !transaction.commit()) return failed;
        return edited;
    }();
    switch (decision.status) {
        case SiteEditStatus::Saved:
            Process().siteColumnCount = ReloadSiteList(dbPath);
            break;
        case SiteEditStatus::Refused:
            notifier.showMessage(decision.refusal);
            break;
        case SiteEditStatus::SaveFailed:
            notifier.showMessage(kSiteSaveFailed);
            break;
        case SiteEditStatus::NotFound:
            break;
    }
    return decision.status;
}

// A read of the list for the early duplicate check waits this long at most. A writer holding
// the write lock does not block it; only a commit in progress does, briefly.
constexpr int kEarlyReadWaitMs = 250;

// The refusal of `typed` decided before anything is locked: emptiness and shape need only the
// text, and a duplicate is looked for in a plain read. `edited` names the site being changed,
// which is no duplicate of its own new address. nullopt when the address passes here or the list
// cannot be read now; the edit checks again under the lock, where another process may have
// stored the same address meanwhile.
std::optional<std::string> EarlyRefusal(const std::string& dbPath, const std::string& typed,
                                        const std::string* edited) {
    SiteCheckResult check = CheckNewSite(typed, {});
    if (!check.accepted) return std::move(check.message);
    DbConnection db;
    if (!db.open(dbPath)) return std::nullopt;
    sqlite3_busy_timeout(db.handle(), kEarlyReadWaitMs);
    auto sites = ReadSitesInEntryOrder(db);
    if (!sites) return std::nullopt;
    if (edited) {
        const auto index = FindSite(*sites, *edited);
        if (!index) return std::nullopt;
        sites->erase(sites->begin() + static_cast<std::ptrdiff_t>(*index));
    }
    check = CheckNewSite(typed, *sites);
    if (!check.accepted) return std::move(check.message);
    return std::nullopt;
}

}  // namespace

SiteEditStatus AddSite(const std::string& dbPath, const std::string& typed,
                       UserNotifier& notifier) {
    if (auto refusal = EarlyRefusal(dbPath, typed, nullptr)) {
        notifier.showMessage(*refusal);
        return SiteEditStatus::Refused;
    }
    const SiteEditStatus status =
        EditSites(dbPath, notifier, [&](std::vector<PromotionSite>& sites) -> EditDecision {
            SiteCheckResult check = CheckNewSite(typed, sites);
            if (!check.accepted) return {SiteEditStatus::Refused, std::move(check.message)};
            sites.push_back({std::move(check.url), 1});
            return {};
        });
    // Success is only reported once the site is really stored.
    if (status == SiteEditStatus::Saved) notifier.showMessage(kSiteAdded, "");
    return status;
}

SiteEditStatus SetSiteEnabled(const std::string& dbPath, const std::string& urlOrPosition,
                              bool enabled, UserNotifier& notifier) {
    return EditSites(dbPath, notifier, [&](std::vector<PromotionSite>& sites) -> EditDecision {
        const auto index = FindSite(sites, urlOrPosition);
        if (!index) return {SiteEditStatus::NotFound, {}};
        sites[*index].selected = enabled ? 1 : 0;
        return {};
    });
}

SiteEditStatus ModifySite(const std::string& dbPath, const std::string& urlOrPosition,
                          const std::string& typed, UserNotifier& notifier) {
    if (auto refusal = EarlyRefusal(dbPath, typed, &urlOrPosition)) {
        notifier.showMessage(*refusal);
        return SiteEditStatus::Refused;
    }
    return EditSites(dbPath, notifier, [&](std::vector<PromotionSite>& sites) -> EditDecision {
        const auto index = FindSite(sites, urlOrPosition);
        if (!index) return {SiteEditStatus::NotFound, {}};
        // The edited site itself is no duplicate of its new address.
        std::vector<PromotionSite> others = sites;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(*index));
        SiteCheckResult check = CheckNewSite(typed, others);
        if (!check.accepted) return {SiteEditStatus::Refused, std::move(check.message)};
        sites[*index].url = std::move(check.url);
        return {};
    });
}

SiteEditStatus RemoveSite(const std::string& dbPath, const std::string& urlOrPosition,
                          UserNotifier& notifier) {
    return EditSites(dbPath, notifier, [&](std::vector<PromotionSite>& sites) -> EditDecision {
        const auto index = FindSite(sites, urlOrPosition);
        if (!index) return {SiteEditStatus::NotFound, {}};
        sites.erase(sites.begin() + static_cast<std::ptrdiff_t>(*index));
        return {};
    });
}

}  // namespace velquist
