// The statements built from outside text: every one must be a single statement that
// SQLite accepts, whatever the asset list, division and department hold, and every
// value must reach it as one literal.
#include "fuzzsupport.h"

#include "data/sqldialect.h"
#include "data/workorderqueries.h"

#include <QStringList>

#include <sqlite3.h>

using namespace Orvantel;

namespace {

sqlite3 *schema()
{
    static sqlite3 *db = [] {
        sqlite3 *handle = nullptr;
        sqlite3_open(":memory:", &handle);
        sqlite3_exec(handle,
                     "CREATE TABLE vw_QX_WorkOrdersGrid (WO_Nbr, AssetCode, Status, IsPM, DivisionID, DepartmentID);"
                     "CREATE TABLE vw_LinkedFiles (AssetCode, FileName);",
                     nullptr, nullptr, nullptr);
        return handle;
    }();
    return db;
}

/// Prepares sql; it must compile as exactly one statement without parameters.
void requireOneStatement(const QString &sql)
{
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt *statement = nullptr;
    const char *tail = nullptr;
    const int rc = sqlite3_prepare_v2(schema(), utf8.constData(), int(utf8.size()), &statement, &tail);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "rejected: %s\n%s\n", sqlite3_errmsg(schema()), utf8.constData());
        std::abort();
    }
    FUZZ_ASSERT(statement != nullptr);
    FUZZ_ASSERT(tail == utf8.constData() + utf8.size());
    FUZZ_ASSERT(sqlite3_bind_parameter_count(statement) == 0);
    sqlite3_finalize(statement);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);
    // SQLite reads a NUL as the end of the text; the control's values never hold one.
    if (text.contains(QChar(0)))
        return 0;
    const QStringList parts = text.split(u'\n');
    const QString assets = parts.value(0);
    const QString division = parts.value(1);
    const QString department = parts.value(2);
    for (auto view : {WorkOrderQueries::OpenWorkOrders, WorkOrderQueries::History, WorkOrderQueries::NoView})
        requireOneStatement(WorkOrderQueries::workOrdersStatement(assets, view, division, department));
    requireOneStatement(WorkOrderQueries::linkedFilesStatement(assets));
    requireOneStatement(QStringLiteral("SELECT ") + SqlDialect::quoted(text));
    requireOneStatement(SqlDialect(Backend::Sqlite).nullFallback(QStringLiteral("AssetCode"), SqlDialect::quoted(text))
                            .prepend(QStringLiteral("SELECT ")) + QStringLiteral(" FROM vw_LinkedFiles"));
    return 0;
}
