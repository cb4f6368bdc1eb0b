// The statements built from outside text: every one must be a single statement that
// SQLite accepts, whatever the asset list, division and department hold, with one
// parameter per value, and no value may reach its text.
#include "fuzzsupport.h"

#include "workorderqueries.h"

#include <QStringList>

using namespace Orvantel;

namespace {

sqlite3 *schema()
{
    static sqlite3 *db = sqliteWith(
            "CREATE TABLE vw_QX_WorkOrdersGrid (WO_Nbr, AssetCode, Status, IsPM, DivisionID, DepartmentID);"
            "CREATE TABLE vw_LinkedFiles (AssetCode, FileName);");
    return db;
}

/// A list of as many codes as the asset list names, each "x": a statement's text may
/// depend on how many values there are, never on what they hold.
QString sameShape(const QStringList &codes)
{
    return QStringList(codes.size(), QStringLiteral("x")).join(u',');
}

QString sameShape(const QString &value)
{
    return value.isEmpty() ? QString() : QStringLiteral("x");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList parts = fuzzText(data, size).split(u'\n');
    const QString assets = parts.value(0);
    const QString division = parts.value(1);
    const QString department = parts.value(2);
    const QStringList codes = WorkOrderQueries::assetCodes(assets);
    for (const Backend backend : {Backend::Sqlite, Backend::PostgreSql, Backend::SqlServer}) {
        const SqlDialect dialect(backend);
        for (auto view : {OpenWorkOrdersView, HistoryView, LinkedFilesView}) {
            const Statement statement
                    = WorkOrderQueries::workOrdersStatement(dialect, assets, view, division, department);
            requireOneStatement(schema(), statement);
            FUZZ_ASSERT(statement.sql
                        == WorkOrderQueries::workOrdersStatement(dialect, sameShape(codes), view, sameShape(division),
                                                                 sameShape(department))
                                   .sql);
            QVariantList values(codes.cbegin(), codes.cend());
            if (!division.isEmpty())
                values << division;
            if (!department.isEmpty())
                values << department;
            FUZZ_ASSERT(statement.values == values);
        }
        const Statement linked = WorkOrderQueries::linkedFilesStatement(dialect, assets);
        requireOneStatement(schema(), linked);
        FUZZ_ASSERT(linked.sql == WorkOrderQueries::linkedFilesStatement(dialect, sameShape(codes)).sql);
        FUZZ_ASSERT(linked.values == QVariantList(codes.cbegin(), codes.cend()));
    }
    return 0;
}
