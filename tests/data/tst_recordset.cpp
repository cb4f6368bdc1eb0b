#include "columnstore.h"
#include "connectionstring.h"
#include "controlerror.h"
#include "database.h"
#include "loaders.h"
#include "recordset.h"
#include "rowsorter.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "testsupport.h"

#include <algorithm>
#include <memory>
#include <numeric>
#include <thread>

using namespace Orvantel;

/// Loads through the SQLite fast path, the generic QSqlQuery path or the PostgreSQL fast path.
enum class Loader { Sqlite, Generic, Postgres };
Q_DECLARE_METATYPE(Loader)

class tst_Recordset : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void loadKeepsTypesAndText_data();
    void loadKeepsTypesAndText();
    void sortOrdersStablyOrThrowsAndKeepsOrder_data();
    void sortOrdersStablyOrThrowsAndKeepsOrder();
    void radixSortAgreesWithStableSort_data();
    void radixSortAgreesWithStableSort();
    void sortSurvivesTextsSharingALongStart_data();
    void sortSurvivesTextsSharingALongStart();
    void sortKeepsBookmarksAndPersistentIndexes();
    void failedLoadKeepsRowsUntilTheNextLoad_data();
    void failedLoadKeepsRowsUntilTheNextLoad();
    void valuesAreBoundNeverWritten_data();
    void valuesAreBoundNeverWritten();

    void postgresLoadsTypes_data();
    void postgresLoadsTypes();
    void postgresMatchesGenericPathOnWorkOrders();

    void mergePlacesRowsAndAnnouncesOnlyThem_data();
    void mergePlacesRowsAndAnnouncesOnlyThem();
    void mergeRefusesRowsOfAnotherShape_data();
    void mergeRefusesRowsOfAnotherShape();
    void loadersStopAtTheRowLimit_data();
    void loadersStopAtTheRowLimit();
    void rowLimitKeepsTheRowsDeliveredFirst();
    void replaceTakesAnOrderMadeOnAWorkerThread_data();
    void replaceTakesAnOrderMadeOnAWorkerThread();

private:
    ColumnStore store(Loader loader, const Statement &statement, int rowLimit = NoRowLimit);
    void load(Loader loader, const Statement &statement);
    /// Rows like those of Items, one per "(id, 'code')" in values (none when empty), with
    /// the name "merged".
    ColumnStore changedRows(const QString &values);
    /// Describes each change the model announces, as "inserted 3", "moved 0 to 5" (the
    /// row it ends on), "removed 4-5", "changed 2", "reset", "layout".
    QStringList *recordSignals();
    QList<qint64> ids() const;
    /// The PostgreSQL test database (the demo plant), made on first use.
    QSqlDatabase postgres();

    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_sqlite;
    std::unique_ptr<Database> m_postgres;
    QString m_pgName;
    std::unique_ptr<Recordset> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QStringList m_signals;
};

static const QString Items = u"SELECT id, code, qty, name, grp, mixed FROM items ORDER BY id"_qs;
/// Items as a record source that delivers the newest first, as the work orders come.
static const QString ItemsNewestFirst = u"SELECT id, code, qty, name, grp, mixed FROM items ORDER BY id DESC"_qs;

void tst_Recordset::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(u"items.db"_qs);
    TestSupport::execSqlite(path,
                            {u"CREATE TABLE items (id INTEGER, code TEXT, qty, name TEXT, grp TEXT, mixed)"_qs,
                             u"INSERT INTO items VALUES (1, 'b', 10, 'Pump', 'x', '10'), (2, 'A', 2.5, NULL, 'y', 9), "
                             "(3, 'a', NULL, 'valve', 'x', 'abc'), (4, 'C', 10, 'pump', 'y', NULL), "
                             "(5, 'b', -1, 'Älter Größe 日本', 'x', 9.5), (6, '_z', 3, '', 'y', '9')"_qs});
    m_sqlite = std::make_unique<Database>(ConnectionString::build({u"sqlite:"_qs + path, {}, {}, {}}));
    m_sqlite->open();
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
    m_sqlite.reset();
    m_postgres.reset();
    if (!m_pgName.isEmpty())
        TestSupport::PgServer::dropDatabase(m_pgName);
}

ColumnStore tst_Recordset::store(Loader loader, const Statement &statement, int rowLimit)
{
    if (loader == Loader::Sqlite) {
        return loadSqlite(*static_cast<sqlite3 *const *>(m_sqlite->database().driver()->handle().constData()),
                          statement, rowLimit);
    }
    if (loader == Loader::Postgres)
        return loadPostgres(*static_cast<PGconn *const *>(postgres().driver()->handle().constData()), statement,
                            rowLimit);
    QSqlQuery query(m_sqlite->database());
    query.setForwardOnly(true);
    query.exec(statement.sql);
    return loadQuery(query, rowLimit);
}

void tst_Recordset::load(Loader loader, const Statement &statement)
{
    m_model->replace(store(loader, statement));
}

ColumnStore tst_Recordset::changedRows(const QString &values)
{
    if (values.isEmpty())
        return store(Loader::Sqlite, u"SELECT id, code, qty, name, grp, mixed FROM items WHERE 0"_qs);
    return store(Loader::Sqlite,
                 u"SELECT column1 AS id, column2 AS code, 1 AS qty, 'merged' AS name, 'x' AS grp, "
                 "NULL AS mixed FROM (VALUES %1)"_qs.arg(values));
}

QStringList *tst_Recordset::recordSignals()
{
    m_signals.clear();
    Recordset *model = m_model.get();
    const auto rows = [](int first, int last) {
        return first == last ? QString::number(first) : u"%1-%2"_qs.arg(first).arg(last);
    };
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [=](const QModelIndex &, int first, int last) { m_signals << u"inserted "_qs + rows(first, last); });
    connect(model, &QAbstractItemModel::rowsRemoved, this,
            [=](const QModelIndex &, int first, int last) { m_signals << u"removed "_qs + rows(first, last); });
    connect(model, &QAbstractItemModel::rowsMoved, this,
            [=](const QModelIndex &, int start, int, const QModelIndex &, int before) {
                m_signals << u"moved %1 to %2"_qs.arg(start).arg(before > start ? before - 1 : before);
            });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [=](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                QCOMPARE(topLeft.column(), 0);
                QCOMPARE(bottomRight.column(), model->columnCount() - 1);
                m_signals << u"changed "_qs + rows(topLeft.row(), bottomRight.row());
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { m_signals << u"reset"_qs; });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { m_signals << u"layout"_qs; });
    return &m_signals;
}

QSqlDatabase tst_Recordset::postgres()
{
    if (!m_postgres) {
        const DemoData::Options demoPlant;
        m_pgName = TestSupport::PgServer::createDatabase(u"tst_recordset"_qs, &demoPlant);
        m_postgres = std::make_unique<Database>(
                ConnectionString::build({TestSupport::PgServer::serverName(), m_pgName, TestSupport::PgServer::user(),
                                         TestSupport::PgServer::password()}));
        m_postgres->open();
    }
    return m_postgres->database();
}

QList<qint64> tst_Recordset::ids() const
{
    QList<qint64> result;
    for (int row = 0; row < m_model->rowCount(); ++row)
        result << m_model->value(row, 0).toLongLong();
    return result;
}

void tst_Recordset::loadKeepsTypesAndText_data()
{
    QTest::addColumn<Loader>("loader");
    QTest::addRow("sqlite handle") << Loader::Sqlite;
    QTest::addRow("QSqlQuery") << Loader::Generic;
}

void tst_Recordset::loadKeepsTypesAndText()
{
    QFETCH(Loader, loader);
    load(loader, Items);
    QCOMPARE(m_model->rowCount(), 6);
    const int qty = m_model->fieldIndex(u"QTY"_qs);
    QCOMPARE(m_model->value(0, qty).typeId(), QMetaType::LongLong);
    QCOMPARE(m_model->value(1, qty).typeId(), QMetaType::Double);
    QCOMPARE(m_model->data(m_model->index(1, qty)), QVariant(u"2.5"_qs));
    QVERIFY(m_model->isNull(2, qty));
    QVERIFY(!m_model->data(m_model->index(2, qty)).isValid());
    QCOMPARE(m_model->text(4, 3), u"Älter Größe 日本"_qs);
    QCOMPARE(m_model->text(5, 3), QString());
    QVERIFY(!m_model->isNull(5, 3));
}

void tst_Recordset::sortOrdersStablyOrThrowsAndKeepsOrder_data()
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
    // No order: the sort is refused.
    QTest::addRow("unknown field") << u"nosuch"_qs << QList<qint64>();
    QTest::addRow("second field unknown") << u"code, nosuch DESC"_qs << QList<qint64>();
    QTest::addRow("empty item") << u"code,,id"_qs << QList<qint64>();
}

void tst_Recordset::sortOrdersStablyOrThrowsAndKeepsOrder()
{
    QFETCH(QString, sort);
    QFETCH(QList<qint64>, order);
    QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
    m_model->setSort(u"name DESC"_qs);
    if (order.isEmpty()) {
        order = ids();
        try {
            m_model->setSort(sort);
            QFAIL("no error");
        } catch (const ControlError &e) {
            QCOMPARE(e.number, int(ControlError::InvalidSort));
        }
        QCOMPARE(m_model->sort(), u"name DESC"_qs);
    } else {
        m_model->setSort(sort);
    }
    QCOMPARE(ids(), order);
    QCOMPARE(reset.count(), 0);
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

void tst_Recordset::radixSortAgreesWithStableSort_data()
{
    QTest::addColumn<QString>("sort");
    for (const char *sort : {"t DESC", "g, t DESC, n", "p DESC, g, n DESC"})
        QTest::addRow("%s", sort) << QString::fromLatin1(sort);
}

void tst_Recordset::radixSortAgreesWithStableSort()
{
    QFETCH(QString, sort);
    // Enough rows for radix passes, also within the ties of a first key. Long shared prefixes,
    // ASCII case variants, NULLs, mixed types, integers beyond 2^53, small integers of either sign.
    load(Loader::Sqlite,
         u"WITH RECURSIVE s(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM s WHERE x < 1999) "
         "SELECT abs(random()) % 3 AS g, CASE abs(random()) % 9 WHEN 0 THEN NULL ELSE random() % 4 END AS p, "
         "'Station pump housing ' || substr('aAbB_', 1 + abs(random()) % 5, 1 + abs(random()) % 3) "
         "  || (abs(random()) % 5) AS t, "
         "CASE abs(random()) % 5 WHEN 0 THEN NULL WHEN 1 THEN random() % 10 WHEN 2 THEN (random() % 100) / 7.0 "
         "  WHEN 3 THEN 9007199254740993 + random() % 3 ELSE 'x' || (random() % 3) END AS n FROM s"_qs);

    QList<QPair<int, bool>> keys;
    for (const QString &part : sort.split(u',')) {
        const QStringList words = part.split(u' ', Qt::SkipEmptyParts);
        keys.append({m_model->fieldIndex(words.first()), words.size() > 1});
    }
    std::vector<int> expected(std::size_t(m_model->rowCount()));
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
        for (const auto &key : keys) {
            const int c = compareValues(m_model->value(a, key.first), m_model->value(b, key.first));
            if (c != 0)
                return key.second ? c > 0 : c < 0;
        }
        return false;
    });

    m_model->setSort(sort);
    std::vector<int> actual;
    for (int row = 0; row < m_model->rowCount(); ++row)
        actual.push_back(m_model->bookmark(row));
    QVERIFY(actual == expected);
}

void tst_Recordset::sortSurvivesTextsSharingALongStart_data()
{
    QTest::addColumn<int>("prefixBytes");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QString>("sort");
    QTest::addColumn<QList<qint64>>("expected");
    // Each copy holds ids 10k+1..10k+5: prefix||'b', prefix||'a', prefix||'c', prefix, prefix||'B'.
    QTest::addRow("4 MiB, ascending") << 4 * 1024 * 1024 << 1 << u"t"_qs << QList<qint64> {4, 2, 1, 5, 3};
    QTest::addRow("4 MiB, descending") << 4 * 1024 * 1024 << 1 << u"t DESC"_qs << QList<qint64> {3, 1, 5, 2, 4};
    // Enough rows sharing the start for the radix passes; copies tie and keep their loaded order.
    QTest::addRow("64 KiB x 60, ascending")
            << 64 * 1024 << 60 << u"t, id"_qs << QList<qint64> {4, 14, 24, 34, 44, 54, 64, 74, 84, 94};
}

void tst_Recordset::sortSurvivesTextsSharingALongStart()
{
    QFETCH(int, prefixBytes);
    QFETCH(int, copies);
    QFETCH(QString, sort);
    QFETCH(QList<qint64>, expected);
    load(Loader::Sqlite,
         u"WITH RECURSIVE c(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM c WHERE k < %1), "
         "v(n, s) AS (VALUES (1, 'b'), (2, 'a'), (3, 'c'), (4, ''), (5, 'B')) "
         "SELECT 10 * k + n AS id, hex(zeroblob(%2)) || s AS t FROM c, v ORDER BY k, n"_qs.arg(copies - 1)
                 .arg(prefixBytes / 2));
    QCOMPARE(m_model->rowCount(), 5 * copies);
    m_model->setSort(sort);
    QCOMPARE(ids().mid(0, expected.size()), expected);
}

void tst_Recordset::sortKeepsBookmarksAndPersistentIndexes()
{
    const QPersistentModelIndex pump(m_model->index(0, 3)); // id 1
    m_model->setSort(u"name"_qs);
    QCOMPARE(pump.row(), 2);
    m_model->sort(0, Qt::DescendingOrder);
    QCOMPARE(pump.row(), 5);
    QCOMPARE(pump.data().toString(), u"Pump"_qs);

    for (int bookmark = 0; bookmark < 6; ++bookmark)
        QCOMPARE(m_model->value(m_model->rowOfBookmark(bookmark), 0).toInt(), bookmark + 1);
    QCOMPARE(m_model->data(m_model->index(0, 0), Recordset::BookmarkRole), QVariant(5));
    QCOMPARE(m_model->rowOfBookmark(6), -1);
}

void tst_Recordset::failedLoadKeepsRowsUntilTheNextLoad_data()
{
    // An all-digit SQLSTATE is a number, as the driver's native code always is.
    QTest::addColumn<Loader>("loader");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    const QString noSuch = u"SELECT * FROM nosuch"_qs;
    const int failure = ControlError::DatabaseFailure;
    QTest::addRow("sqlite handle") << Loader::Sqlite << noSuch << 1 << u"no such table: nosuch"_qs;
    QTest::addRow("QSqlQuery") << Loader::Generic << noSuch << 1 << u"no such table: nosuch"_qs;
    const QString copy = u"A COPY statement"_qs;
    QTest::addRow("libpq, fails after some rows")
            << Loader::Postgres << u"SELECT 10 / (3 - n) FROM generate_series(1, 5) n"_qs << 22012
            << u"ERROR: division by zero"_qs;
    QTest::addRow("libpq, no such table")
            << Loader::Postgres << noSuch << failure << u"[42P01] ERROR: relation \"nosuch\" does not exist"_qs;
    QTest::addRow("libpq, one statement only")
            << Loader::Postgres << u"SELECT 1 AS a; "_qs + noSuch << 42601
            << u"ERROR: cannot insert multiple commands into a prepared statement"_qs;
    QTest::addRow("libpq, COPY out") << Loader::Postgres << u"COPY (SELECT 1) TO STDOUT"_qs << failure << copy;
    QTest::addRow("libpq, COPY in") << Loader::Postgres << u"COPY GS_Users FROM STDIN"_qs << failure << copy;
}

void tst_Recordset::failedLoadKeepsRowsUntilTheNextLoad()
{
    QFETCH(Loader, loader);
    QFETCH(QString, sql);
    QFETCH(int, number);
    QFETCH(QString, description);
    if (loader == Loader::Postgres)
        REQUIRE_POSTGRES();
    m_model->setSort(u"code"_qs);
    const QList<qint64> sorted = ids();
    QSignalSpy aboutToReset(m_model.get(), &QAbstractItemModel::modelAboutToBeReset);
    try {
        load(loader, sql);
        QFAIL("no error");
    } catch (const ControlError &e) {
        QCOMPARE(e.number, number);
        QVERIFY2(e.description.startsWith(description), qPrintable(e.description));
    }
    QCOMPARE(aboutToReset.count(), 0);
    QCOMPARE(ids(), sorted);
    QCOMPARE(m_model->sort(), u"code"_qs);

    // The connection stays usable. An empty result keeps its field names.
    load(loader, u"SELECT 'y' AS AssetCode WHERE false"_qs);
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->fieldIndex(u"ASSETCODE"_qs), 0);
    QCOMPARE(m_model->sort(), QString());
    m_model->setSort(u"AssetCode DESC"_qs);
}

void tst_Recordset::valuesAreBoundNeverWritten_data()
{
    QTest::addColumn<Loader>("loader");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("setUp"); // run on the driver's connection first
    const QString postgresSql = u"SELECT $1::text AS t, $2 + 1 AS n, length($1::text) AS l"_qs;
    QTest::addRow("sqlite") << Loader::Sqlite << u"SELECT ?1 AS t, ?2 + 1 AS n, length(?1) AS l"_qs << QString();
    QTest::addRow("postgresql") << Loader::Postgres << postgresSql << QString();
    // The values go as UTF-8 whatever the connection was last told.
    QTest::addRow("postgresql, client encoding changed")
            << Loader::Postgres << postgresSql << u"SET client_encoding TO 'LATIN1'"_qs;
}

void tst_Recordset::valuesAreBoundNeverWritten()
{
    QFETCH(Loader, loader);
    QFETCH(QString, sql);
    QFETCH(QString, setUp);
    if (loader == Loader::Postgres)
        REQUIRE_POSTGRES();
    if (!setUp.isEmpty()) {
        QSqlQuery query(postgres());
        QVERIFY_SQL(query, exec(setUp));
    }
    const QString text = u"\\'; DROP TABLE items; -- Fr\u00e4sen \u65e5\u672c"_qs;
    load(loader, Statement(sql, {text, 41}));
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(m_model->text(0, 0), text);
    QCOMPARE(m_model->value(0, 1), QVariant(qint64(42)));
    QCOMPARE(m_model->value(0, 2), QVariant(qint64(34))); // characters, as the database counts them

    // One value for two placeholders is refused, and the rows stay.
    QVERIFY_THROWS_EXCEPTION(ControlError, load(loader, Statement(sql, {text})));
    QCOMPARE(m_model->text(0, 0), text);
}

void tst_Recordset::postgresLoadsTypes_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<int>("type"); // of value(); UnknownType for NULL
    QTest::addColumn<QString>("text");

    const int integer = QMetaType::LongLong;
    const int real = QMetaType::Double;
    const int text = QMetaType::QString;
    QTest::addRow("int8") << u"(-9223372036854775807 - 1)::int8"_qs << integer << u"-9223372036854775808"_qs;
    QTest::addRow("oid beyond int4") << u"4000000000::oid"_qs << integer << u"4000000000"_qs;
    QTest::addRow("float8") << u"(-2.5e-10)::float8"_qs << real << u"-2.5e-10"_qs;
    QTest::addRow("numeric, 15 digits") << u"123456789.012345::numeric"_qs << real << u"123456789.012345"_qs;
    QTest::addRow("numeric, 16 digits") << u"1234567890.123456::numeric"_qs << text << u"1234567890.123456"_qs;
    QTest::addRow("bool") << u"1 < 2"_qs << text << u"true"_qs;
    QTest::addRow("timestamp(0)") << u"'2024-03-05 07:08:09.6'::timestamp(0)"_qs << text << u"2024-03-05 07:08:10"_qs;
    QTest::addRow("non-ASCII text") << u"'Älter Größe 日本'::text"_qs << text << u"Älter Größe 日本"_qs;
    QTest::addRow("empty text") << u"''::text"_qs << text << QString();
    QTest::addRow("NULL") << u"NULL::int4"_qs << int(QMetaType::UnknownType) << QString();
}

void tst_Recordset::postgresLoadsTypes()
{
    REQUIRE_POSTGRES();
    QFETCH(QString, expression);
    QFETCH(int, type);
    QFETCH(QString, text);

    // The second row tells a shared text or a wrong reservation apart from the first.
    load(Loader::Postgres, QString(u"SELECT n, "_qs + expression + u" AS v FROM generate_series(1, 2) n"_qs));
    QCOMPARE(m_model->rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(m_model->value(row, 0), QVariant(qint64(row + 1)));
        QCOMPARE(m_model->value(row, 1).typeId(), type);
        QCOMPARE(m_model->text(row, 1), text);
        QCOMPARE(m_model->isNull(row, 1), type == QMetaType::UnknownType);
    }
}

void tst_Recordset::postgresMatchesGenericPathOnWorkOrders()
{
    REQUIRE_POSTGRES();
    const QString sql = u"SELECT * FROM vw_QX_WorkOrdersGrid ORDER BY WO_Nbr"_qs;
    Recordset generic;
    QSqlQuery query(postgres());
    query.setForwardOnly(true);
    QVERIFY_SQL(query, exec(sql));
    generic.replace(loadQuery(query));
    load(Loader::Postgres, sql);

    QVERIFY(m_model->rowCount() >= 1000);
    QCOMPARE(m_model->rowCount(), generic.rowCount());
    QCOMPARE(m_model->fieldCount(), 13);
    for (int field = 0; field < 13; ++field) {
        QCOMPARE(m_model->fieldName(field), generic.fieldName(field));
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QVariant fast = m_model->value(row, field), slow = generic.value(row, field);
            if (fast != slow || fast.typeId() != slow.typeId())
                QFAIL(qPrintable(m_model->fieldName(field) + u" differs in row "_qs + QString::number(row)));
        }
    }
}

void tst_Recordset::mergePlacesRowsAndAnnouncesOnlyThem_data()
{
    QTest::addColumn<QString>("sort");
    QTest::addColumn<QString>("changed"); // rows (id, 'code')
    QTest::addColumn<QList<qint64>>("keys");
    QTest::addColumn<QList<qint64>>("order");
    QTest::addColumn<QStringList>("announced");

    // Loaded newest first: 6 _z, 5 b, 4 C, 3 a, 2 A, 1 b. By code: 6, 3, 2, 5, 1, 4.
    const QString code = u"code"_qs;
    using Ids = QList<qint64>;
    QTest::addRow("insert among equals, newest first")
            << code << u"(7, 'b')"_qs << Ids {7} << Ids {6, 3, 2, 7, 5, 1, 4} << QStringList {u"inserted 3"_qs};
    QTest::addRow("insert at the end") << code << u"(0, 'z')"_qs << Ids {0} << Ids {6, 3, 2, 5, 1, 4, 0}
                                       << QStringList {u"inserted 6"_qs};
    QTest::addRow("update keeping its place")
            << code << u"(2, 'a')"_qs << Ids {2} << Ids {6, 3, 2, 5, 1, 4} << QStringList {u"changed 2"_qs};
    QTest::addRow("update moving down") << code << u"(6, 'd')"_qs << Ids {6} << Ids {3, 2, 5, 1, 4, 6}
                                        << QStringList {u"moved 0 to 5"_qs, u"changed 5"_qs};
    QTest::addRow("update moving up") << code << u"(4, '0')"_qs << Ids {4} << Ids {4, 6, 3, 2, 5, 1}
                                      << QStringList {u"moved 5 to 0"_qs, u"changed 0"_qs};
    QTest::addRow("remove") << code << QString() << Ids {5} << Ids {6, 3, 2, 1, 4} << QStringList {u"removed 3"_qs};
    QTest::addRow("remove, update and insert at once")
            << code << u"(7, 'a'), (6, 'zz')"_qs << Ids {7, 6, 1} << Ids {7, 3, 2, 5, 4, 6}
            << QStringList {u"removed 4"_qs, u"moved 0 to 4"_qs, u"changed 4"_qs, u"inserted 0"_qs};
    QTest::addRow("key not there") << code << QString() << Ids {9} << Ids {6, 3, 2, 5, 1, 4} << QStringList();
    QTest::addRow("changed row of a key not named")
            << code << u"(8, 'b')"_qs << Ids {9} << Ids {6, 3, 2, 5, 1, 4} << QStringList();
    QTest::addRow("two rows for one key")
            << code << u"(7, 'a'), (7, 'zz')"_qs << Ids {7} << Ids {6, 7, 3, 2, 5, 1, 4, 7}
            << QStringList {u"inserted 1"_qs, u"inserted 7"_qs};
    // Without a sort the rows keep the record source's order.
    QTest::addRow("insert, no sort") << QString() << u"(7, 'b')"_qs << Ids {7} << Ids {7, 6, 5, 4, 3, 2, 1}
                                     << QStringList {u"inserted 0"_qs};
    QTest::addRow("insert of an old key, no sort")
            << QString() << u"(0, 'b')"_qs << Ids {0} << Ids {6, 5, 4, 3, 2, 1, 0} << QStringList {u"inserted 6"_qs};
    QTest::addRow("update, no sort") << QString() << u"(3, 'zz')"_qs << Ids {3} << Ids {6, 5, 4, 3, 2, 1}
                                     << QStringList {u"changed 3"_qs};
    QTest::addRow("remove, no sort") << QString() << QString() << Ids {6} << Ids {5, 4, 3, 2, 1}
                                     << QStringList {u"removed 0"_qs};
}

void tst_Recordset::mergePlacesRowsAndAnnouncesOnlyThem()
{
    QFETCH(QString, sort);
    QFETCH(QString, changed);
    QFETCH(QList<qint64>, keys);
    QFETCH(QList<qint64>, order);
    QFETCH(QStringList, announced);
    load(Loader::Sqlite, ItemsNewestFirst);
    m_model->setBaseOrder(u"id DESC"_qs);
    m_model->setSort(sort);

    // Every row's record: a persistent index on it, and its bookmark.
    struct Watched
    {
        qint64 id;
        int bookmark;
        QPersistentModelIndex index;
    };
    QList<Watched> watched;
    for (int row = 0; row < m_model->rowCount(); ++row)
        watched.append({m_model->value(row, 0).toLongLong(), m_model->bookmark(row), m_model->index(row, 3)});
    const QStringList *log = recordSignals();
    m_model->merge(u"ID"_qs, changedRows(changed), keys);

    QCOMPARE(ids(), order);
    QCOMPARE(*log, announced);
    for (const Watched &w : std::as_const(watched)) {
        if (!order.contains(w.id)) { // removed: the index goes, the bookmark is dead
            QVERIFY(!w.index.isValid());
            QCOMPARE(m_model->rowOfBookmark(w.bookmark), -1);
            continue;
        }
        QCOMPARE(m_model->value(w.index.row(), 0).toLongLong(), w.id);
        QCOMPARE(m_model->bookmark(w.index.row()), w.bookmark);
        QCOMPARE(m_model->text(w.index.row(), 3) == u"merged"_qs, keys.contains(w.id));
    }

    // The rows stand where a sort of the whole result would put them.
    m_model->setSort(sort.isEmpty() ? u"code"_qs : QString());
    m_model->setSort(sort);
    QCOMPARE(ids(), order);
}

void tst_Recordset::mergeRefusesRowsOfAnotherShape_data()
{
    QTest::addColumn<QString>("keyField");
    QTest::addColumn<QString>("changedSql");
    QTest::addRow("no such key field") << u"nosuch"_qs << u"SELECT id, code, qty, name, grp, mixed FROM items"_qs;
    QTest::addRow("other fields") << u"id"_qs << u"SELECT id, code FROM items"_qs;
    QTest::addRow("fields in another order") << u"id"_qs << u"SELECT code, id, qty, name, grp, mixed FROM items"_qs;
}

void tst_Recordset::mergeRefusesRowsOfAnotherShape()
{
    QFETCH(QString, keyField);
    QFETCH(QString, changedSql);
    m_model->setSort(u"code"_qs);
    const QStringList *log = recordSignals();
    try {
        m_model->merge(keyField, store(Loader::Sqlite, changedSql), {1, 7});
        QFAIL("no error");
    } catch (const ControlError &e) {
        QCOMPARE(e.number, int(ControlError::DatabaseFailure));
    }
    QCOMPARE(ids(), (QList<qint64> {6, 2, 3, 1, 5, 4}));
    QCOMPARE(*log, QStringList());
}

void tst_Recordset::loadersStopAtTheRowLimit_data()
{
    QTest::addColumn<Loader>("loader");
    QTest::addColumn<int>("rowLimit");
    QTest::addColumn<int>("records");
    QTest::addRow("sqlite handle, 4") << Loader::Sqlite << 4 << 4;
    QTest::addRow("sqlite handle, none") << Loader::Sqlite << 0 << 0;
    QTest::addRow("QSqlQuery, 4") << Loader::Generic << 4 << 4;
    QTest::addRow("QSqlQuery, none") << Loader::Generic << 0 << 0;
    QTest::addRow("libpq, 4") << Loader::Postgres << 4 << 4;
    QTest::addRow("libpq, none") << Loader::Postgres << 0 << 0;
    QTest::addRow("libpq, more than there are") << Loader::Postgres << 7 << 6;
}

void tst_Recordset::loadersStopAtTheRowLimit()
{
    QFETCH(Loader, loader);
    QFETCH(int, rowLimit);
    QFETCH(int, records);
    if (loader == Loader::Postgres)
        REQUIRE_POSTGRES();
    const QString sql = loader == Loader::Postgres ? u"SELECT 7 - n AS id, 'x' AS code FROM generate_series(1, 6) n"_qs
                                                   : u"SELECT id, code FROM items ORDER BY id DESC"_qs;
    const ColumnStore result = store(loader, sql, rowLimit);
    QCOMPARE(result.recordCount(), records);
    QCOMPARE(result.fieldNames(), (QStringList {u"id"_qs, u"code"_qs}));
    m_model->replace(store(loader, sql, rowLimit));
    QCOMPARE(ids(), (QList<qint64> {6, 5, 4, 3, 2, 1}).mid(0, records));
    // The connection takes the next statement.
    QCOMPARE(store(loader, sql).recordCount(), 6);
}

void tst_Recordset::rowLimitKeepsTheRowsDeliveredFirst()
{
    load(Loader::Sqlite, ItemsNewestFirst);
    m_model->setBaseOrder(u"id DESC"_qs);
    m_model->setSort(u"code"_qs);
    const QStringList *log = recordSignals();
    // The four newest, whatever the sort.
    m_model->setRowLimit(4);
    QCOMPARE(ids(), (QList<qint64> {6, 3, 5, 4}));
    // A new row pushes the oldest one out; a row older than all stays out.
    m_model->merge(u"id"_qs, changedRows(u"(7, 'b')"_qs), {7});
    QCOMPARE(ids(), (QList<qint64> {6, 7, 5, 4}));
    m_model->merge(u"id"_qs, changedRows(u"(0, 'a')"_qs), {0});
    QCOMPARE(ids(), (QList<qint64> {6, 7, 5, 4}));
    QCOMPARE(*log, (QStringList {u"reset"_qs, u"removed 1"_qs, u"inserted 1"_qs}));
    m_model->setSort(QString());
    QCOMPARE(ids(), (QList<qint64> {7, 6, 5, 4}));
    // A load keeps the first four it reads.
    m_model->setSort(u"code"_qs);
    load(Loader::Sqlite, Items);
    QCOMPARE(ids(), (QList<qint64> {2, 3, 1, 4}));
}

void tst_Recordset::replaceTakesAnOrderMadeOnAWorkerThread_data()
{
    QTest::addColumn<QString>("sortOnWorker");
    QTest::addColumn<QString>("sortInForce");
    QTest::addColumn<QList<qint64>>("order");
    QTest::addRow("the sort in force") << u"code DESC"_qs << u"code DESC"_qs << QList<qint64> {4, 1, 5, 2, 3, 6};
    QTest::addRow("sort changed meanwhile") << u"code DESC"_qs << u"qty"_qs << QList<qint64> {3, 5, 2, 6, 1, 4};
    QTest::addRow("sort dropped meanwhile") << u"code DESC"_qs << QString() << QList<qint64> {1, 2, 3, 4, 5, 6};
    QTest::addRow("sort set meanwhile") << QString() << u"code"_qs << QList<qint64> {6, 2, 3, 1, 5, 4};
}

void tst_Recordset::replaceTakesAnOrderMadeOnAWorkerThread()
{
    QFETCH(QString, sortOnWorker);
    QFETCH(QString, sortInForce);
    QFETCH(QList<qint64>, order);
    m_model->setSort(sortInForce);
    const QList<qint64> shown = ids();

    // What a timed refresh does: its own connection, opened, used and closed on the worker.
    const QString connection = ConnectionString::build({u"sqlite:"_qs + m_dir.filePath(u"items.db"_qs), {}, {}, {}});
    ColumnStore result;
    std::vector<int> sorted;
    QString failure;
    std::thread worker([&] {
        try {
            Database database(connection);
            result = database.load(Items);
            sorted = sortedOrder(result, sortOnWorker);
        } catch (const ControlError &e) {
            failure = e.description;
        }
    });
    worker.join();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(ids(), shown); // nothing reached the model meanwhile

    QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
    m_model->replace(std::move(result), std::move(sorted), sortOnWorker);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(ids(), order);
    QCOMPARE(m_model->sort(), sortInForce);
}

QTEST_GUILESS_MAIN(tst_Recordset)
#include "tst_recordset.moc"