#pragma once

#include <memory>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// Reading an SQLite database: the handles closed and finalised by ownership.
namespace tarvine::sqlite {

class Database {
public:
    // Null when the file cannot be opened (a missing file is not created).
    static std::unique_ptr<Database> openReadOnly(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* handle() const { return db_; }

private:
    explicit Database(sqlite3* db) : db_(db) {}
    sqlite3* db_;
};

class Statement {
public:
    enum class Step { row, done, failed };

    // Null when the statement does not compile against this database (a missing table).
    static std::unique_ptr<Statement> prepare(Database& database, const std::string& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Step step();
    // The column of the current row as text; nothing for NULL.
    std::optional<std::string> text(int column) const;

private:
    explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}
    sqlite3_stmt* statement_;
};

} // namespace tarvine::sqlite
