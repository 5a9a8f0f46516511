#pragma once

#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace velquist {

// SQLite result codes the callers look at.
inline constexpr int kSqliteOk = 0;
inline constexpr int kSqliteConstraint = 19;
inline constexpr int kSqliteRow = 100;
inline constexpr int kSqliteDone = 101;

// A step result that counts as a successful write.
inline bool StepSucceeded(int rc) { return rc == kSqliteOk || rc == kSqliteDone; }

// Owns one SQLite connection. One object belongs to one operation or one thread; never shared
// between threads. Failures are returned as values, nothing is thrown.
class DbConnection {
  public:
    static constexpr int kBusyTimeoutMs = 15 * 60 * 1000;

    DbConnection() = default;
    explicit DbConnection(const std::string& path) { open(path); }
    DbConnection(DbConnection&&) noexcept = default;
    DbConnection& operator=(DbConnection&&) noexcept = default;

    // True when sqlite3_open succeeded; sets the 15-minute busy timeout.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    std::string errorMessage() const;
    // Runs a fixed text such as "BEGIN IMMEDIATE"; returns the SQLite code (callers may ignore it).
    int execute(const char* sql);
    sqlite3* handle() const { return m_handle.get(); }

  private:
    struct Closer {
        void operator()(sqlite3* db) const noexcept;
    };
    std::unique_ptr<sqlite3, Closer> m_handle;
};

// Owns one prepared statement of a connection. A failed prepare leaves a null handle whose
// first step returns an error, so reads end and writes roll back through the normal paths.
class DbStatement {
  public:
    DbStatement(DbConnection& connection, std::string_view sql);
    DbStatement(DbStatement&&) noexcept = default;
    DbStatement& operator=(DbStatement&&) noexcept = default;

    // Finalizes the current statement and prepares a new text; returns the finalize code, and a
    // non-zero code skips the new prepare.
    int reprepare(std::string_view sql);
    void finish();
    bool isPrepared() const { return m_handle != nullptr; }

    // Bound texts are copied by SQLite, so temporaries are safe to pass.
    void bindText(int position, std::string_view text);
    void bindText(const char* parameterName, std::string_view text);
    void bindInt(int position, int value);
    int step();
    void reset();

    std::string columnText(int column) const;  // NULL reads as ""
    int columnInt(int column) const;           // NULL reads as 0
    bool columnIsNull(int column) const;
    // Zero-copy view of a text column, valid until the next step; NULL gives an empty view.
    std::string_view columnView(int column) const;

  private:
    struct Finalizer {
        void operator()(sqlite3_stmt* stmt) const noexcept;
    };
    DbConnection* m_connection;
    std::unique_ptr<sqlite3_stmt, Finalizer> m_handle;
};

// Single value: one step; column 0 as an integer on a row, else 0 (so an empty max() is 0).
int ReadSingleInt(DbStatement& statement);
int ReadSingleInt(DbConnection& connection, std::string_view sql);

// "BEGIN IMMEDIATE" on construction; rolls back on destruction unless committed.
class WriteTransaction {
  public:
    explicit WriteTransaction(DbConnection& connection);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool begun() const { return m_begun; }
    // COMMIT; returns true when SQLite accepted it.
    bool commit();
    void rollback();

  private:
    DbConnection& m_connection;
    bool m_begun = false;
    bool m_done = false;
};

}  // namespace velquist
