#include "core/database.h"

#include <sqlite3.h>

#include <mutex>

namespace velquist {

namespace {
void ConfigureLibraryOnce() {
    // Multi-thread mode: each connection is used by one thread at a time, which the
    // connection-per-operation rule guarantees. It only takes effect before the library
    // initialises, so it is done once, ahead of the first open.
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MULTITHREAD); });
}
}  // namespace

void DbConnection::Closer::operator()(sqlite3* db) const noexcept { sqlite3_close(db); }

bool DbConnection::open(const std::string& path) {
    ConfigureLibraryOnce();
    close();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open(path.c_str(), &raw);
    if (rc != SQLITE_OK) {
        // sqlite3_open hands back a handle even on failure; it must still be closed.
        sqlite3_close(raw);
        return false;
    }
    m_handle.reset(raw);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    return true;
}

void DbConnection::close() { m_handle.reset(); }

std::string DbConnection::errorMessage() const {
    if (!m_handle) return "no connection";
    return sqlite3_errmsg(m_handle.get());
}

int DbConnection::execute(const char* sql) {
    if (!m_handle) return SQLITE_MISUSE;
    return sqlite3_exec(m_handle.get(), sql, nullptr, nullptr, nullptr);
}

void DbStatement::Finalizer::operator()(sqlite3_stmt* stmt) const noexcept {
    sqlite3_finalize(stmt);
}

DbStatement::DbStatement(DbConnection& connection, std::string_view sql)
    : m_connection(&connection) {
    reprepare(sql);
}

int DbStatement::reprepare(std::string_view sql) {
    const int rc = m_handle ? sqlite3_finalize(m_handle.release()) : SQLITE_OK;
    if (rc != SQLITE_OK) return rc;
    if (!m_connection->handle()) return rc;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(m_connection->handle(), sql.data(), static_cast<int>(sql.size()), &raw,
                           nullptr) == SQLITE_OK)
        m_handle.reset(raw);
    else
        sqlite3_finalize(raw);
    return rc;
}

void DbStatement::finish() { m_handle.reset(); }

void DbStatement::bindText(int position, std::string_view text) {
    if (!m_handle) return;
    sqlite3_bind_text(m_handle.get(), position, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

void DbStatement::bindText(const char* parameterName, std::string_view text) {
    if (!m_handle) return;
    bindText(sqlite3_bind_parameter_index(m_handle.get(), parameterName), text);
}

void DbStatement::bindInt(int position, int value) {
    if (!m_handle) return;
    sqlite3_bind_int(m_handle.get(), position, value);
}

int DbStatement::step() {
    if (!m_handle) return SQLITE_MISUSE;
    return sqlite3_step(m_handle.get());
}

void DbStatement::reset() {
    if (!m_handle) return;
    sqlite3_reset(m_handle.get());
    sqlite3_clear_bindings(m_handle.get());
}

std::string DbStatement::columnText(int column) const { return std::string(columnView(column)); }

std::string_view DbStatement::columnView(int column) const {
    if (!m_handle) return {};
    const auto* text = sqlite3_column_text(m_handle.get(), column);
    if (!text) return {};
    return {reinterpret_cast<const char*>(text),
            static_cast<std::size_t>(sqlite3_column_bytes(m_handle.get(), column))};
}

int DbStatement::columnInt(int column) const {
    if (!m_handle) return 0;
    return sqlite3_column_int(m_handle.get(), column);
}

bool DbStatement::columnIsNull(int column) const {
    if (!m_handle) return true;
    return sqlite3_column_type(m_handle.get(), column) == SQLITE_NULL;
}

int ReadSingleInt(DbStatement& statement) {
    return statement.step() == SQLITE_ROW ? statement.columnInt(0) : 0;
}

int ReadSingleInt(DbConnection& connection, std::string_view sql) {
    DbStatement statement(connection, sql);
    return ReadSingleInt(statement);
}

WriteTransaction::WriteTransaction(DbConnection& connection) : m_connection(connection) {
    m_begun = m_connection.execute("BEGIN IMMEDIATE") == SQLITE_OK;
}

WriteTransaction::~WriteTransaction() {
    if (!m_done) rollback();
}

bool WriteTransaction::commit() {
    m_done = true;
    if (!m_begun) return false;
    if (m_connection.execute("COMMIT") == SQLITE_OK) return true;
    m_connection.execute("ROLLBACK");
    return false;
}

void WriteTransaction::rollback() {
    m_done = true;
    if (m_begun) m_connection.execute("ROLLBACK");
}

}  // namespace velquist
