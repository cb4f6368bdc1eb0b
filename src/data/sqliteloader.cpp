#include "loaders.h"

#include "controlerror.h"

#include <sqlite3.h>

namespace Orvantel {

namespace {

struct StatementFinalizer
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};

ControlError sqliteError(sqlite3 *handle, int code)
{
    return {code, QString::fromUtf8(sqlite3_errmsg(handle))};
}

/// Binds the statement's values to its parameters: texts as UTF-8 text, integers as
/// 64-bit integers.
void bindSqlite(sqlite3 *handle, sqlite3_stmt *statement, const QVariantList &values)
{
    if (sqlite3_bind_parameter_count(statement) != values.size()) {
        throw ControlError(ControlError::DatabaseFailure,
                           QStringLiteral("The statement has %1 placeholders for %2 values")
                                   .arg(sqlite3_bind_parameter_count(statement))
                                   .arg(values.size()));
    }
    for (int i = 0; i < int(values.size()); ++i) {
        const QVariant &value = values.at(i);
        int bound;
        if (bindsAsInteger(value)) {
            bound = sqlite3_bind_int64(statement, i + 1, value.toLongLong());
        } else if (value.isNull()) {
            bound = sqlite3_bind_null(statement, i + 1);
        } else {
            const QByteArray text = value.toString().toUtf8();
            bound = sqlite3_bind_text(statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        }
        if (bound != SQLITE_OK)
            throw sqliteError(handle, bound);
    }
}

} // namespace

ColumnStore loadSqlite(sqlite3 *handle, const Statement &statement, int rowLimit)
{
    if (!handle)
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The SQLite connection is not open"));

    const QByteArray utf8 = statement.sql.toUtf8();
    sqlite3_stmt *raw = nullptr;
    const int prepared = sqlite3_prepare_v2(handle, utf8.constData(), int(utf8.size()), &raw, nullptr);
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> owner(raw);
    if (prepared != SQLITE_OK)
        throw sqliteError(handle, prepared);
    if (!owner)
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The SQL text holds no statement"));
    bindSqlite(handle, raw, statement.values);

    // The fields are read after the first step: should another connection have changed
    // the schema since the statement was prepared, that step prepares it again, and the rows
    // come with the new fields.
    int stepped = rowLimit > 0 ? sqlite3_step(raw) : SQLITE_DONE;
    const int fields = sqlite3_column_count(raw);
    QStringList names;
    for (int i = 0; i < fields; ++i)
        names.append(QString::fromUtf8(sqlite3_column_name(raw, i)));
    ColumnStore store(names);
    RecordColumn *columns = store.columns();

    for (; stepped == SQLITE_ROW; stepped = store.recordCount() < rowLimit ? sqlite3_step(raw) : SQLITE_DONE) {
        for (int i = 0; i < fields; ++i) {
            RecordColumn &column = columns[i];
            switch (sqlite3_column_type(raw, i)) {
            case SQLITE_INTEGER:
                column.appendInteger(sqlite3_column_int64(raw, i));
                break;
            case SQLITE_FLOAT:
                column.appendReal(sqlite3_column_double(raw, i));
                break;
            case SQLITE_NULL:
                column.appendNull();
                break;
            case SQLITE_BLOB: {
                const void *data = sqlite3_column_blob(raw, i);
                column.appendText(static_cast<const char *>(data), std::size_t(sqlite3_column_bytes(raw, i)));
                break;
            }
            default: {
                const unsigned char *data = sqlite3_column_text(raw, i);
                column.appendText(reinterpret_cast<const char *>(data), std::size_t(sqlite3_column_bytes(raw, i)));
                break;
            }
            }
        }
        store.endRecord();
    }
    if (stepped != SQLITE_DONE && stepped != SQLITE_ROW)
        throw sqliteError(handle, stepped);
    store.finish();
    return store;
}

} // namespace Orvantel
