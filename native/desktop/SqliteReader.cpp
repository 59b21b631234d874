#include "desktop/SqliteReader.h"

#include <sqlite3.h>

namespace tarvine::sqlite {

std::unique_ptr<Database> Database::openReadOnly(const std::string& path) {
    sqlite3* db = nullptr;
    int status = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (status != SQLITE_OK) {
        sqlite3_close(db); // a failed open may still leave a handle
        return nullptr;
    }
    return std::unique_ptr<Database>(new Database(db));
}

Database::~Database() {
    sqlite3_close(db_);
}

std::unique_ptr<Statement> Statement::prepare(Database& database, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database.handle(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return std::unique_ptr<Statement>(new Statement(statement));
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement::Step Statement::step() {
    switch (sqlite3_step(statement_)) {
    case SQLITE_ROW:
        return Step::row;
    case SQLITE_DONE:
        return Step::done;
    default:
        return Step::failed;
    }
}

std::optional<std::string> Statement::text(int column) const {
    const unsigned char* value = sqlite3_column_text(statement_, column);
    if (!value) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(value),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

} // namespace tarvine::sqlite
