#pragma once

#include <QByteArray>
#include <QString>

#include "sqldialect.h"

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

/// Input bytes as text, the way the control receives text (UTF-8).
inline QString fuzzText(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

/// Stops the run with a finding when a property that must hold does not.
#define FUZZ_ASSERT(condition) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort(); \
        } \
    } while (false)

/// An in-memory SQLite database made by the given statements, kept for the whole run.
inline sqlite3 *sqliteWith(const char *schema)
{
    sqlite3 *handle = nullptr;
    sqlite3_open(":memory:", &handle);
    sqlite3_exec(handle, schema, nullptr, nullptr, nullptr);
    return handle;
}

/// The statement must compile on db as exactly one statement with one parameter per
/// bound value: nothing a value holds may end it, add another or stand in its text.
inline void requireOneStatement(sqlite3 *db, const Orvantel::Statement &statement)
{
    const QByteArray utf8 = statement.sql.toUtf8();
    sqlite3_stmt *compiled = nullptr;
    const char *tail = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &compiled, &tail) != SQLITE_OK) {
        std::fprintf(stderr, "rejected: %s\n%s\n", sqlite3_errmsg(db), utf8.constData());
        std::abort();
    }
    FUZZ_ASSERT(compiled != nullptr);
    FUZZ_ASSERT(tail == utf8.constData() + utf8.size());
    FUZZ_ASSERT(sqlite3_bind_parameter_count(compiled) == statement.values.size());
    sqlite3_finalize(compiled);
}
