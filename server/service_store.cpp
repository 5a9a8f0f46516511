#include "server/service_store.h"

#include <openssl/rand.h>
#include <sqlite3.h>

#include <charconv>

#include "core/database.h"
#include "core/paths.h"
#include "core/text.h"
#include "services/envelope.h"

namespace velquist::service {

namespace {

// A request waits this long for another writer; a client's own time limit is longer.
constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS account("
    " name TEXT PRIMARY KEY NOT NULL, salt TEXT NOT NULL, sealed TEXT NOT NULL,"
    " truename TEXT NOT NULL DEFAULT '', comname TEXT NOT NULL DEFAULT '',"
    " score TEXT NOT NULL DEFAULT '0', jointime TEXT NOT NULL DEFAULT '',"
    " levelname TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS seen_time("
    " scope TEXT NOT NULL, name TEXT NOT NULL, timehash TEXT NOT NULL, seen TEXT NOT NULL,"
    " PRIMARY KEY(scope, name, timehash)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS feedback("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, received TEXT NOT NULL, address TEXT NOT NULL,"
    " machine TEXT NOT NULL, appversion TEXT NOT NULL, contact TEXT NOT NULL,"
    " content TEXT NOT NULL, cpu TEXT NOT NULL, memory TEXT NOT NULL, os TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS usage("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, received TEXT NOT NULL,"
    " address TEXT NOT NULL, machine TEXT NOT NULL, os TEXT NOT NULL,"
    " ranklogid TEXT NOT NULL, accinfo TEXT NOT NULL, login_id INTEGER NOT NULL DEFAULT 0);";

// A connection set up the same way for every operation: a bounded wait for other writers, and
// commits that reach the disk before the answer leaves.
std::optional<DbConnection> Connect(const std::string& path) {
    DbConnection db;
    if (!db.open(path)) return std::nullopt;
    sqlite3_busy_timeout(db.handle(), kBusyTimeoutMs);
    if (db.execute("PRAGMA synchronous=FULL") != kSqliteOk) return std::nullopt;
    return db;
}

std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

bool HasControlCharacters(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return true;
    }
    return false;
}

std::string RandomToken() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string token;
    for (const unsigned char byte : bytes) {
        token.push_back(kHex[byte >> 4]);
        token.push_back(kHex[byte & 0x0F]);
    }
    return token;
}

std::optional<std::int64_t> ParseId(const std::string& text) {
    std::int64_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || id <= 0) return std::nullopt;
    return id;
}

std::int64_t LastInsertId(DbConnection& db) { return sqlite3_last_insert_rowid(db.handle()); }

std::int64_t ColumnInt64(const DbStatement& statement, int column) {
    const std::string_view text = statement.columnView(column);
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

AccountTextProblem CheckAccountName(const std::string& name) {
    if (name.empty()) return AccountTextProblem::Empty;
    if (!IsValidUtf8(name) || HasControlCharacters(name)) return AccountTextProblem::NotText;
    if (TrimWhitespace(name) != name) return AccountTextProblem::EdgeBlanks;
    if (CharacterCount(name) > 64) return AccountTextProblem::TooLong;
    return AccountTextProblem::None;
}

AccountTextProblem CheckPassword(const std::string& password) {
    if (password.empty()) return AccountTextProblem::Empty;
    if (!IsValidUtf8(password) || HasControlCharacters(password))
        return AccountTextProblem::NotText;
    if (CharacterCount(password) < 6) return AccountTextProblem::TooShort;
    if (CharacterCount(password) > 64) return AccountTextProblem::TooLong;
    return AccountTextProblem::None;
}

std::optional<ServiceStore> ServiceStore::Open(const std::string& dataFolder, std::string& error) {
    if (!EnsureFolder(dataFolder)) {
        error = "cannot create the data folder " + dataFolder;
        return std::nullopt;
    }
    auto vault = PasswordVault::OpenKeyFile(dataFolder + "/service.key", error);
    if (!vault) return std::nullopt;
    const std::string path = dataFolder + "/service.db";
    auto db = Connect(path);
    if (!db) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    // WAL is a property of the file: set once, every later connection finds it.
    {
        DbStatement mode(*db, "PRAGMA journal_mode=WAL");
        if (mode.step() != kSqliteRow || mode.columnText(0) != "wal") {
            error = "cannot switch " + path + " to WAL mode: " + db->errorMessage();
            return std::nullopt;
        }
    }
    if (db->execute(kSchema) != kSqliteOk) {
        error = "cannot create the tables of " + path + ": " + db->errorMessage();
        return std::nullopt;
    }
    return ServiceStore(path, std::move(*vault));
}

ServiceStore::Write ServiceStore::addAccount(const std::string& name, const std::string& password,
                                             AccountProfile profile) {
    if (CheckAccountName(name) != AccountTextProblem::None ||
        CheckPassword(password) != AccountTextProblem::None)
        return Write::Refused;
    const auto sealed = m_vault.seal(name, Md5HexUpper(password));
    auto db = Connect(m_databasePath);
    if (!sealed || !db) return Write::Failed;
    if (profile.joinTime.empty()) profile.joinTime = LocalTimeText();
    DbStatement insert(*db,
                       "INSERT INTO account(name,salt,sealed,truename,comname,score,jointime,"
                       "levelname) VALUES(?,?,?,?,?,?,?,?)");
    insert.bindText(1, name);
    insert.bindText(2, sealed->salt);
    insert.bindText(3, sealed->sealed);
    insert.bindText(4, profile.trueName);
    insert.bindText(5, profile.companyName);
    insert.bindText(6, profile.score);
    insert.bindText(7, profile.joinTime);
    insert.bindText(8, profile.levelName);
    const int rc = insert.step();
    if (StepSucceeded(rc)) return Write::Done;
    return (rc & 0xFF) == kSqliteConstraint ? Write::Exists : Write::Failed;
}

ServiceStore::Write ServiceStore::setPassword(const std::string& name,
                                              const std::string& password) {
    if (CheckPassword(password) != AccountTextProblem::None) return Write::Refused;
    const auto sealed = m_vault.seal(name, Md5HexUpper(password));
    auto db = Connect(m_databasePath);
    if (!sealed || !db) return Write::Failed;
    DbStatement update(*db, "UPDATE account SET salt=?, sealed=? WHERE name=?");
    update.bindText(1, sealed->salt);
    update.bindText(2, sealed->sealed);
    update.bindText(3, name);
    if (!StepSucceeded(update.step())) return Write::Failed;
    return sqlite3_changes(db->handle()) > 0 ? Write::Done : Write::Missing;
}

std::optional<ServiceAccount> ServiceStore::findAccount(const std::string& name) const {
    auto db = Connect(m_databasePath);
    if (!db) return std::nullopt;
    DbStatement select(*db,
                       "SELECT salt,sealed,truename,comname,score,jointime,levelname "
                       "FROM account WHERE name=?");
    select.bindText(1, name);
    if (select.step() != kSqliteRow) return std::nullopt;
    const auto hash = m_vault.unseal(name, {select.columnText(0), select.columnText(1)});
    if (!hash) return std::nullopt;
    return ServiceAccount{
        name, *hash,
        AccountProfile{select.columnText(2), select.columnText(3), select.columnText(4),
                       select.columnText(5), select.columnText(6)}};
}

std::vector<ServiceAccount> ServiceStore::listAccounts() const {
    std::vector<ServiceAccount> accounts;
    auto db = Connect(m_databasePath);
    if (!db) return accounts;
    DbStatement select(*db,
                       "SELECT name,truename,comname,score,jointime,levelname FROM account "
                       "ORDER BY rowid");
    while (select.step() == kSqliteRow) {
        accounts.push_back(
            {select.columnText(0), "",
             AccountProfile{select.columnText(1), select.columnText(2), select.columnText(3),
                            select.columnText(4), select.columnText(5)}});
    }
    return accounts;
}

ServiceStore::Claim ServiceStore::claimTimeHash(const std::string& scope, const std::string& name,
                                                const std::string& token) {
    auto db = Connect(m_databasePath);
    if (!db) return Claim::Failed;
    DbStatement insert(*db, "INSERT INTO seen_time(scope,name,timehash,seen) VALUES(?,?,?,?)");
    insert.bindText(1, scope);
    insert.bindText(2, name);
    insert.bindText(3, token);
    insert.bindText(4, LocalTimeText());
    const int rc = insert.step();
    if (StepSucceeded(rc)) return Claim::Fresh;
    return (rc & 0xFF) == kSqliteConstraint ? Claim::Replayed : Claim::Failed;
}

bool ServiceStore::addFeedback(const FeedbackRecord& record) {
    auto db = Connect(m_databasePath);
    if (!db) return false;
    DbStatement insert(*db,
                       "INSERT INTO feedback(received,address,machine,appversion,contact,content,"
                       "cpu,memory,os) VALUES(?,?,?,?,?,?,?,?,?)");
    insert.bindText(1, LocalTimeText());
    insert.bindText(2, record.address);
    insert.bindText(3, record.machine);
    insert.bindText(4, record.appVersion);
    insert.bindText(5, record.contact);
    insert.bindText(6, record.content);
    insert.bindText(7, record.cpu);
    insert.bindText(8, record.memory);
    insert.bindText(9, record.os);
    return StepSucceeded(insert.step());
}

std::vector<FeedbackRecord> ServiceStore::listFeedback() const {
    std::vector<FeedbackRecord> records;
    auto db = Connect(m_databasePath);
    if (!db) return records;
    DbStatement select(*db,
                       "SELECT id,received,address,machine,appversion,contact,content,cpu,memory,"
                       "os FROM feedback ORDER BY id");
    while (select.step() == kSqliteRow) {
        FeedbackRecord record;
        record.id = ColumnInt64(select, 0);
        record.received = select.columnText(1);
        record.address = select.columnText(2);
        record.machine = select.columnText(3);
        record.appVersion = select.columnText(4);
        record.contact = select.columnText(5);
        record.content = select.columnText(6);
        record.cpu = select.columnText(7);
        record.memory = select.columnText(8);
        record.os = select.columnText(9);
        records.push_back(std::move(record));
    }
    return records;
}

std::optional<UsageRecord> ServiceStore::addLoginReport(const std::string& address,
                                                        const std::string& machine,
                                                        const std::string& os) {
    auto db = Connect(m_databasePath);
    if (!db) return std::nullopt;
    UsageRecord record;
    record.kind = "login";
    record.received = LocalTimeText();
    record.address = address;
    record.machine = machine;
    record.os = os;
    record.accinfo = RandomToken();
    if (record.accinfo.empty()) return std::nullopt;
    WriteTransaction transaction(*db);
    if (!transaction.begun()) return std::nullopt;
    {
        DbStatement insert(*db,
                           "INSERT INTO usage(kind,received,address,machine,os,ranklogid,accinfo)"
                           " VALUES('login',?,?,?,?,'',?)");
        insert.bindText(1, record.received);
        insert.bindText(2, address);
        insert.bindText(3, machine);
        insert.bindText(4, os);
        insert.bindText(5, record.accinfo);
        if (!StepSucceeded(insert.step())) return std::nullopt;
    }
    record.id = LastInsertId(*db);
    record.ranklogid = std::to_string(record.id);
    DbStatement update(*db, "UPDATE usage SET ranklogid=? WHERE id=?");
    update.bindText(1, record.ranklogid);
    update.bindText(2, record.ranklogid);
    if (!StepSucceeded(update.step()) || !transaction.commit()) return std::nullopt;
    return record;
}

std::optional<UsageRecord> ServiceStore::addExitReport(const std::string& address,
                                                       const std::string& os,
                                                       const std::string& ranklogid,
                                                       const std::string& accinfo) {
    auto db = Connect(m_databasePath);
    if (!db) return std::nullopt;
    UsageRecord record;
    record.kind = "exit";
    record.received = LocalTimeText();
    record.address = address;
    record.os = os;
    record.ranklogid = ranklogid;
    record.accinfo = accinfo;
    WriteTransaction transaction(*db);
    if (!transaction.begun()) return std::nullopt;
    // Only the pair from the start-up answer ties an exit to it: ids alone are easy to guess.
    if (const auto loginId = ParseId(ranklogid); loginId && !accinfo.empty()) {
        DbStatement find(*db,
                         "SELECT machine FROM usage WHERE id=? AND kind='login' AND accinfo=?");
        find.bindText(1, ranklogid);
        find.bindText(2, accinfo);
        if (find.step() == kSqliteRow) {
            record.loginId = *loginId;
            record.machine = find.columnText(0);
        }
    }
    {
        DbStatement insert(*db,
                           "INSERT INTO usage(kind,received,address,machine,os,ranklogid,accinfo,"
                           "login_id) VALUES('exit',?,?,?,?,?,?,?)");
        insert.bindText(1, record.received);
        insert.bindText(2, address);
        insert.bindText(3, record.machine);
        insert.bindText(4, os);
        insert.bindText(5, ranklogid);
        insert.bindText(6, accinfo);
        insert.bindText(7, std::to_string(record.loginId));
        if (!StepSucceeded(insert.step())) return std::nullopt;
    }
    record.id = LastInsertId(*db);
    if (!transaction.commit()) return std::nullopt;
    return record;
}

std::vector<UsageRecord> ServiceStore::listUsage() const {
    std::vector<UsageRecord> records;
    auto db = Connect(m_databasePath);
    if (!db) return records;
    DbStatement select(*db,
                       "SELECT id,kind,received,address,machine,os,ranklogid,accinfo,login_id "
                       "FROM usage ORDER BY id");
    while (select.step() == kSqliteRow) {
        UsageRecord record;
        record.id = ColumnInt64(select, 0);
        record.kind = select.columnText(1);
        record.received = select.columnText(2);
        record.address = select.columnText(3);
        record.machine = select.columnText(4);
        record.os = select.columnText(5);
        record.ranklogid = select.columnText(6);
        record.accinfo = select.columnText(7);
        record.loginId = ColumnInt64(select, 8);
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace velquist::service
