#include "records/rank_history.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>
#include <unordered_map>

namespace velquist {

namespace {

// A prepared statement with the 64-bit binds and columns that times need. Bound texts are not
// copied: they must stay alive until the statement is reset.
class Statement {
  public:
    bool prepare(sqlite3* db, std::string_view sql) {
        m_handle.reset();
        sqlite3_stmt* raw = nullptr;
        if (db && sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) ==
                      SQLITE_OK)
            m_handle.reset(raw);
        else
            sqlite3_finalize(raw);
        return m_handle != nullptr;
    }
    // Prepares on first use, so statements a call never needs cost nothing.
    Statement& ready(sqlite3* db, std::string_view sql) {
        if (!m_handle) prepare(db, sql);
        return *this;
    }

    void bindInt64(int position, std::int64_t value) {
        if (m_handle) sqlite3_bind_int64(m_handle.get(), position, value);
    }
    void bindText(int position, std::string_view text) {
        if (m_handle)
            sqlite3_bind_text(m_handle.get(), position, text.data(), static_cast<int>(text.size()),
                              SQLITE_STATIC);
    }
    int step() { return m_handle ? sqlite3_step(m_handle.get()) : SQLITE_MISUSE; }
    void reset() {
        if (m_handle) sqlite3_reset(m_handle.get());
    }

    std::int64_t int64(int column) const { return sqlite3_column_int64(m_handle.get(), column); }
    int integer(int column) const { return sqlite3_column_int(m_handle.get(), column); }
    std::string text(int column) const {
        const auto* bytes = sqlite3_column_text(m_handle.get(), column);
        if (!bytes) return {};
        return {reinterpret_cast<const char*>(bytes),
                static_cast<std::size_t>(sqlite3_column_bytes(m_handle.get(), column))};
    }

  private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
    };
    std::unique_ptr<sqlite3_stmt, Finalizer> m_handle;
};

// Resets the statement whichever way the caller leaves, so no read keeps its lock.
class ResetOnExit {
  public:
    explicit ResetOnExit(Statement& statement) : m_statement(statement) {}
    ~ResetOnExit() { m_statement.reset(); }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

  private:
    Statement& m_statement;
};

RankState StateFromColumn(int value) {
    switch (value) {
        case 0:
            return RankState::Ranked;
        case 2:
            return RankState::Failed;
        default:
            return RankState::NotFound;
    }
}

// The id of a dictionary row: found by its texts, else added.
template <typename Bind>
std::optional<std::int64_t> FindOrAdd(sqlite3* db, Statement& find, Statement& add, Bind bind) {
    {
        ResetOnExit done(find);
        bind(find);
        const int rc = find.step();
        if (rc == SQLITE_ROW) return find.int64(0);
        if (rc != SQLITE_DONE) return std::nullopt;
    }
    ResetOnExit done(add);
    bind(add);
    if (add.step() != SQLITE_DONE) return std::nullopt;
    return sqlite3_last_insert_rowid(db);
}

std::string KeyText(const HistoryKey& key) {
    // Stored texts hold no NUL byte, so it separates the parts unambiguously.
    std::string text(1, static_cast<char>('0' + static_cast<int>(key.kind)));
    for (const std::string* part : {&key.keyword, &key.plan, &key.unit}) {
        text += '\0';
        text += *part;
    }
    return text;
}

}  // namespace

struct RankHistoryAppender::Impl {
    sqlite3* db = nullptr;
    Statement findKeyword, addKeyword, insert, addSite, addRank;
    std::unordered_map<std::string, std::int64_t> keywordIds;

    std::optional<std::int64_t> keywordId(const HistoryKey& key) {
        std::string text = KeyText(key);
        if (const auto it = keywordIds.find(text); it != keywordIds.end()) return it->second;
        const auto id = FindOrAdd(
            db,
            findKeyword.ready(db,
                              "SELECT id FROM historykeyword WHERE kind=? AND keyword=? AND "
                              "plan=? AND unit=?"),
            addKeyword.ready(db,
                             "INSERT INTO historykeyword (kind,keyword,plan,unit) VALUES "
                             "(?,?,?,?)"),
            [&](Statement& s) {
                s.bindInt64(1, static_cast<int>(key.kind));
                s.bindText(2, key.keyword);
                s.bindText(3, key.plan);
                s.bindText(4, key.unit);
            });
        if (id) keywordIds.emplace(std::move(text), *id);
        return id;
    }

    // One row, its address and text looked up by the insert itself: one step where separate
    // lookups would take three. Nothing is inserted while either is missing from its table.
    bool insertRow(std::int64_t keywordId, std::int64_t time, const HistoryResult& result,
                   bool& inserted) {
        Statement& s = insert.ready(
            db,
            "INSERT OR REPLACE INTO rankhistory (historyKeywordId,time,siteId,rankId,rankNum,"
            "state) SELECT ?1, ?2, s.id, r.id, ?5, ?6 FROM historysite s, historyrank r WHERE "
            "s.url=?3 AND r.rank=?4");
        ResetOnExit done(s);
        s.bindInt64(1, keywordId);
        s.bindInt64(2, time);
        s.bindText(3, result.url);
        s.bindText(4, result.rankText);
        s.bindInt64(5, result.rankNum);
        s.bindInt64(6, static_cast<int>(result.state));
        if (s.step() != SQLITE_DONE) return false;
        inserted = sqlite3_changes(db) > 0;
        return true;
    }

    bool addText(Statement& statement, const char* sql, std::string_view text) {
        Statement& s = statement.ready(db, sql);
        ResetOnExit done(s);
        s.bindText(1, text);
        return s.step() == SQLITE_DONE;
    }
};

RankHistoryAppender::RankHistoryAppender(DbConnection& db) : m_impl(std::make_unique<Impl>()) {
    m_impl->db = db.handle();
}

RankHistoryAppender::~RankHistoryAppender() = default;

bool RankHistoryAppender::append(const HistoryKey& key, std::int64_t time,
                                 const std::vector<HistoryResult>& results) {
    Impl& m = *m_impl;
    const auto keywordId = m.keywordId(key);
    if (!keywordId) return false;
    for (const HistoryResult& result : results) {
        bool inserted = false;
        if (!m.insertRow(*keywordId, time, result, inserted)) return false;
        if (inserted) continue;
        // A new address or text: add it, then the row.
        if (!m.addText(m.addSite, "INSERT OR IGNORE INTO historysite (url) VALUES (?)",
                       result.url) ||
            !m.addText(m.addRank, "INSERT OR IGNORE INTO historyrank (rank) VALUES (?)",
                       result.rankText) ||
            !m.insertRow(*keywordId, time, result, inserted) || !inserted)
            return false;
    }
    return true;
}

struct RankHistoryReader::Impl {
    DbConnection db;
    Statement keywordsOfKind, findKeyword, series, newestFirst, siteUrl, rankText, site;
    // Addresses and texts by id, filled as checks name them. Ids may be reused after a prune, so
    // the caches live for one read only (see forgetTexts).
    std::unordered_map<std::int64_t, std::string> siteUrls, rankTexts;

    sqlite3* handle() const { return db.handle(); }

    void forgetTexts() {
        siteUrls.clear();
        rankTexts.clear();
    }

    // False when the read failed; `id` stays empty for a keyword without history.
    bool lookup(const HistoryKey& key, std::optional<std::int64_t>& id) {
        Statement& s = findKeyword.ready(handle(),
                                         "SELECT id FROM historykeyword WHERE kind=? AND "
                                         "keyword=? AND plan=? AND unit=?");
        ResetOnExit done(s);
        s.bindInt64(1, static_cast<int>(key.kind));
        s.bindText(2, key.keyword);
        s.bindText(3, key.plan);
        s.bindText(4, key.unit);
        const int rc = s.step();
        if (rc == SQLITE_ROW) id = s.int64(0);
        return rc == SQLITE_ROW || rc == SQLITE_DONE;
    }

    // The text of a dictionary row; nullptr when the read failed or the row is missing.
    const std::string* dictionaryText(std::unordered_map<std::int64_t, std::string>& cache,
                                      Statement& statement, const char* sql, std::int64_t id) {
        if (const auto it = cache.find(id); it != cache.end()) return &it->second;
        Statement& s = statement.ready(handle(), sql);
        ResetOnExit done(s);
        s.bindInt64(1, id);
        if (s.step() != SQLITE_ROW) return nullptr;
        return &cache.emplace(id, s.text(0)).first->second;
    }

    // One row of rankhistory as read, before its texts are looked up.
    struct RawPoint {
        std::int64_t time = 0;
        std::int64_t rankId = 0;
        int rankNum = 0;
        int state = 0;
    };

    std::optional<HistoryPoint> point(const RawPoint& raw) {
        const std::string* text = dictionaryText(
            rankTexts, rankText, "SELECT rank FROM historyrank WHERE id=?", raw.rankId);
        if (!text) return std::nullopt;
        return HistoryPoint{raw.time, *text, raw.rankNum, StateFromColumn(raw.state)};
    }

    std::optional<KeywordCheck> latestCheck(const HistoryKey& key,
                                            std::optional<std::int64_t> since) {
        KeywordCheck check;
        check.key = key;
        std::optional<std::int64_t> keywordId;
        if (!lookup(key, keywordId)) return std::nullopt;
        if (!keywordId) return check;

        struct Site {
            std::int64_t id = 0;
            RawPoint latest;
            std::optional<RawPoint> previous;
            bool settled = false;
        };
        std::vector<Site> sites;
        {
            // One walk back from the latest check, which stops as soon as every site of that
            // check has the standing it is compared with: a page of many keywords reads a few
            // rows of each instead of one statement per site. Ids, not texts: the few distinct
            // addresses and texts are looked up once per read.
            Statement& s = newestFirst.ready(
                handle(),
                "SELECT time, siteId, rankId, rankNum, state FROM rankhistory WHERE "
                "historyKeywordId=? ORDER BY time DESC");
            ResetOnExit done(s);
            s.bindInt64(1, *keywordId);
            int rc = s.step();
            if (rc == SQLITE_ROW) check.time = s.int64(0);
            for (; rc == SQLITE_ROW && s.int64(0) == check.time; rc = s.step())
                sites.push_back(
                    {s.int64(1), {check.time, s.int64(2), s.integer(3), s.integer(4)}, {}, false});
            if (since && check.time < *since) return KeywordCheck{key, check.time, {}};
            std::size_t unsettled = sites.size();
            for (; rc == SQLITE_ROW && unsettled > 0; rc = s.step()) {
                if (StateFromColumn(s.integer(4)) == RankState::Failed) continue;
                const std::int64_t siteId = s.int64(1);
                const auto found = std::find_if(sites.begin(), sites.end(),
                                                [siteId](const Site& x) { return x.id == siteId; });
                if (found == sites.end() || found->settled) continue;
                const std::int64_t time = s.int64(0);
                found->previous = RawPoint{time, s.int64(2), s.integer(3), s.integer(4)};
                // With `since`, checks from then on only stand in until one before it turns up;
                // walking back, the last of them seen is the first one from `since` on.
                if (!since || time < *since) {
                    found->settled = true;
                    --unsettled;
                }
            }
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return std::nullopt;
        }
        check.sites.reserve(sites.size());
        for (const Site& site : sites) {
            const std::string* url = dictionaryText(
                siteUrls, siteUrl, "SELECT url FROM historysite WHERE id=?", site.id);
            auto latest = point(site.latest);
            if (!url || !latest) return std::nullopt;
            SiteCheck& out = check.sites.emplace_back();
            out.url = *url;
            out.latest = std::move(*latest);
            if (site.previous) {
                out.previous = point(*site.previous);
                if (!out.previous) return std::nullopt;
            }
        }
        std::sort(check.sites.begin(), check.sites.end(),
                  [](const SiteCheck& a, const SiteCheck& b) { return a.url < b.url; });
        return check;
    }
};

RankHistoryReader::RankHistoryReader(const std::string& dbPath) : m_impl(std::make_unique<Impl>()) {
    m_impl->db.open(dbPath);
}

RankHistoryReader::~RankHistoryReader() = default;

bool RankHistoryReader::isOpen() const { return m_impl->db.isOpen(); }

std::optional<std::vector<HistoryKey>> RankHistoryReader::keywords(RankKind kind) {
    Statement& s = m_impl->keywordsOfKind.ready(
        m_impl->handle(),
        "SELECT keyword, plan, unit FROM historykeyword WHERE kind=? ORDER BY id");
    ResetOnExit done(s);
    s.bindInt64(1, static_cast<int>(kind));
    std::vector<HistoryKey> keys;
    int rc = s.step();
    for (; rc == SQLITE_ROW; rc = s.step()) keys.push_back({kind, s.text(0), s.text(1), s.text(2)});
    if (rc != SQLITE_DONE) return std::nullopt;
    return keys;
}

std::optional<std::vector<SiteSeries>> RankHistoryReader::series(const HistoryKey& key,
                                                                 std::int64_t since) {
    std::optional<std::int64_t> keywordId;
    if (!m_impl->lookup(key, keywordId)) return std::nullopt;
    if (!keywordId) return std::vector<SiteSeries>{};
    Statement& s = m_impl->series.ready(
        m_impl->handle(),
        "SELECT s.url, h.time, r.rank, h.rankNum, h.state FROM rankhistory h JOIN historysite s "
        "ON s.id=h.siteId JOIN historyrank r ON r.id=h.rankId WHERE h.historyKeywordId=? AND "
        "h.time>=? ORDER BY h.time");
    ResetOnExit done(s);
    s.bindInt64(1, *keywordId);
    s.bindInt64(2, since);
    std::map<std::string, std::vector<HistoryPoint>> bySite;
    int rc = s.step();
    for (; rc == SQLITE_ROW; rc = s.step())
        bySite[s.text(0)].push_back(
            {s.int64(1), s.text(2), s.integer(3), StateFromColumn(s.integer(4))});
    if (rc != SQLITE_DONE) return std::nullopt;
    std::vector<SiteSeries> result;
    result.reserve(bySite.size());
    for (auto& [url, points] : bySite) result.push_back({url, std::move(points)});
    return result;
}

std::optional<KeywordCheck> RankHistoryReader::latestCheck(const HistoryKey& key,
                                                           std::optional<std::int64_t> since) {
    m_impl->forgetTexts();
    return m_impl->latestCheck(key, since);
}

std::optional<bool> RankHistoryReader::knowsSite(const std::string& url) {
    Statement& s =
        m_impl->site.ready(m_impl->handle(), "SELECT 1 FROM historysite WHERE url=? LIMIT 1");
    ResetOnExit done(s);
    s.bindText(1, url);
    const int rc = s.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return std::nullopt;
    return rc == SQLITE_ROW;
}

std::optional<std::vector<KeywordCheck>> RankHistoryReader::latestChecks(
    const std::vector<HistoryKey>& keys, std::optional<std::int64_t> since) {
    std::vector<KeywordCheck> checks;
    checks.reserve(keys.size());
    if (!forEachLatestCheck(
            keys,
            [&checks](std::size_t, KeywordCheck&& check) { checks.push_back(std::move(check)); },
            since))
        return std::nullopt;
    return checks;
}

bool RankHistoryReader::forEachLatestCheck(
    const std::vector<HistoryKey>& keys,
    const std::function<void(std::size_t, KeywordCheck&&)>& use,
    std::optional<std::int64_t> since) {
    // One read transaction: one snapshot, and one lock instead of one per statement. It ends
    // however the loop is left, so the reader never keeps a lock it would hold between calls.
    struct EndRead {
        DbConnection& db;
        const bool begun;
        ~EndRead() {
            if (begun) db.execute("COMMIT");
        }
    } read{m_impl->db, m_impl->db.execute("BEGIN") == SQLITE_OK};
    m_impl->forgetTexts();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        // Without the one snapshot, each keyword is a read of its own.
        if (!read.begun) m_impl->forgetTexts();
        auto check = m_impl->latestCheck(keys[i], since);
        if (!check) return false;
        use(i, std::move(*check));
    }
    return true;
}

std::optional<std::vector<KeywordCheck>> LoadLatestChecks(const std::string& dbPath,
                                                          const std::vector<HistoryKey>& keys) {
    RankHistoryReader reader(dbPath);
    if (!reader.isOpen()) return std::nullopt;
    return reader.latestChecks(keys);
}

std::optional<std::vector<SiteSeries>> LoadRankSeries(const std::string& dbPath,
                                                      const HistoryKey& key, std::int64_t since) {
    RankHistoryReader reader(dbPath);
    if (!reader.isOpen()) return std::nullopt;
    return reader.series(key, since);
}

std::optional<long long> Standing(const HistoryPoint& point) {
    switch (point.state) {
        case RankState::Ranked:
            return point.rankNum;
        case RankState::NotFound:
            return kNotFoundStanding;
        case RankState::Failed:
            break;
    }
    return std::nullopt;
}

std::optional<long long> StandingGain(const HistoryPoint& before, const HistoryPoint& after) {
    const auto from = Standing(before);
    const auto to = Standing(after);
    if (!from || !to) return std::nullopt;
    return *from - *to;
}

std::vector<RankChange> FindRankChanges(const std::vector<KeywordCheck>& checks) {
    std::vector<RankChange> changes;
    for (const KeywordCheck& check : checks)
        for (const SiteCheck& site : check.sites) {
            if (!site.previous) continue;
            const auto gain = StandingGain(*site.previous, site.latest);
            if (!gain || *gain == 0) continue;
            changes.push_back({check.key, site.url, *site.previous, site.latest, *gain});
        }
    const auto order = [](const RankChange& c) {
        return std::make_tuple(-c.gain, *Standing(c.after), std::cref(c.key.keyword),
                               std::cref(c.key.plan), std::cref(c.key.unit), std::cref(c.url));
    };
    std::sort(changes.begin(), changes.end(),
              [&](const RankChange& a, const RankChange& b) { return order(a) < order(b); });
    return changes;
}

std::optional<std::vector<RankChange>> LoadRankChanges(const std::string& dbPath, RankKind kind,
                                                       std::optional<std::int64_t> since) {
    RankHistoryReader reader(dbPath);
    if (!reader.isOpen()) return std::nullopt;
    const auto keys = reader.keywords(kind);
    if (!keys) return std::nullopt;
    const auto checks = reader.latestChecks(*keys, since);
    if (!checks) return std::nullopt;
    return FindRankChanges(*checks);
}

std::optional<long long> PruneRankHistory(const std::string& dbPath, std::int64_t before) {
    DbConnection db;
    if (!db.open(dbPath)) return std::nullopt;
    WriteTransaction transaction(db);
    if (!transaction.begun()) return std::nullopt;
    Statement remove;
    remove.prepare(db.handle(), "DELETE FROM rankhistory WHERE time<?");
    remove.bindInt64(1, before);
    if (remove.step() != SQLITE_DONE) return std::nullopt;
    const long long removed = sqlite3_changes(db.handle());
    remove.reset();
    for (const char* sql :
         {"DELETE FROM historykeyword WHERE NOT EXISTS (SELECT 1 FROM rankhistory WHERE "
          "historyKeywordId=historykeyword.id)",
          "DELETE FROM historysite WHERE id NOT IN (SELECT siteId FROM rankhistory)",
          "DELETE FROM historyrank WHERE id NOT IN (SELECT rankId FROM rankhistory)"}) {
        DbStatement statement(db, sql);
        if (!StepSucceeded(statement.step())) return std::nullopt;
    }
    if (!transaction.commit()) return std::nullopt;
    return removed;
}

std::optional<std::int64_t> ParseLocalTime(std::string_view text) {
    // Fixed positions only: "2026-3-1" or trailing text would make a date the user did not mean.
    const bool dateOnly = text.size() == 10;
    if (!dateOnly && text.size() != 19) return std::nullopt;
    const std::string_view pattern = "dddd-dd-dd dd:dd:dd";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    std::tm wanted{};
    wanted.tm_year = number(0, 4) - 1900;
    wanted.tm_mon = number(5, 2) - 1;
    wanted.tm_mday = number(8, 2);
    if (!dateOnly) {
        wanted.tm_hour = number(11, 2);
        wanted.tm_min = number(14, 2);
        wanted.tm_sec = number(17, 2);
    }
    wanted.tm_isdst = -1;
    std::tm local = wanted;
    const std::time_t time = std::mktime(&local);
    if (time == static_cast<std::time_t>(-1)) return std::nullopt;
    // mktime moves 2026-02-30 to March; a date or time it had to move does not exist.
    if (local.tm_year != wanted.tm_year || local.tm_mon != wanted.tm_mon ||
        local.tm_mday != wanted.tm_mday)
        return std::nullopt;
    if (!dateOnly && (local.tm_hour != wanted.tm_hour || local.tm_min != wanted.tm_min ||
                      local.tm_sec != wanted.tm_sec))
        return std::nullopt;
    return static_cast<std::int64_t>(time);
}

}  // namespace velquist
