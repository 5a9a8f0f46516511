#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "records/natural_records.h"
#include "records/paid_records.h"
#include "records/site_records.h"
#include "records_test_support.h"

namespace velquist {
namespace {

using testing::RecordsTest;
using namespace std::chrono_literals;

// Before recording each message, writes to the database from a connection of its own that never
// waits. A window's message box blocks until the user answers, so an operation that still holds
// the write lock (or a read lock that keeps a writer from committing) would stall every worker
// and every other copy of the program meanwhile; here that shows as a failed write.
class LockProbeNotifier final : public UserNotifier {
  public:
    explicit LockProbeNotifier(std::string dbPath) : m_dbPath(std::move(dbPath)) {}

    using UserNotifier::showMessage;
    void showMessage(const std::string& text, const std::string&) override {
        messages.push_back(text);
        if (!writeWithoutWaiting()) shownWhileLocked.push_back(text);
    }
    bool askYesNo(const std::string&, const std::string&) override { return false; }

    std::vector<std::string> messages;
    std::vector<std::string> shownWhileLocked;

  private:
    bool writeWithoutWaiting() const {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(m_dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
        sqlite3_busy_timeout(db, 0);
        bool written = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (written) {
            written = sqlite3_exec(db, "INSERT INTO lock_probe DEFAULT VALUES", nullptr, nullptr,
                                   nullptr) == SQLITE_OK &&
                      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
            if (!written) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        sqlite3_close(db);
        return written;
    }

    std::string m_dbPath;
};

class DatabaseFreeAtMessage : public RecordsTest {
  protected:
    void SetUp() override {
        RecordsTest::SetUp();
        exec("CREATE TABLE lock_probe (at INTEGER)");
        exec("INSERT INTO website (urlid,url,selected) VALUES (0,'a.com',1),(1,'b.com',1)");
        exec("INSERT INTO plan (plan,planid) VALUES ('p',1)");
        exec("INSERT INTO unit (unit,unitid,planid) VALUES ('u',1,1)");
        exec("INSERT INTO keyword (keyword,unit,plan,keywordId,unitid) VALUES ('k','u','p',1,1)");
        exec("INSERT INTO seokeyword (keyword,keywordId) VALUES ('n',1)");
    }
};

TEST_F(DatabaseFreeAtMessage, EveryMessageComesAfterTheTransactionHasEnded) {
    const auto refuse = [](const std::string& table, const std::string& when) {
        return "CREATE TRIGGER refuse BEFORE " + when + " ON " + table +
               " BEGIN SELECT RAISE(ABORT,'refused'); END";
    };
    struct Case {
        std::string name;
        std::string setUp;  // SQL run first, "" for none
        std::function<void(const std::string&, UserNotifier&)> operation;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"natural add fails",
         refuse("seokeyword", "INSERT"),
         [](auto& db, auto& n) { addNaturalKeywords(db, {"x"}, n); },
         {"添加失败"}},
        {"natural add partly skipped",
         "",
         [](auto& db, auto& n) {
             addNaturalKeywords(db, {"n", "y"}, n);
         },
         {"您添加的内容包含已有的或重复的项，其余项已添加完毕"}},
        {"paid add fails",
         refuse("keyword", "INSERT"),
         [](auto& db, auto& n) {
             addPaidKeywords(db, {{"x", "u", "p"}}, n);
         },
         {"添加失败"}},
        {"paid add done",
         "",
         [](auto& db, auto& n) {
             addPaidKeywords(db, {{"x", "u2", "p2"}}, n);
         },
         {"添加完毕"}},
        {"natural delete fails",
         refuse("seokeyword", "DELETE"),
         [](auto& db, auto& n) {
             deleteNaturalKeywords(db, {{1, "n"}}, n);
         },
         {"删除关键词失败！"}},
        {"paid delete fails",
         refuse("keyword", "DELETE"),
         [](auto& db, auto& n) {
             deletePaidKeywords(db, {{1, "k", "u", "p"}}, n);
         },
         {"删除关键词失败！"}},
        {"unit delete fails",
         refuse("unit", "DELETE"),
         [](auto& db, auto& n) { deleteUnit(db, 1, n); },
         {"删除失败！"}},
        {"plan delete fails",
         refuse("plan", "DELETE"),
         [](auto& db, auto& n) { deletePlan(db, 1, n); },
         {"删除失败！"}},
        {"tree unreadable",
         "DROP TABLE unit",
         [](auto& db, auto& n) { loadTree(db, n); },
         {"连接单元数据失败，账户树未能读取成功！"}},
        {"site refusals",
         "",
         [](auto& db, auto& n) {
             AddSite(db, " ", n);
             AddSite(db, "oops", n);
             AddSite(db, "a.com", n);
             ModifySite(db, "a.com", "http://b.com", n);
         },
         {"网址为空，请输入正确的网址！", "您输入的 【 oops 】 不是正确的网址 ！",
          "您输入的 【 a.com 】 已经存在表中 ！", "您输入的 【 http://b.com 】 已经存在表中 ！"}},
        {"site save fails",
         refuse("website", "INSERT"),
         [](auto& db, auto& n) {
             AddSite(db, "c.com", n);
             RemoveSite(db, "a.com", n);
         },
         {"网址设置失败，请重试！", "网址设置失败，请重试！"}},
        {"site added", "", [](auto& db, auto& n) { AddSite(db, "c.com", n); }, {"添加成功！"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        if (!c.setUp.empty()) exec(c.setUp);
        LockProbeNotifier notifier(dbPath());
        c.operation(dbPath(), notifier);
        EXPECT_EQ(notifier.messages, c.expected);
        EXPECT_TRUE(notifier.shownWhileLocked.empty())
            << "shown under the lock: " << notifier.shownWhileLocked.front();
    }
}

// Holds the write lock from another connection, as a second copy of the program adding
// keywords would, until released or for at most `longest`.
class LockHolder {
  public:
    LockHolder(const std::string& dbPath, std::chrono::milliseconds longest,
               const std::string& uncommittedSql = "") {
        m_thread = std::thread([=, this] {
            sqlite3* db = nullptr;
            sqlite3_open(dbPath.c_str(), &db);
            const bool locked =
                sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK &&
                (uncommittedSql.empty() ||
                 sqlite3_exec(db, uncommittedSql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK);
            std::unique_lock guard(m_mutex);
            m_state = locked ? State::Locked : State::Failed;
            m_changed.notify_all();
            m_changed.wait_for(guard, longest, [this] { return m_state == State::Released; });
            guard.unlock();
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        });
        std::unique_lock guard(m_mutex);
        m_changed.wait(guard, [this] { return m_state != State::Starting; });
    }
    ~LockHolder() {
        release();
        m_thread.join();
    }
    bool locked() {
        std::lock_guard guard(m_mutex);
        return m_state == State::Locked;
    }
    void release() {
        std::lock_guard guard(m_mutex);
        m_state = State::Released;
        m_changed.notify_all();
    }

  private:
    enum class State { Starting, Locked, Failed, Released };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Starting;  // guarded by m_mutex
    std::thread m_thread;
};

TEST_F(DatabaseFreeAtMessage, BusyDatabaseNeverDelaysASiteRefusal) {
    LockHolder holder(dbPath(), 5s);
    ASSERT_TRUE(holder.locked());
    testing::RecordingNotifier notifier;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(AddSite(dbPath(), "", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(AddSite(dbPath(), "not an address", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(AddSite(dbPath(), "http://b.com", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(ModifySite(dbPath(), "2", "a.com", notifier), SiteEditStatus::Refused);
    EXPECT_EQ(ModifySite(dbPath(), "1", "\t", notifier), SiteEditStatus::Refused);
    const auto took = std::chrono::steady_clock::now() - started;
    holder.release();
    EXPECT_LT(took, 2s);
    EXPECT_EQ(notifier.messages.size(), 5u);
    EXPECT_EQ(rows("SELECT url FROM website ORDER BY urlid"),
              (std::vector<std::vector<std::string>>{{"a.com"}, {"b.com"}}));
}

// Another process stores the same address while this one waits for the lock: the check is made
// again under the lock, so the address is stored once and the refusal still waits for nothing.
TEST_F(DatabaseFreeAtMessage, SiteStoredMeanwhileByAnotherProcessIsRefusedUnderTheLock) {
    std::optional<SiteEditStatus> status;
    LockProbeNotifier notifier(dbPath());
    {
        LockHolder holder(dbPath(), 300ms,
                          "INSERT INTO website (urlid,url,selected) VALUES (2,'c.com',1)");
        ASSERT_TRUE(holder.locked());
        status = AddSite(dbPath(), "c.com", notifier);
    }
    EXPECT_EQ(status, SiteEditStatus::Refused);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"您输入的 【 c.com 】 已经存在表中 ！"});
    EXPECT_TRUE(notifier.shownWhileLocked.empty());
    EXPECT_EQ(column("SELECT url FROM website ORDER BY urlid"),
              (std::vector<std::string>{"a.com", "b.com", "c.com"}));
}

}  // namespace
}  // namespace velquist
