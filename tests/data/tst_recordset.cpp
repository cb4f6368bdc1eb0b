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

#include <numeric>

using namespace Orvantel;
using TestSupport::thrown;
using Ids = QList<qint64>;

/// Loads through the SQLite fast path, the generic QSqlQuery path or the PostgreSQL fast path.
enum class Loader { Sqlite, Generic, Postgres };
Q_DECLARE_METATYPE(Loader)

static const QString Items = u"SELECT id, code, qty, name, grp, mixed FROM items ORDER BY id"_qs;
/// Items as a record source that delivers the newest first, as the work orders come.
static const QString ItemsNewestFirst = u"SELECT id, code, qty, name, grp, mixed FROM items ORDER BY id DESC"_qs;

/// Six items of mixed types, loaded into a recordset that a model tester watches throughout.
class tst_Recordset : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        TestSupport::execSqlite(m_dir.filePath(u"items.db"_qs),
                                {u"CREATE TABLE items (id INTEGER, code TEXT, qty, name TEXT, grp TEXT, mixed)"_qs,
                                 u"INSERT INTO items VALUES (1, 'b', 10, 'Pump', 'x', '10'), (2, 'A', 2.5, NULL, "
                                 "'y', 9), (3, 'a', NULL, 'valve', 'x', 'abc'), (4, 'C', 10, 'pump', 'y', NULL), "
                                 "(5, 'b', -1, 'Älter Größe 日本', 'x', 9.5), (6, '_z', 3, '', 'y', '9')"_qs});
        m_sqlite = std::make_unique<Database>(sqliteConnection());
        m_sqlite->open();
    }
    void init()
    {
        m_tester.reset();
        m_model = std::make_unique<Recordset>();
        m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get(),
                                                              QAbstractItemModelTester::FailureReportingMode::QtTest);
        load(Loader::Sqlite, Items);
    }
    void cleanupTestCase()
    {
        m_sqlite.reset();
        m_postgres.reset();
        if (!m_pgName.isEmpty())
            TestSupport::PgServer::dropDatabase(m_pgName);
    }

    void loadersKeepTypesAndStopAtTheRowLimit_data()
    {
        QTest::addColumn<Loader>("loader");
        QTest::addColumn<int>("rowLimit");
        QTest::addColumn<int>("records");
        for (const auto &[name, loader] : {std::pair {"sqlite handle", Loader::Sqlite},
                                           {"QSqlQuery", Loader::Generic},
                                           {"libpq", Loader::Postgres}}) {
            QTest::addRow("%s", name) << loader << NoRowLimit << 6;
            QTest::addRow("%s, 4", name) << loader << 4 << 4;
            QTest::addRow("%s, none", name) << loader << 0 << 0;
        }
        QTest::addRow("libpq, more than there are") << Loader::Postgres << 7 << 6;
    }
    void loadersKeepTypesAndStopAtTheRowLimit()
    {
        QFETCH(Loader, loader);
        QFETCH(int, rowLimit);
        QFETCH(int, records);
        if (loader == Loader::Postgres)
            REQUIRE_POSTGRES();
        const QString sql = loader == Loader::Postgres
                ? u"SELECT 7 - n AS id, 'x' AS code FROM generate_series(1, 6) n"_qs
                : ItemsNewestFirst;
        m_model->replace(store(loader, sql, rowLimit));
        QCOMPARE(ids(), Ids({6, 5, 4, 3, 2, 1}).mid(0, records));
        QCOMPARE(m_model->fieldName(1), u"code"_qs);
        QCOMPARE(store(loader, sql).recordCount(), 6); // the connection takes the next statement
        if (loader == Loader::Postgres || records < 6)
            return;
        const int qty = m_model->fieldIndex(u"QTY"_qs);
        QCOMPARE(m_model->value(5, qty).typeId(), QMetaType::LongLong);
        QCOMPARE(m_model->value(4, qty).typeId(), QMetaType::Double);
        QCOMPARE(m_model->data(m_model->index(4, qty)), QVariant(u"2.5"_qs));
        QVERIFY(m_model->isNull(3, qty));
        QVERIFY(!m_model->data(m_model->index(3, qty)).isValid());
        QCOMPARE(m_model->text(1, 3), u"Älter Größe 日本"_qs);
        QCOMPARE(m_model->text(0, 3), QString());
        QVERIFY(!m_model->isNull(0, 3));
    }

    void sortOrdersStablyOrThrowsAndKeepsOrder_data()
    {
        QTest::addColumn<QString>("source"); // empty: the items
        QTest::addColumn<QString>("sort");
        QTest::addColumn<Ids>("order"); // empty: the sort is refused
        // Texts fold ASCII case ("A" = "a"); '_' sorts before letters; UTF-8 after ASCII.
        QTest::addRow("text") << QString() << u"code"_qs << Ids {6, 2, 3, 1, 5, 4};
        QTest::addRow("text desc keeps ties in loaded order") << QString() << u"code DESC"_qs << Ids {4, 1, 5, 2, 3, 6};
        QTest::addRow("numbers, NULL first") << QString() << u"qty"_qs << Ids {3, 5, 2, 6, 1, 4};
        QTest::addRow("text with NULL and empty") << QString() << u"name"_qs << Ids {2, 6, 1, 4, 3, 5};
        QTest::addRow("NULL, numbers, then texts") << QString() << u"mixed"_qs << Ids {4, 2, 5, 1, 6, 3};
        QTest::addRow("two fields, blanks, ASC") << QString() << u" grp DESC ,code ASC "_qs << Ids {6, 2, 4, 3, 1, 5};
        QTest::addRow("bracketed name") << QString() << u"[code] DESC"_qs << Ids {4, 1, 5, 2, 3, 6};
        QTest::addRow("empty restores loaded order") << QString() << QString() << Ids {1, 2, 3, 4, 5, 6};
        QTest::addRow("unknown field") << QString() << u"nosuch"_qs << Ids();
        QTest::addRow("second field unknown") << QString() << u"code, nosuch DESC"_qs << Ids();
        QTest::addRow("empty item") << QString() << u"code,,id"_qs << Ids();
        // Texts sharing a long start; each copy holds ids 10k+1..10k+5: start||'b', start||'a',
        // start||'c', start, start||'B'. Enough copies for the radix passes tie and keep their order.
        const auto shared = [](int bytes, int copies) {
            return u"WITH RECURSIVE c(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM c WHERE k < %1), v(n, s) AS "
                   "(VALUES (1, 'b'), (2, 'a'), (3, 'c'), (4, ''), (5, 'B')) SELECT 10 * k + n AS id, "
                   "hex(zeroblob(%2)) || s AS t FROM c, v ORDER BY k, n"_qs.arg(copies - 1)
                           .arg(bytes / 2);
        };
        QTest::addRow("4 MiB shared, ascending") << shared(4 << 20, 1) << u"t"_qs << Ids {4, 2, 1, 5, 3};
        QTest::addRow("4 MiB shared, descending") << shared(4 << 20, 1) << u"t DESC"_qs << Ids {3, 1, 5, 2, 4};
        QTest::addRow("64 KiB shared x 60")
                << shared(64 << 10, 60) << u"t, id"_qs << Ids {4, 14, 24, 34, 44, 54, 64, 74, 84, 94};
    }
    void sortOrdersStablyOrThrowsAndKeepsOrder()
    {
        QFETCH(QString, source);
        QFETCH(QString, sort);
        QFETCH(Ids, order);
        if (!source.isEmpty())
            load(Loader::Sqlite, source);
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        m_model->setSort(u"id DESC"_qs);
        if (order.isEmpty()) {
            order = {6, 5, 4, 3, 2, 1};
            QCOMPARE(thrown([&] { m_model->setSort(sort); }).number, int(ControlError::InvalidSort));
            QCOMPARE(m_model->sort(), u"id DESC"_qs);
        } else {
            m_model->setSort(sort);
        }
        QCOMPARE(ids().mid(0, order.size()), order);
        QCOMPARE(reset.count(), 0);
        // A result a worker sorted for another sort ("id DESC"; none for "code") takes the sort in force.
        const QString onWorker = sort == u"code" ? QString() : u"id DESC"_qs;
        const QString inForce = m_model->sort();
        ColumnStore result = store(Loader::Sqlite, source.isEmpty() ? Items : source);
        std::vector<int> sorted = sortedOrder(result, onWorker);
        m_model->replace(std::move(result), std::move(sorted), onWorker);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(ids().mid(0, order.size()), order);
        QCOMPARE(m_model->sort(), inForce);
    }

    void radixSortAgreesWithStableSort()
    {
        // Enough rows for radix passes, also within the ties of a first key: long shared prefixes, ASCII
        // case variants, NULLs, mixed types, integers beyond 2^53, small integers of either sign. Each
        // field takes other digits of a fixed pseudo-random v.
        load(Loader::Sqlite,
             u"WITH RECURSIVE s(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM s WHERE x < 1999), "
             "h(v) AS (SELECT (x * 1103515245 + 12345) % 2147483647 FROM s) "
             "SELECT v % 3 AS g, CASE v / 3 % 9 WHEN 0 THEN NULL ELSE v / 27 % 7 - 3 END AS p, "
             "'Station pump housing ' || substr('aAbB_', 1 + v / 189 % 5, 1 + v / 945 % 3) || (v / 2835 % 5) AS t, "
             "CASE v / 14175 % 5 WHEN 0 THEN NULL WHEN 1 THEN v / 70875 % 19 - 9 "
             "  WHEN 2 THEN (v / 70875 % 199 - 99) / 7.0 WHEN 3 THEN 9007199254740993 + v / 70875 % 5 - 2 "
             "  ELSE 'x' || (v / 70875 % 5 - 2) END AS n FROM h"_qs);
        // The documented order, one pair of cells at a time.
        const auto compare = [](const QVariant &a, const QVariant &b) {
            auto rank = [](const QVariant &v) { return !v.isValid() ? 0 : (v.typeId() == QMetaType::QString ? 2 : 1); };
            auto threeWay = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
            if (rank(a) != rank(b) || rank(a) == 0)
                return rank(a) - rank(b);
            if (a.typeId() == QMetaType::LongLong && b.typeId() == QMetaType::LongLong)
                return threeWay(a.toLongLong(), b.toLongLong());
            if (rank(a) == 1)
                return threeWay(a.toDouble(), b.toDouble());
            return threeWay(a.toString().toUtf8().toLower(), b.toString().toUtf8().toLower());
        };
        for (const QString &sort : {u"t DESC"_qs, u"g, t DESC, n"_qs, u"p DESC, g, n DESC"_qs}) {
            m_model->setSort(QString()); // rows in loaded order: row = bookmark
            QList<QPair<int, bool>> keys; // field, descending
            for (const QString &part : sort.split(u',')) {
                const QStringList words = part.split(u' ', Qt::SkipEmptyParts);
                keys.append({m_model->fieldIndex(words.first()), words.size() > 1});
            }
            QList<int> expected(m_model->rowCount()), actual;
            std::iota(expected.begin(), expected.end(), 0);
            std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
                for (const auto &[field, descending] : keys) {
                    if (const int c = compare(m_model->value(a, field), m_model->value(b, field)))
                        return descending ? c > 0 : c < 0;
                }
                return false;
            });
            m_model->setSort(sort);
            for (int row = 0; row < m_model->rowCount(); ++row)
                actual << m_model->bookmark(row);
            QCOMPARE(actual, expected);
        }
    }

    void sortKeepsBookmarksAndPersistentIndexes()
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

    void failedLoadKeepsRowsUntilTheNextLoad_data()
    {
        // An all-digit SQLSTATE is a number, as the driver's native code always is.
        QTest::addColumn<Loader>("loader");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        const QString noSuch = u"SELECT * FROM nosuch"_qs;
        const int failure = ControlError::DatabaseFailure;
        const QString copy = u"A COPY statement"_qs;
        QTest::addRow("sqlite handle") << Loader::Sqlite << noSuch << 1 << u"no such table: nosuch"_qs;
        QTest::addRow("QSqlQuery") << Loader::Generic << noSuch << 1 << u"no such table: nosuch"_qs;
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
    void failedLoadKeepsRowsUntilTheNextLoad()
    {
        QFETCH(Loader, loader);
        QFETCH(QString, sql);
        QFETCH(int, number);
        QFETCH(QString, description);
        if (loader == Loader::Postgres)
            REQUIRE_POSTGRES();
        m_model->setSort(u"code"_qs);
        QSignalSpy aboutToReset(m_model.get(), &QAbstractItemModel::modelAboutToBeReset);
        const ControlError e = thrown([&] { load(loader, sql); });
        QCOMPARE(e.number, number);
        QVERIFY2(e.description.startsWith(description), qPrintable(e.description));
        QCOMPARE(aboutToReset.count(), 0);
        QCOMPARE(ids(), Ids({6, 2, 3, 1, 5, 4}));
        QCOMPARE(m_model->sort(), u"code"_qs);

        // The connection stays usable. An empty result keeps its field names.
        load(loader, u"SELECT 'y' AS AssetCode WHERE false"_qs);
        QCOMPARE(aboutToReset.count(), 1);
        QCOMPARE(m_model->rowCount(), 0);
        QCOMPARE(m_model->fieldIndex(u"ASSETCODE"_qs), 0);
        QCOMPARE(m_model->sort(), QString());
        m_model->setSort(u"AssetCode DESC"_qs);
    }

    void valuesAreBoundNeverWritten_data() { TestSupport::addBackendRows(); }
    void valuesAreBoundNeverWritten()
    {
        QFETCH(QString, backend);
        const Loader loader = backend == u"sqlite" ? Loader::Sqlite : Loader::Postgres;
        if (loader == Loader::Postgres) {
            REQUIRE_POSTGRES();
            QSqlQuery query(postgres()); // the values go as UTF-8 whatever the connection was last told
            QVERIFY_SQL(query, exec(u"SET client_encoding TO 'LATIN1'"_qs));
        }
        const QString sql = loader == Loader::Sqlite ? u"SELECT ?1 AS t, ?2 + 1 AS n, length(?1) AS l"_qs
                                                     : u"SELECT $1::text AS t, $2 + 1 AS n, length($1::text) AS l"_qs;
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

    void postgresLoadsTypes_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<int>("type"); // of value(); UnknownType for NULL
        QTest::addColumn<QString>("text");
        const int integer = QMetaType::LongLong, real = QMetaType::Double, text = QMetaType::QString;
        QTest::addRow("int8") << u"(-9223372036854775807 - 1)::int8"_qs << integer << u"-9223372036854775808"_qs;
        QTest::addRow("oid beyond int4") << u"4000000000::oid"_qs << integer << u"4000000000"_qs;
        QTest::addRow("float8") << u"(-2.5e-10)::float8"_qs << real << u"-2.5e-10"_qs;
        QTest::addRow("numeric, 15 digits") << u"123456789.012345::numeric"_qs << real << u"123456789.012345"_qs;
        QTest::addRow("numeric, 16 digits") << u"1234567890.123456::numeric"_qs << text << u"1234567890.123456"_qs;
        QTest::addRow("bool") << u"1 < 2"_qs << text << u"true"_qs;
        QTest::addRow("timestamp(0)") << u"'2024-03-05 07:08:09.6'::timestamp(0)"_qs << text
                                      << u"2024-03-05 07:08:10"_qs;
        QTest::addRow("non-ASCII text") << u"'Älter Größe 日本'::text"_qs << text << u"Älter Größe 日本"_qs;
        QTest::addRow("empty text") << u"''::text"_qs << text << QString();
        QTest::addRow("NULL") << u"NULL::int4"_qs << int(QMetaType::UnknownType) << QString();
    }
    void postgresLoadsTypes()
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

    void postgresMatchesGenericPathOnWorkOrders()
    {
        REQUIRE_POSTGRES();
        const QString sql = u"SELECT * FROM vw_QX_WorkOrdersGrid ORDER BY WO_Nbr"_qs;
        QSqlQuery query(postgres());
        query.setForwardOnly(true);
        QVERIFY_SQL(query, exec(sql));
        const auto cells = [](ColumnStore store) { // "name type text" of every cell, field by field
            QStringList result;
            Recordset rows;
            rows.replace(std::move(store));
            for (int field = 0; field < rows.fieldCount(); ++field) {
                for (int row = 0; row < rows.rowCount(); ++row)
                    result << u"%1 %2 %3"_qs.arg(rows.fieldName(field))
                                      .arg(rows.value(row, field).typeId())
                                      .arg(rows.text(row, field));
            }
            return result;
        };
        const QStringList generic = cells(loadQuery(query)); // before the fast path takes the connection
        QCOMPARE(generic.size(), 1500 * 13);
        QCOMPARE(cells(store(Loader::Postgres, sql)), generic);
    }

    void mergePlacesRowsAndAnnouncesOnlyThem_data()
    {
        QTest::addColumn<QString>("sort");
        QTest::addColumn<QString>("changed"); // rows (id, 'code'), or "key field:statement"

        QTest::addColumn<Ids>("keys");
        QTest::addColumn<Ids>("order"); // empty: refused
        QTest::addColumn<QStringList>("announced");
        const auto row = [](const char *name, const char *sort, const char *changed, const Ids &keys, const Ids &order,
                            const QStringList &announced) {
            QTest::newRow(name) << QString::fromLatin1(sort) << QString::fromLatin1(changed) << keys << order
                                << announced;
        };
        // Loaded newest first: 6 _z, 5 b, 4 C, 3 a, 2 A, 1 b. By code: 6, 3, 2, 5, 1, 4.
        row("insert among equals, newest first", "code", "(7, 'b')", {7}, {6, 3, 2, 7, 5, 1, 4}, {u"inserted 3"_qs});
        row("insert at the end", "code", "(0, 'z')", {0}, {6, 3, 2, 5, 1, 4, 0}, {u"inserted 6"_qs});
        row("update keeping its place", "code", "(2, 'a')", {2}, {6, 3, 2, 5, 1, 4}, {u"changed 2"_qs});
        row("update moving down", "code", "(6, 'd')", {6}, {3, 2, 5, 1, 4, 6}, {u"moved 0 to 5"_qs, u"changed 5"_qs});
        row("update moving up", "code", "(4, '0')", {4}, {4, 6, 3, 2, 5, 1}, {u"moved 5 to 0"_qs, u"changed 0"_qs});
        row("remove", "code", "", {5}, {6, 3, 2, 1, 4}, {u"removed 3"_qs});
        row("remove, update and insert at once", "code", "(7, 'a'), (6, 'zz')", {7, 6, 1}, {7, 3, 2, 5, 4, 6},
            {u"removed 4"_qs, u"moved 0 to 4"_qs, u"changed 4"_qs, u"inserted 0"_qs});
        row("key not there", "code", "", {9}, {6, 3, 2, 5, 1, 4}, {});
        row("changed row of a key not named", "code", "(8, 'b')", {9}, {6, 3, 2, 5, 1, 4}, {});
        row("two rows for one key", "code", "(7, 'a'), (7, 'zz')", {7}, {6, 7, 3, 2, 5, 1, 4, 7},
            {u"inserted 1"_qs, u"inserted 7"_qs});
        // Without a sort the rows keep the record source's order.
        row("insert, no sort", "", "(7, 'b')", {7}, {7, 6, 5, 4, 3, 2, 1}, {u"inserted 0"_qs});
        row("insert of an old key, no sort", "", "(0, 'b')", {0}, {6, 5, 4, 3, 2, 1, 0}, {u"inserted 6"_qs});
        row("update, no sort", "", "(3, 'zz')", {3}, {6, 5, 4, 3, 2, 1}, {u"changed 3"_qs});
        row("remove, no sort", "", "", {6}, {5, 4, 3, 2, 1}, {u"removed 0"_qs});
        // Rows of another shape are refused, and nothing changes.
        row("no such key field", "code", "nosuch:SELECT id, code, qty, name, grp, mixed FROM items", {1, 7}, {}, {});
        row("other fields", "code", "ID:SELECT id, code FROM items", {1, 7}, {}, {});
        row("fields in another order", "code", "ID:SELECT code, id, qty, name, grp, mixed FROM items", {1, 7}, {}, {});
    }
    void mergePlacesRowsAndAnnouncesOnlyThem()
    {
        QFETCH(QString, sort);
        QFETCH(QString, changed);
        QFETCH(Ids, keys);
        QFETCH(Ids, order);
        QFETCH(QStringList, announced);
        load(Loader::Sqlite, ItemsNewestFirst);
        m_model->setBaseOrder(u"id DESC"_qs);
        m_model->setSort(sort);
        // Every row's record: a persistent index on it, and its bookmark.
        QList<std::tuple<qint64, int, QPersistentModelIndex>> watched;
        for (int row = 0; row < m_model->rowCount(); ++row)
            watched.append({m_model->value(row, 0).toLongLong(), m_model->bookmark(row), m_model->index(row, 3)});
        const QStringList *log = recordSignals();
        if (order.isEmpty()) {
            order = ids();
            const ColumnStore rows = store(Loader::Sqlite, changed.section(u':', 1));
            const auto merge = [&] { m_model->merge(changed.section(u':', 0, 0), rows, keys); };
            QCOMPARE(thrown(merge).number, int(ControlError::DatabaseFailure));
            keys.clear();
        } else {
            m_model->merge(u"ID"_qs, changedRows(changed), keys);
        }
        QCOMPARE(ids(), order);
        QCOMPARE(*log, announced);
        for (const auto &[id, bookmark, index] : std::as_const(watched)) {
            if (!order.contains(id)) { // removed: the index goes, the bookmark is dead
                QVERIFY(!index.isValid());
                QCOMPARE(m_model->rowOfBookmark(bookmark), -1);
                continue;
            }
            QCOMPARE(m_model->value(index.row(), 0).toLongLong(), id);
            QCOMPARE(m_model->bookmark(index.row()), bookmark);
            QCOMPARE(m_model->text(index.row(), 3) == u"merged"_qs, keys.contains(id));
        }
        // The rows stand where a sort of the whole result would put them.
        m_model->setSort(sort.isEmpty() ? u"code"_qs : QString());
        m_model->setSort(sort);
        QCOMPARE(ids(), order);
    }

    void rowLimitKeepsTheRowsDeliveredFirst()
    {
        load(Loader::Sqlite, ItemsNewestFirst);
        m_model->setBaseOrder(u"id DESC"_qs);
        m_model->setSort(u"code"_qs);
        const QStringList *log = recordSignals();
        m_model->setRowLimit(4); // the four newest, whatever the sort
        QCOMPARE(ids(), Ids({6, 3, 5, 4}));
        // A new row pushes the oldest one out; a row older than all stays out.
        m_model->merge(u"id"_qs, changedRows(u"(7, 'b')"_qs), {7});
        QCOMPARE(ids(), Ids({6, 7, 5, 4}));
        m_model->merge(u"id"_qs, changedRows(u"(0, 'a')"_qs), {0});
        QCOMPARE(ids(), Ids({6, 7, 5, 4}));
        QCOMPARE(*log, (QStringList {u"reset"_qs, u"removed 1"_qs, u"inserted 1"_qs}));
        m_model->setSort(QString());
        QCOMPARE(ids(), Ids({7, 6, 5, 4}));
        m_model->setSort(u"code"_qs);
        load(Loader::Sqlite, Items); // a load keeps the first four it reads
        QCOMPARE(ids(), Ids({2, 3, 1, 4}));
    }

private:
    QString sqliteConnection() const
    {
        return ConnectionString::build({u"sqlite:"_qs + m_dir.filePath(u"items.db"_qs), {}, {}, {}});
    }
    /// The driver's own connection handle (the QVariant holding it must outlive the read).
    template<typename Handle>
    static Handle handleOf(const QSqlDatabase &db)
    {
        const QVariant handle = db.driver()->handle();
        return *static_cast<const Handle *>(handle.constData());
    }
    ColumnStore store(Loader loader, const Statement &statement, int rowLimit = NoRowLimit)
    {
        if (loader == Loader::Sqlite)
            return loadSqlite(handleOf<sqlite3 *>(m_sqlite->database()), statement, rowLimit);
        if (loader == Loader::Postgres)
            return loadPostgres(handleOf<PGconn *>(postgres()), statement, rowLimit);
        QSqlQuery query(m_sqlite->database());
        query.setForwardOnly(true);
        query.exec(statement.sql);
        return loadQuery(query, rowLimit);
    }
    void load(Loader loader, const Statement &statement) { m_model->replace(store(loader, statement)); }
    /// Rows like those of Items, one per "(id, 'code')" in values (none when empty), named "merged".
    ColumnStore changedRows(const QString &values)
    {
        return store(Loader::Sqlite,
                     values.isEmpty() ? u"SELECT id, code, qty, name, grp, mixed FROM items WHERE 0"_qs
                                      : u"SELECT column1 AS id, column2 AS code, 1 AS qty, 'merged' AS name, 'x' AS "
                                        "grp, NULL AS mixed FROM (VALUES %1)"_qs.arg(values));
    }
    /// Describes each change the model announces, as "inserted 3", "moved 0 to 5" (the row it
    /// ends on), "removed 4-5", "changed 2", "reset", "layout".
    QStringList *recordSignals()
    {
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
        connect(model, &QAbstractItemModel::dataChanged, this, [=](const QModelIndex &from, const QModelIndex &to) {
            QCOMPARE(from.column(), 0);
            QCOMPARE(to.column(), model->columnCount() - 1);
            m_signals << u"changed "_qs + rows(from.row(), to.row());
        });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { m_signals << u"reset"_qs; });
        connect(model, &QAbstractItemModel::layoutChanged, this, [this] { m_signals << u"layout"_qs; });
        m_signals.clear();
        return &m_signals;
    }
    Ids ids() const
    {
        Ids result;
        for (int row = 0; row < m_model->rowCount(); ++row)
            result << m_model->value(row, 0).toLongLong();
        return result;
    }
    /// The PostgreSQL test database (the demo plant), made on first use.
    QSqlDatabase postgres()
    {
        if (!m_postgres) {
            const DemoData::Options demoPlant;
            m_pgName = TestSupport::PgServer::createDatabase(u"tst_recordset"_qs, &demoPlant);
            m_postgres = std::make_unique<Database>(
                    ConnectionString::build({TestSupport::PgServer::serverName(), m_pgName,
                                             TestSupport::PgServer::user(), TestSupport::PgServer::password()}));
            m_postgres->open();
        }
        return m_postgres->database();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_sqlite, m_postgres;
    QString m_pgName;
    std::unique_ptr<Recordset> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QStringList m_signals;
};

QTEST_GUILESS_MAIN(tst_Recordset)
#include "tst_recordset.moc"
