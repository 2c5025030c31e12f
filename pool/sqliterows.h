#pragma once

#include <cstddef>

struct sqlite3;
struct sqlite3_context;

// Rows the program holds in memory, read by a statement as a table: `SELECT ... FROM name(?1)`, with the rows bound
// to ?1 by bind(). A harvest's page of proxies goes into the pool in one statement this way, where it went a row at
// a time into a table of the connection's own first, each row a statement of its own.
class SqliteRows
{
public:
    virtual ~SqliteRows() = default;
    virtual size_t count() const = 0;
    // The value of `column` (from 0, in the order install() names them) of `row`, through sqlite3_result_*(); the
    // value's bytes must last as long as the rows.
    virtual void column(sqlite3_context* context, size_t row, int column) const = 0;

    // Makes `name` a table of the connection with `columns` ("address, port, ..."), read from the rows bound to its
    // one argument. False when SQLite refuses it.
    static bool install(sqlite3* db, const char* name, const char* columns);
    // Binds the rows to a parameter of a statement reading a table install() made; they must last until it is reset.
    static int bind(struct sqlite3_stmt* statement, int index, const SqliteRows* rows);
};
