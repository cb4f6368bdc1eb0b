#include "data/controlerror.h"
#include "data/recordset.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "testsupport.h"

#include <memory>

using namespace Orvantel;

/// Loads through the SQLite fast path or through the generic QSqlQuery path.
enum class Loader { Sqlite, Generic };
Q_DECLARE_METATYPE(Loader)

class tst_Recordset : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void loadKeepsTypesAndText_data() { loaders(); }
    void loadKeepsTypesAndText();
    void sortOrdersStably_data();
    void sortOrdersStably();
    void sortAgreesWithPairwiseOrder_data();
    void sortAgreesWithPairwiseOrder();
    void sortKeepsBookmarksAndPersistentIndexes();
    void invalidSortThrowsAndKeepsOrder_data();
    void invalidSortThrowsAndKeepsOrder();
    void loadReplacesRowsInOneResetOrNotAtAll_data() { loaders(); }
    void loadReplacesRowsInOneResetOrNotAtAll();
    void emptyResultKeepsFieldNames_data() { loaders(); }
    void emptyResultKeepsFieldNames();
    void repeatedAndLongTextsReadBack();

    void postgresLoadsTypes_data();
    void postgresLoadsTypes();
    void postgresEmptyResultKeepsFieldNames();
    void postgresKeepsTheLastStatementsRows();
    void postgresLoadsWhileADriverQueryIsHalfRead();
    void postgresRefusesCopyAndStaysUsable_data();
    void postgresRefusesCopyAndStaysUsable();
    void postgresFailureKeepsRowsAndGivesSqlState_data();
    void postgresFailureKeepsRowsAndGivesSqlState();
    void postgresMatchesGenericPathOnWorkOrders();

private:
    void loaders();
    void load(Loader loader, const QString &sql);
    QList<qint64> ids() const;
    /// The PostgreSQL test database (demo schema, a few hundred work orders), made on first use.
    QSqlDatabase postgres();
    void loadPostgres(const QString &sql);

    QTemporaryDir m_dir;
    QSqlDatabase m_db;
    QString m_pgName;
    std::unique_ptr<Recordset> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

static const QString Items = u"SELECT id, code, qty, name, grp, mixed FROM items ORDER BY id"_qs;

void tst_Recordset::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"tst_recordset"_qs);
    m_db.setDatabaseName(m_dir.filePath(u"items.db"_qs));
    QVERIFY2(m_db.open(), qPrintable(m_db.lastError().text()));
    QSqlQuery q(m_db);
    QVERIFY_SQL(q, exec(u"CREATE TABLE items (id INTEGER, code TEXT, qty, name TEXT, grp TEXT, mixed)"_qs));
    QVERIFY_SQL(q,
                exec(u"INSERT INTO items VALUES (1, 'b', 10, 'Pump', 'x', '10'), (2, 'A', 2.5, NULL, 'y', 9), "
                     "(3, 'a', NULL, 'valve', 'x', 'abc'), (4, 'C', 10, 'pump', 'y', NULL), "
                     "(5, 'b', -1, 'Älter Größe 日本', 'x', 9.5), (6, '_z', 3, '', 'y', '9')"_qs));
}

void tst_Recordset::init()
{
    m_model = std::make_unique<Recordset>();
    m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    load(Loader::Sqlite, Items);
}

void tst_Recordset::cleanup()
{
    m_tester.reset();
    m_model.reset();
}

void tst_Recordset::cleanupTestCase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(u"tst_recordset"_qs);
    if (!m_pgName.isEmpty()) {
        QSqlDatabase::database(u"tst_recordset_pg"_qs, false).close();
        QSqlDatabase::removeDatabase(u"tst_recordset_pg"_qs);
        TestSupport::PgServer::dropDatabase(m_pgName);
    }
}

void tst_Recordset::loaders()
{
    QTest::addColumn<Loader>("loader");
    QTest::addRow("sqlite handle") << Loader::Sqlite;
    QTest::addRow("QSqlQuery") << Loader::Generic;
}

void tst_Recordset::load(Loader loader, const QString &sql)
{
    if (loader == Loader::Sqlite) {
        m_model->loadSqlite(*static_cast<sqlite3 *const *>(m_db.driver()->handle().constData()), sql);
        return;
    }
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.exec(sql);
    m_model->load(query);
}

QSqlDatabase tst_Recordset::postgres()
{
    if (m_pgName.isEmpty()) {
        DemoData::Options options;
        options.workOrders = 400;
        options.linkedFiles = 10;
        m_pgName = TestSupport::PgServer::createDatabase(u"tst_recordset"_qs, &options);
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_qs, u"tst_recordset_pg"_qs);
        db.setHostName(TestSupport::PgServer::host());
        db.setPort(TestSupport::PgServer::port());
        db.setUserName(TestSupport::PgServer::user());
        db.setPassword(TestSupport::PgServer::password());
        db.setDatabaseName(m_pgName);
        if (!db.open())
            qFatal("cannot open %s: %s", qPrintable(m_pgName), qPrintable(db.lastError().text()));
    }
    return QSqlDatabase::database(u"tst_recordset_pg"_qs, false);
}

void tst_Recordset::loadPostgres(const QString &sql)
{
    // A handle of another type passes null, which loadPostgres() refuses.
    const QVariant handle = postgres().driver()->handle();
    const bool pgconn = qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0;
    m_model->loadPostgres(pgconn ? *static_cast<PGconn *const *>(handle.constData()) : nullptr, sql);
}

QList<qint64> tst_Recordset::ids() const
{
    QList<qint64> result;
    for (int row = 0; row < m_model->rowCount(); ++row)
        result << m_model->value(row, 0).toLongLong();
    return result;
}

void tst_Recordset::loadKeepsTypesAndText()
{
    QFETCH(Loader, loader);
    load(loader, Items + u" LIMIT 5"_qs);
    QCOMPARE(m_model->rowCount(), 5);
    QCOMPARE(m_model->fieldIndex(u"NAME"_qs), 3);
    QCOMPARE(m_model->headerData(2, Qt::Horizontal).toString(), u"qty"_qs);

    const int qty = m_model->fieldIndex(u"qty"_qs);
    QCOMPARE(m_model->value(0, qty).typeId(), QMetaType::LongLong);
    QCOMPARE(m_model->value(1, qty).typeId(), QMetaType::Double);
    QCOMPARE(m_model->data(m_model->index(1, qty)), QVariant(u"2.5"_qs));

    const QModelIndex null = m_model->index(2, qty);
    QVERIFY(m_model->isNull(2, qty));
    QVERIFY(!m_model->data(null).isValid());
    QVERIFY(!m_model->data(null, Qt::EditRole).isValid());

    QCOMPARE(m_model->text(4, 3), u"Älter Größe 日本"_qs);
    QCOMPARE(m_model->data(m_model->index(4, 3), Recordset::BookmarkRole), QVariant(4));
}

void tst_Recordset::sortOrdersStably_data()
{
    QTest::addColumn<QString>("sort");
    QTest::addColumn<QList<qint64>>("order");

    // Texts fold ASCII case ("A" = "a"); '_' sorts before letters; UTF-8 after ASCII.
    QTest::addRow("text") << u"code"_qs << QList<qint64> {6, 2, 3, 1, 5, 4};
    QTest::addRow("text desc keeps ties in loaded order") << u"code DESC"_qs << QList<qint64> {4, 1, 5, 2, 3, 6};
    QTest::addRow("numbers, NULL first") << u"qty"_qs << QList<qint64> {3, 5, 2, 6, 1, 4};
    QTest::addRow("text with NULL and empty") << u"name"_qs << QList<qint64> {2, 6, 1, 4, 3, 5};
    QTest::addRow("NULL, numbers, then texts") << u"mixed"_qs << QList<qint64> {4, 2, 5, 1, 6, 3};
    QTest::addRow("two fields, blanks, ASC") << u" grp DESC ,code ASC "_qs << QList<qint64> {6, 2, 4, 3, 1, 5};
    QTest::addRow("bracketed name") << u"[code] DESC"_qs << QList<qint64> {4, 1, 5, 2, 3, 6};
    QTest::addRow("empty restores loaded order") << QString() << QList<qint64> {1, 2, 3, 4, 5, 6};
}

void tst_Recordset::sortOrdersStably()
{
    QFETCH(QString, sort);
    QFETCH(QList<qint64>, order);
    QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
    QSignalSpy layout(m_model.get(), &QAbstractItemModel::layoutChanged);

    m_model->setSort(u"name DESC"_qs);
    m_model->setSort(sort);
    QCOMPARE(ids(), order);
    QCOMPARE(m_model->sort(), sort);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(layout.count(), 2);
}

/// The documented order, one pair of cells at a time.
static int compareValues(const QVariant &a, const QVariant &b)
{
    auto rank = [](const QVariant &v) { return !v.isValid() ? 0 : (v.typeId() == QMetaType::QString ? 2 : 1); };
    auto threeWay = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (rank(a) != rank(b) || rank(a) == 0)
        return rank(a) - rank(b);
    if (a.typeId() == QMetaType::LongLong && b.typeId() == QMetaType::LongLong)
        return threeWay(a.toLongLong(), b.toLongLong());
    if (rank(a) == 1)
        return threeWay(a.toDouble(), b.toDouble());
    return threeWay(a.toString().toUtf8().toLower(), b.toString().toUtf8().toLower());
}

void tst_Recordset::sortAgreesWithPairwiseOrder_data()
{
    QTest::addColumn<QString>("sort");
    for (const char *sort :
         {"t", "t DESC", "n", "n DESC", "g, t DESC, n", "n, g DESC", "p", "p DESC", "p DESC, g, n DESC"})
        QTest::addRow("%s", sort) << QString::fromLatin1(sort);
}

void tst_Recordset::sortAgreesWithPairwiseOrder()
{
    QFETCH(QString, sort);
    // Long shared prefixes, ASCII case variants, NULLs, mixed types, integers beyond 2^53,
    // and a priority-like column of a few small integers of either sign.
    load(Loader::Sqlite,
         u"WITH RECURSIVE s(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM s WHERE x < 2999) "
         "SELECT abs(random()) % 3 AS g, CASE abs(random()) % 9 WHEN 0 THEN NULL ELSE random() % 4 END AS p, "
         "'Station pump housing ' || substr('aAbB_', 1 + abs(random()) % 5, 1 + abs(random()) % 3) "
         "  || (abs(random()) % 5) AS t, "
         "CASE abs(random()) % 5 WHEN 0 THEN NULL WHEN 1 THEN random() % 10 WHEN 2 THEN (random() % 100) / 7.0 "
         "  WHEN 3 THEN 9007199254740993 + random() % 3 ELSE 'x' || (random() % 3) END AS n FROM s"_qs);
    m_model->setSort(sort);

    QList<QPair<int, bool>> keys;
    for (const QString &part : sort.split(u',')) {
        const QStringList words = part.split(u' ', Qt::SkipEmptyParts);
        keys.append({m_model->fieldIndex(words.first()), words.size() > 1});
    }
    for (int row = 0; row + 1 < m_model->rowCount(); ++row) {
        int c = 0;
        for (const auto &key : keys) {
            c = compareValues(m_model->value(row, key.first), m_model->value(row + 1, key.first));
            if (key.second)
                c = -c;
            if (c != 0)
                break;
        }
        if (c > 0 || (c == 0 && m_model->bookmark(row) > m_model->bookmark(row + 1)))
            QFAIL(qPrintable(u"rows out of order at "_qs + QString::number(row)));
    }
}

void tst_Recordset::sortKeepsBookmarksAndPersistentIndexes()
{
    const QPersistentModelIndex pump(m_model->index(0, 3)); // id 1
    m_model->setSort(u"qty DESC"_qs);
    QCOMPARE(pump.row(), 0);
    m_model->setSort(u"name"_qs);
    QCOMPARE(pump.row(), 2);
    QCOMPARE(pump.data().toString(), u"Pump"_qs);
    m_model->sort(0, Qt::DescendingOrder);
    QCOMPARE(pump.row(), 5);

    for (int bookmark = 0; bookmark < 6; ++bookmark) {
        const int row = m_model->rowOfBookmark(bookmark);
        QCOMPARE(m_model->bookmark(row), bookmark);
        QCOMPARE(m_model->value(row, 0).toInt(), bookmark + 1);
    }
    QCOMPARE(m_model->rowOfBookmark(6), -1);
    QCOMPARE(m_model->rowOfBookmark(-1), -1);
}

void tst_Recordset::invalidSortThrowsAndKeepsOrder_data()
{
    QTest::addColumn<QString>("sort");
    QTest::addRow("unknown") << u"nosuch"_qs;
    QTest::addRow("second unknown") << u"code, nosuch DESC"_qs;
    QTest::addRow("empty item") << u"code,,id"_qs;
    QTest::addRow("direction only") << u"DESC"_qs;
}

void tst_Recordset::invalidSortThrowsAndKeepsOrder()
{
    QFETCH(QString, sort);
    m_model->setSort(u"qty"_qs);
    const QList<qint64> before = ids();
    try {
        m_model->setSort(sort);
        QFAIL("no error");
    } catch (const ControlError &e) {
        QCOMPARE(e.number, int(ControlError::InvalidSort));
    }
    QCOMPARE(ids(), before);
    QCOMPARE(m_model->sort(), u"qty"_qs);
}

void tst_Recordset::loadReplacesRowsInOneResetOrNotAtAll()
{
    QFETCH(Loader, loader);
    m_model->setSort(u"code"_qs);
    const QList<qint64> sorted = ids();
    QSignalSpy aboutToReset(m_model.get(), &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
    try {
        load(loader, u"SELECT * FROM nosuch"_qs);
        QFAIL("no error");
    } catch (const ControlError &e) {
        QVERIFY2(e.description.contains(u"no such table: nosuch"_qs), qPrintable(e.description));
        QCOMPARE(e.number, 1); // SQLITE_ERROR
    }
    QCOMPARE(aboutToReset.count(), 0);
    QCOMPARE(ids(), sorted);
    QCOMPARE(m_model->sort(), u"code"_qs);

    load(loader, Items);
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(m_model->sort(), QString());
    QCOMPARE(ids(), (QList<qint64> {1, 2, 3, 4, 5, 6}));
}

void tst_Recordset::emptyResultKeepsFieldNames()
{
    QFETCH(Loader, loader);
    load(loader, u"SELECT id, code AS AssetCode FROM items WHERE 0"_qs);
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->columnCount(), 2);
    QCOMPARE(m_model->fieldIndex(u"assetcode"_qs), 1);
    m_model->setSort(u"AssetCode DESC"_qs);

    load(loader, Items);
    m_model->clear();
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->fieldName(5), u"mixed"_qs);
}

void tst_Recordset::repeatedAndLongTextsReadBack()
{
    // Few distinct, a few thousand distinct, all distinct, and one text longer than 16 MiB.
    load(Loader::Sqlite,
         u"WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x < 19999) "
         "SELECT x, 'C' || (x % 37) AS c, 'M' || (x % 3000) AS m, 'U' || x AS u, "
         "CASE x WHEN 7 THEN hex(zeroblob(8400000)) END AS big FROM n"_qs);
    QCOMPARE(m_model->rowCount(), 20000);
    for (int row = 0; row < 20000; ++row) {
        if (m_model->text(row, 1) != u"C"_qs + QString::number(row % 37)
            || m_model->text(row, 2) != u"M"_qs + QString::number(row % 3000)
            || m_model->text(row, 3) != u"U"_qs + QString::number(row)) {
            QFAIL(qPrintable(u"wrong text in row "_qs + QString::number(row)));
        }
    }
    QCOMPARE(m_model->text(7, 4).size(), 16800000);
    QVERIFY(m_model->isNull(8, 4));
}

void tst_Recordset::postgresLoadsTypes_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<int>("type"); // of value(); UnknownType for NULL
    QTest::addColumn<QString>("text");

    const int integer = QMetaType::LongLong;
    const int real = QMetaType::Double;
    const int text = QMetaType::QString;
    QTest::addRow("int2") << u"(-7)::int2"_qs << integer << u"-7"_qs;
    QTest::addRow("int4") << u"2147483647"_qs << integer << u"2147483647"_qs;
    QTest::addRow("int8") << u"(-9223372036854775807 - 1)::int8"_qs << integer << u"-9223372036854775808"_qs;
    QTest::addRow("oid beyond int4") << u"4000000000::oid"_qs << integer << u"4000000000"_qs;
    QTest::addRow("float4") << u"1.5::float4"_qs << real << u"1.5"_qs;
    QTest::addRow("float8") << u"(-2.5e-10)::float8"_qs << real << u"-2.5e-10"_qs;
    QTest::addRow("float8 infinity") << u"'-Infinity'::float8"_qs << real << u"-inf"_qs;
    QTest::addRow("numeric") << u"12.50::numeric(6,2)"_qs << real << u"12.5"_qs;
    QTest::addRow("numeric, 15 digits") << u"123456789.012345::numeric"_qs << real << u"123456789.012345"_qs;
    QTest::addRow("numeric, small") << u"0.000000000000000000012::numeric"_qs << real << u"1.2e-20"_qs;
    QTest::addRow("numeric, 16 digits") << u"1234567890.123456::numeric"_qs << text << u"1234567890.123456"_qs;
    QTest::addRow("numeric NaN") << u"'NaN'::numeric"_qs << text << u"NaN"_qs;
    QTest::addRow("bool true") << u"1 < 2"_qs << text << u"true"_qs;
    QTest::addRow("bool false") << u"false"_qs << text << u"false"_qs;
    QTest::addRow("timestamp(0)") << u"'2024-03-05 07:08:09.6'::timestamp(0)"_qs << text << u"2024-03-05 07:08:10"_qs;
    QTest::addRow("date") << u"date '2024-03-05'"_qs << text << u"2024-03-05"_qs;
    QTest::addRow("non-ASCII text") << u"'Älter Größe 日本'::text"_qs << text << u"Älter Größe 日本"_qs;
    QTest::addRow("varchar with quote") << u"'it''s'::varchar(10)"_qs << text << u"it's"_qs;
    QTest::addRow("empty text") << u"''::text"_qs << text << QString();
    QTest::addRow("NULL integer") << u"NULL::int4"_qs << int(QMetaType::UnknownType) << QString();
    QTest::addRow("NULL text") << u"NULL::text"_qs << int(QMetaType::UnknownType) << QString();
}

void tst_Recordset::postgresLoadsTypes()
{
    REQUIRE_POSTGRES();
    QFETCH(QString, expression);
    QFETCH(int, type);
    QFETCH(QString, text);

    // The second row tells a shared text or a wrong reservation apart from the first.
    loadPostgres(u"SELECT n, "_qs + expression + u" AS v FROM generate_series(1, 2) n"_qs);
    QCOMPARE(m_model->rowCount(), 2);
    QCOMPARE(m_model->fieldName(1), u"v"_qs);
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(m_model->value(row, 0), QVariant(qint64(row + 1)));
        QCOMPARE(m_model->value(row, 1).typeId(), type);
        QCOMPARE(m_model->text(row, 1), text);
        QCOMPARE(m_model->isNull(row, 1), type == QMetaType::UnknownType);
    }
}

void tst_Recordset::postgresEmptyResultKeepsFieldNames()
{
    REQUIRE_POSTGRES();
    loadPostgres(u"SELECT WO_Nbr, AssetCode AS \"AssetCode\" FROM WO_WorkOrders WHERE false"_qs);
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->columnCount(), 2);
    QCOMPARE(m_model->fieldName(0), u"wo_nbr"_qs);
    QCOMPARE(m_model->fieldIndex(u"assetcode"_qs), 1);
    m_model->setSort(u"AssetCode DESC"_qs);
}

void tst_Recordset::postgresKeepsTheLastStatementsRows()
{
    REQUIRE_POSTGRES();
    loadPostgres(u"SELECT 1 AS a; SELECT n AS b, 'x' AS c FROM generate_series(1, 3) n WHERE n > 1"_qs);
    QCOMPARE(m_model->rowCount(), 2);
    QCOMPARE(m_model->fieldName(1), u"c"_qs);
    QCOMPARE(m_model->value(1, 0), QVariant(qint64(3)));

    // A failing later statement fails the load, and the connection goes on working.
    try {
        loadPostgres(u"SELECT 1 AS a; SELECT * FROM nosuch"_qs);
        QFAIL("no error");
    } catch (const ControlError &e) {
        QVERIFY2(e.description.startsWith(u"[42P01] "_qs), qPrintable(e.description));
    }
    QCOMPARE(m_model->rowCount(), 2);
    loadPostgres(u"SELECT 'y' AS d"_qs);
    QCOMPARE(m_model->text(0, 0), u"y"_qs);
}

void tst_Recordset::postgresLoadsWhileADriverQueryIsHalfRead()
{
    REQUIRE_POSTGRES();
    QSqlQuery reading(postgres());
    reading.setForwardOnly(true);
    QVERIFY_SQL(reading, exec(u"SELECT n FROM generate_series(1, 100000) n"_qs));
    QVERIFY(reading.next());
    loadPostgres(u"SELECT 2 AS two"_qs);
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(m_model->text(0, 0), u"2"_qs);
}

void tst_Recordset::postgresRefusesCopyAndStaysUsable_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addRow("to client") << u"COPY (SELECT n FROM generate_series(1, 1000) n) TO STDOUT"_qs;
    QTest::addRow("from client") << u"CREATE TEMP TABLE IF NOT EXISTS sink (n int); COPY sink FROM STDIN"_qs;
}

void tst_Recordset::postgresRefusesCopyAndStaysUsable()
{
    REQUIRE_POSTGRES();
    QFETCH(QString, sql);
    QVERIFY_THROWS_EXCEPTION(ControlError, loadPostgres(sql));
    QCOMPARE(m_model->rowCount(), 6);
    loadPostgres(u"SELECT 3 AS three"_qs);
    QCOMPARE(m_model->text(0, 0), u"3"_qs);
}

void tst_Recordset::postgresFailureKeepsRowsAndGivesSqlState_data()
{
    // An all-digit SQLSTATE is a number, as the driver's native code always is.
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    QTest::addRow("missing table") << u"SELECT * FROM nosuch"_qs << int(ControlError::DatabaseFailure)
                                   << u"[42P01] ERROR: relation \"nosuch\" does not exist"_qs;
    QTest::addRow("syntax") << u"SELEC 1"_qs << 42601 << u"ERROR: syntax error at or near \"SELEC\""_qs;
    QTest::addRow("fails after some rows")
            << u"SELECT 10 / (3 - n) FROM generate_series(1, 5) n"_qs << 22012 << u"ERROR: division by zero"_qs;
}

void tst_Recordset::postgresFailureKeepsRowsAndGivesSqlState()
{
    REQUIRE_POSTGRES();
    QFETCH(QString, sql);
    QFETCH(int, number);
    QFETCH(QString, description);
    m_model->setSort(u"code"_qs);
    const QList<qint64> sorted = ids();
    QSignalSpy aboutToReset(m_model.get(), &QAbstractItemModel::modelAboutToBeReset);

    ControlError error(0, QString());
    try {
        loadPostgres(sql);
        QFAIL("no error");
    } catch (const ControlError &e) {
        error = e;
    }
    QCOMPARE(error.number, number);
    QVERIFY2(error.description.startsWith(description), qPrintable(error.description));
    QCOMPARE(aboutToReset.count(), 0);
    QCOMPARE(ids(), sorted);
    QCOMPARE(m_model->sort(), u"code"_qs);

    // The driver's own path gives the same number and words.
    QSqlQuery query(postgres());
    query.setForwardOnly(true);
    if (query.exec(sql)) {
        while (query.next())
            continue; // a failure after the first rows shows only while fetching
    }
    QVERIFY(query.lastError().isValid());
    const ControlError viaDriver = ControlError::fromSqlError(query.lastError());
    QCOMPARE(viaDriver.number, number);
    QVERIFY2(viaDriver.description.startsWith(description), qPrintable(viaDriver.description));

    // The connection is still usable.
    loadPostgres(u"SELECT 1 AS one"_qs);
    QCOMPARE(m_model->rowCount(), 1);
}

void tst_Recordset::postgresMatchesGenericPathOnWorkOrders()
{
    REQUIRE_POSTGRES();
    const QString sql = u"SELECT * FROM vw_QX_WorkOrdersGrid ORDER BY WO_Nbr"_qs;
    Recordset generic;
    QSqlQuery query(postgres());
    query.setForwardOnly(true);
    QVERIFY_SQL(query, exec(sql));
    generic.load(query);
    loadPostgres(sql);

    QCOMPARE(m_model->rowCount(), generic.rowCount());
    QVERIFY(m_model->rowCount() >= 400);
    QCOMPARE(m_model->fieldCount(), 13);
    QCOMPARE(m_model->fieldCount(), generic.fieldCount());
    for (int field = 0; field < m_model->fieldCount(); ++field) {
        QCOMPARE(m_model->fieldName(field), generic.fieldName(field));
        for (int row = 0; row < m_model->rowCount(); ++row) {
            if (m_model->value(row, field) != generic.value(row, field)
                || m_model->value(row, field).typeId() != generic.value(row, field).typeId()) {
                QFAIL(qPrintable(u"%1 differs in row %2: \"%3\" here, \"%4\" through QSqlQuery"_qs.arg(
                        m_model->fieldName(field), QString::number(row), m_model->text(row, field),
                        generic.text(row, field))));
            }
        }
    }
    // The priority sort that a header click asks for orders both alike.
    m_model->setSort(u"Priority DESC, DateLoaded"_qs);
    generic.setSort(u"Priority DESC, DateLoaded"_qs);
    for (int row = 0; row < m_model->rowCount(); ++row)
        QCOMPARE(m_model->bookmark(row), generic.bookmark(row));
}

QTEST_GUILESS_MAIN(tst_Recordset)
#include "tst_recordset.moc"
