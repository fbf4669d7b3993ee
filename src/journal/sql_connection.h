#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

// A small RAII layer over SQLite: every failure throws sql::Error with the error it comes to
// for the user.
namespace krt::sql {

struct Error {
    std::error_code error;
};

inline std::error_code errorOf(sqlite3* db, int code) {
    switch (code & 0xFF) {
        case SQLITE_FULL:
            return std::make_error_code(std::errc::no_space_on_device);
        case SQLITE_READONLY:
            return std::make_error_code(std::errc::read_only_file_system);
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return std::make_error_code(std::errc::permission_denied);
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return std::make_error_code(std::errc::device_or_resource_busy);
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return std::make_error_code(std::errc::illegal_byte_sequence);
        default:
            break;
    }
    const int system = db != nullptr ? sqlite3_system_errno(db) : 0;
    return system != 0 ? std::error_code(system, std::generic_category())
                       : std::make_error_code(std::errc::io_error);
}

inline void check(sqlite3* db, int code) {
    if (code != SQLITE_OK) {
        throw Error{errorOf(db, code)};
    }
}

class Connection {
  public:
    // Opens (or creates) the database file, never through a link; a lock held by another connection
    // is waited for up to `busy_ms`.
    Connection(const std::filesystem::path& file, int busy_ms) {
        const int code = sqlite3_open_v2(
            file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
            nullptr);
        if (code != SQLITE_OK) {
            const Error error{errorOf(m_db, code)};
            sqlite3_close_v2(m_db);
            throw error;
        }
        sqlite3_busy_timeout(m_db, busy_ms);
    }
    ~Connection() { sqlite3_close_v2(m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void execute(const char* sql) {
        check(m_db, sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
    }
    std::int64_t lastInsertId() const { return sqlite3_last_insert_rowid(m_db); }
    // Rows changed by the last statement.
    int changes() const { return sqlite3_changes(m_db); }
    sqlite3* handle() const { return m_db; }

  private:
    sqlite3* m_db = nullptr;
};

class Statement {
  public:
    // Binds `values` to the parameters from the first on.
    template <typename... Values>
    Statement(const Connection& db, std::string_view sql, const Values&... values)
        : m_db(db.handle()) {
        check(m_db, sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &m_statement,
                                       nullptr));
        [[maybe_unused]] int index = 0;
        (bind(++index, values), ...);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value) {
        check(m_db, sqlite3_bind_int64(m_statement, index, value));
        return *this;
    }
    Statement& bind(int index, std::string_view text) {
        check(m_db, sqlite3_bind_text(m_statement, index, text.data(),
                                      static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int index, std::nullptr_t) {
        check(m_db, sqlite3_bind_null(m_statement, index));
        return *this;
    }
    // Nothing binds NULL.
    Statement& bind(int index, std::optional<std::int64_t> value) {
        return value ? bind(index, *value) : bind(index, nullptr);
    }
    // A named parameter (":since"), wherever and however often it appears; none when the
    // statement has no such parameter.
    template <typename Value>
    Statement& bind(const char* name, const Value& value) {
        const int index = sqlite3_bind_parameter_index(m_statement, name);
        return index == 0 ? *this : bind(index, value);
    }
    // True while there is a row to read.
    bool step() {
        const int code = sqlite3_step(m_statement);
        if (code != SQLITE_ROW && code != SQLITE_DONE) {
            throw Error{errorOf(m_db, code)};
        }
        return code == SQLITE_ROW;
    }
    void run() {
        while (step()) {
        }
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    bool isNull(int column) const {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }
    std::optional<std::int64_t> optionalInteger(int column) const {
        return isNull(column) ? std::nullopt : std::optional(integer(column));
    }
    std::string text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return text == nullptr
                   ? std::string()
                   : std::string(
                         text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)));
    }

  private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

// Runs a statement that returns no rows.
template <typename... Values>
void run(const Connection& db, std::string_view sql, const Values&... values) {
    Statement(db, sql, values...).run();
}

// A write transaction taken at once (not upgraded later, which another writer could refuse);
// rolled back unless committed.
class WriteTransaction {
  public:
    explicit WriteTransaction(Connection& db) : m_db(db) { db.execute("BEGIN IMMEDIATE"); }
    ~WriteTransaction() {
        if (!m_done) {
            sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    void commit() {
        m_db.execute("COMMIT");
        m_done = true;
    }

  private:
    Connection& m_db;
    bool m_done = false;
};

}  // namespace krt::sql
