#include "smallplant.h"

#include "data/lookups.h"

#include <QRegularExpression>

using namespace Orvantel;

/// Combo lists, asset validation and work-order creation against real databases.
class LookupsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void pureTexts_data();
    void pureTexts();
    void comboListsInCodeOrder_data() { addBackendRows(); }
    void comboListsInCodeOrder();
    void assetLookedUpLiterally_data() { addBackendRows(); }
    void assetLookedUpLiterally();
    void creationStoresTextAsTyped_data() { addBackendRows(); }
    void creationStoresTextAsTyped();
    void creationFailureIsReturned_data() { addBackendRows(); }
    void creationFailureIsReturned();
};

void LookupsTest::initTestCase()
{
    // Every lookup closes and removes its own connection.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("still in use")));
}

void LookupsTest::pureTexts_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("expected");
    const SqlDialect server(Backend::SqlServer);
    QTest::newRow("assets") << comboListStatement(server, u"GS_Assets"_qs, u"AssetCode"_qs, u"Descr"_qs)
                            << u"SELECT AssetCode, ISNULL(Descr,AssetCode) AS Descr FROM GS_Assets "
                               "WHERE AssetCode IS NOT NULL ORDER BY AssetCode"_qs;
    QTest::newRow("divisions") << comboListStatement(SqlDialect(Backend::Sqlite), u"GS_Divisions"_qs, u"DivisionID"_qs,
                                                     QString())
                               << u"SELECT DivisionID FROM GS_Divisions WHERE DivisionID IS NOT NULL "
                                  "ORDER BY DivisionID"_qs;
    QTest::newRow("quote doubled") << assetLookupStatement(u"O'Q"_qs)
                                   << u"SELECT * FROM GS_Assets WHERE AssetCode = 'O''Q'"_qs;
    QTest::newRow("exec") << createWorkOrderStatement(server, u"A1"_qs, 2, u"Fix the pump's seal"_qs, u"JDOE"_qs)
                          << u"EXEC sp_QX_CreateWorkOrder 'A1', 'Fix the pump''s seal',  2, 'JDOE'"_qs;
    QTest::newRow("negative priority") << createWorkOrderStatement(SqlDialect(Backend::PostgreSql), u"A1"_qs, -1,
                                                                   u"x"_qs, u"O'B"_qs)
                                       << u"CALL sp_QX_CreateWorkOrder('A1', 'x', -1, 'O''B')"_qs;
    QTest::newRow("code of an item") << ComboItemCode(u" P-100 - Feed pump"_qs) << u"P-100"_qs;
    QTest::newRow("code, two separators") << ComboItemCode(u"A - B - C"_qs) << u"A"_qs;
    QTest::newRow("code, hyphen without blanks") << ComboItemCode(u"A -B "_qs) << u"A -B"_qs;
    QTest::newRow("code, only spaces trimmed") << ComboItemCode(u"\tX "_qs) << u"\tX"_qs;
}

void LookupsTest::pureTexts()
{
    QFETCH(QString, statement);
    QFETCH(QString, expected);
    QCOMPARE(statement, expected);
}

void LookupsTest::comboListsInCodeOrder()
{
    QFETCH(QString, backend);
    CREATE_PLANT(plant, backend);
    const QString connect = plant->connectString();
    auto items = [&](const char *table, const char *key, bool emptyFirst, const char *descr) {
        const ComboList list = LoadComboBox(connect, QString::fromLatin1(table), QString::fromLatin1(key), emptyFirst,
                                            QString::fromLatin1(descr));
        if (list.error)
            qWarning("%s", qPrintable(list.error->messageText()));
        return list.items;
    };
    QCOMPARE(
            items("GS_Assets", "AssetCode", false, "Descr"),
            QStringList({u"A1 - Pump"_qs, u"B2 - Fan"_qs, u"C3 - C3"_qs, u"O'Q - Quoted"_qs, u"P-100 - Feed pump"_qs}));
    QCOMPARE(items("vw_WORequestedUsers", "UserID", true, "Name"),
             QStringList({QString(), u"U1 - Ann"_qs, u"U2 - Bob"_qs, u"U3 - U3"_qs}));
    QCOMPARE(items("WO_WorkOrders", "WO_Nbr", false, ""), QStringList({u"101"_qs, u"102"_qs}));
    QCOMPARE(items("GS_LinkedFiles", "FileName", true, ""), QStringList {QString()});
    QCOMPARE(items("GS_LinkedFiles", "FileName", false, "DocType"), QStringList());
}

void LookupsTest::assetLookedUpLiterally()
{
    QFETCH(QString, backend);
    CREATE_PLANT(plant, backend);
    const QString connect = plant->connectString();
    const std::pair<QString, bool> cases[] = {
            {u"A1"_qs, true},
            {u"O'Q"_qs, true},
            {u"ZZ"_qs, false},
            {QString(), false},
            {u"A1 "_qs, false},
            {u"x' OR '1'='1"_qs, false},
            {u"A1'; DELETE FROM WO_WorkOrders; --"_qs, false},
    };
    for (const auto &[code, exists] : cases) {
        const AssetCheck check = ValidateAsset(connect, code);
        QVERIFY2(!check.error, qPrintable(code));
        QCOMPARE(check.exists, exists);
    }
    QCOMPARE(plant->workOrderCount(), 2);
}

void LookupsTest::creationStoresTextAsTyped()
{
    QFETCH(QString, backend);
    CREATE_PLANT(plant, backend);
    const QString request = u"Fix the pump's seal'); DELETE FROM WO_WorkOrders; --\nsecond line"_qs;
    const std::optional<ControlError> error
            = CreateWorkOrder(plant->connectString(), u"O'Q"_qs, 2, request, u"O'Brien"_qs);
    QVERIFY2(!error, error ? qPrintable(error->messageText()) : "");
    QCOMPARE(plant->workOrderCount(), 3);
    QCOMPARE(plant->scalar(u"SELECT AssetCode FROM WO_WorkOrders WHERE WO_Nbr = 103"_qs).toString(), u"O'Q"_qs);
    QCOMPARE(plant->scalar(u"SELECT WorkRequest FROM WO_WorkOrders WHERE WO_Nbr = 103"_qs).toString(), request);
    QCOMPARE(plant->scalar(u"SELECT RequestedBy FROM WO_WorkOrders WHERE WO_Nbr = 103"_qs).toString(), u"O'Brien"_qs);
    QCOMPARE(plant->scalar(u"SELECT Priority FROM WO_WorkOrders WHERE WO_Nbr = 103"_qs).toInt(), 2);
}

void LookupsTest::creationFailureIsReturned()
{
    QFETCH(QString, backend);
    CREATE_PLANT(plant, backend);
    // Refused by the procedure (unknown asset), by the table (priority 1..5), or never run.
    QVERIFY(CreateWorkOrder(plant->connectString(), u"ZZ"_qs, 2, u"x"_qs, u"U1"_qs));
    QVERIFY(CreateWorkOrder(plant->connectString(), u"A1"_qs, 9, u"x"_qs, u"U1"_qs));
    const std::optional<ControlError> notConnected = CreateWorkOrder(QString(), u"A1"_qs, 2, u"x"_qs, u"U1"_qs);
    QVERIFY(notConnected);
    QVERIFY(!notConnected->description.isEmpty());
    QCOMPARE(plant->workOrderCount(), 2);
}

QTEST_GUILESS_MAIN(LookupsTest)
#include "tst_lookups.moc"
