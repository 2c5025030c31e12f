#include "pool/sqliterows.h"

#include <sqlite3.h>

#include <string>

namespace {

// The type the rows are bound with: SQLite hands a pointer only to a reader that names the same type.
const char* const pointerType = "sievra-rows";

struct Table
{
    sqlite3_vtab base{};
    int argument = 0; // the hidden column the rows are given in: after the named ones
};

struct Cursor
{
    sqlite3_vtab_cursor base{};
    const SqliteRows* rows = nullptr;
    size_t row = 0;
};

int connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** made, char**)
{
    const auto* columns = static_cast<const std::string*>(aux);
    const int code = sqlite3_declare_vtab(db, ("CREATE TABLE x(" + *columns + ", rows HIDDEN)").c_str());
    if (code != SQLITE_OK)
        return code;
    auto* table = new Table;
    int count = 1;
    for (const char c : *columns)
        count += c == ',' ? 1 : 0;
    table->argument = count;
    *made = &table->base;
    return SQLITE_OK;
}

int disconnect(sqlite3_vtab* table)
{
    delete reinterpret_cast<Table*>(table);
    return SQLITE_OK;
}

// Only a plan that is given the rows can read them.
int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info)
{
    const auto* table = reinterpret_cast<const Table*>(vtab);
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& constraint = info->aConstraint[i];
        if (constraint.iColumn == table->argument && constraint.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            if (!constraint.usable)
                return SQLITE_CONSTRAINT;
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->estimatedCost = 1000;
            return SQLITE_OK;
        }
    }
    return SQLITE_CONSTRAINT;
}

int open(sqlite3_vtab*, sqlite3_vtab_cursor** made)
{
    *made = &(new Cursor)->base;
    return SQLITE_OK;
}

int close(sqlite3_vtab_cursor* cursor)
{
    delete reinterpret_cast<Cursor*>(cursor);
    return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* base, int, const char*, int argc, sqlite3_value** argv)
{
    auto* cursor = reinterpret_cast<Cursor*>(base);
    cursor->rows = argc == 1 ? static_cast<const SqliteRows*>(sqlite3_value_pointer(argv[0], pointerType)) : nullptr;
    cursor->row = 0;
    return SQLITE_OK;
}

int next(sqlite3_vtab_cursor* base)
{
    ++reinterpret_cast<Cursor*>(base)->row;
    return SQLITE_OK;
}

int eof(sqlite3_vtab_cursor* base)
{
    const auto* cursor = reinterpret_cast<const Cursor*>(base);
    return !cursor->rows || cursor->row >= cursor->rows->count();
}

int column(sqlite3_vtab_cursor* base, sqlite3_context* context, int index)
{
    const auto* cursor = reinterpret_cast<const Cursor*>(base);
    cursor->rows->column(context, cursor->row, index);
    return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* base, sqlite3_int64* id)
{
    *id = sqlite3_int64(reinterpret_cast<const Cursor*>(base)->row);
    return SQLITE_OK;
}

const sqlite3_module module = {
    0,       // iVersion
    nullptr, // xCreate: none, so that the table is the module's name alone and never stored
    connect,
    bestIndex,
    disconnect,
    disconnect,
    open,
    close,
    filter,
    next,
    eof,
    column,
    rowid,
    // No writing, no transactions of its own, no functions, no renaming, no savepoints, no shadow tables.
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

bool SqliteRows::install(sqlite3* db, const char* name, const char* columns)
{
    return sqlite3_create_module_v2(db, name, &module, new std::string(columns),
                                    [](void* aux) { delete static_cast<std::string*>(aux); }) == SQLITE_OK;
}

int SqliteRows::bind(sqlite3_stmt* statement, int index, const SqliteRows* rows)
{
    return sqlite3_bind_pointer(statement, index, const_cast<SqliteRows*>(rows), pointerType, nullptr);
}
