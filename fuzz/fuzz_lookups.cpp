// The parsers of the New Work Order dialog (asset list items, combo item codes) and the
// statements the lookups build from what an operator types.
#include "fuzzsupport.h"

#include "lookups.h"

#include <QStringList>

using namespace Orvantel;

namespace {

sqlite3 *schema()
{
    static sqlite3 *db
            = sqliteWith("CREATE TABLE GS_Assets (AssetCode, Descr);"
                         "CREATE VIEW sp_QX_CreateWorkOrder AS SELECT 1 AS a, 2 AS b, 3 AS c, 4 AS d WHERE 0;"
                         "CREATE TRIGGER run INSTEAD OF INSERT ON sp_QX_CreateWorkOrder BEGIN SELECT 1; END;");
    return db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);

    const QStringList items = assetListItems(text);
    FUZZ_ASSERT(items.size() <= text.count(u',') + 1);
    for (const QString &item : items) {
        FUZZ_ASSERT(!item.contains(u','));
        FUZZ_ASSERT(item == trimSpaces(item));
    }

    const QString code = ComboItemCode(text);
    FUZZ_ASSERT(code == trimSpaces(code));
    FUZZ_ASSERT(!code.contains(QStringLiteral(" - ")) || !text.contains(QStringLiteral(" - ")));
    FUZZ_ASSERT(ComboItemCode(code + QStringLiteral(" - description")) == code || code.contains(QStringLiteral(" -")));

    // Whatever is typed stays a value: the statements' texts are fixed.
    const QStringList parts = text.split(u'\n');
    const SqlDialect sqlite(Backend::Sqlite);
    const Statement lookup = assetLookupStatement(sqlite, parts.value(0));
    requireOneStatement(schema(), lookup);
    FUZZ_ASSERT(lookup.sql == QStringLiteral("SELECT * FROM GS_Assets WHERE AssetCode = ?"));
    FUZZ_ASSERT(lookup.values == QVariantList {parts.value(0)});
    const auto priority = qint16(int(size % 7) - 3);
    const Statement create = createWorkOrderStatement(sqlite, parts.value(0), priority, parts.value(1), parts.value(2));
    requireOneStatement(schema(), create);
    FUZZ_ASSERT(create.sql == QStringLiteral("INSERT INTO sp_QX_CreateWorkOrder VALUES (?, ?, ?, ?)"));
    FUZZ_ASSERT(create.values == (QVariantList {parts.value(0), parts.value(1), int(priority), parts.value(2)}));
    return 0;
}
