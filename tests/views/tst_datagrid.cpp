#include "testsupport.h"

#include "columnstore.h"
#include "connectionstring.h"
#include "controlerror.h"
#include "database.h"
#include "datagrid.h"
#include "datasource.h"
#include "recordset.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QItemSelectionModel>
#include <QTemporaryDir>

using namespace Orvantel;

namespace {

/// Linked documents, delivered newest first.
const QString Documents = u"SELECT id, kind, title, file, asset FROM docs ORDER BY id DESC"_qs;

/// Columns out of the result's order, one on a field the result lacks, and a button
/// column; the result's "title" is shown by none.
std::vector<ColumnDesign> mixedColumns()
{
    return {
            {u"File"_qs, u"file"_qs, 1500}, {u"Id"_qs, u"ID"_qs, 600},         {u"Notes"_qs, u"notes"_qs, 1500},
            {u"Kind"_qs, u"kind"_qs, 1200}, {u"..."_qs, QString(), 600, true},
    };
}

/// Every field shown, backwards, and a button column.
std::vector<ColumnDesign> everyFieldColumns()
{
    return {
            {u"Asset"_qs, u"asset"_qs, 900}, {u"File"_qs, u"file"_qs, 1500}, {u"Title"_qs, u"title"_qs, 1500},
            {u"Kind"_qs, u"kind"_qs, 1200},  {u"Id"_qs, u"id"_qs, 600},      {u"..."_qs, QString(), 600, true},
    };
}

/// What each cell shows, "-" for a cell that answers no text at all.
QList<QStringList> shownTexts(const QAbstractItemModel *model)
{
    QList<QStringList> rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column) {
            const QVariant text = model->index(row, column).data();
            cells << (text.isValid() ? text.toString() : u"-"_qs);
        }
        rows << cells;
    }
    return rows;
}

} // namespace

/// The grid's column model over a real recordset, under QAbstractItemModelTester (as is
/// the recordset) while columns change, sorts apply, refreshes run and rows merge.
class DataGridTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void columnsMapOntoFieldsOutOfOrder();
    void rowsKeepTheirRecordsThroughSortsAndMerges_data();
    void rowsKeepTheirRecordsThroughSortsAndMerges();
    void oneStyleRequestPerPaintedCell();

private:
    QList<qint64> shownIds() const;
    /// The error of a refresh of the grid's data source; empty when it worked.
    QString refresh();
    /// Changes the file, then reads the documents of ids back and merges them, as a
    /// change notification does; returns the error, empty when it worked.
    QString changeAndMerge(const QString &sql, const QList<qint64> &ids);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    std::unique_ptr<DataSource> m_source;
    std::unique_ptr<DataGrid> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_gridTester;
    std::unique_ptr<QAbstractItemModelTester> m_recordsetTester;
};

void DataGridTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_path = m_dir->filePath(u"docs.db"_qs);
    TestSupport::execSqlite(m_path,
                            {u"CREATE TABLE docs (id INTEGER, kind TEXT, title TEXT, file TEXT, asset TEXT)"_qs,
                             u"INSERT INTO docs VALUES (1, 'Photo', 'Pump front', 'a1.png', 'A1'), "
                             "(2, 'Manual', 'Conveyor manual', 'c1.pdf', 'C1'), "
                             "(3, 'Photo', 'Boiler side', 'b1.png', 'B1'), "
                             "(4, 'Drawing', 'Pump section', 'a1.dwg', 'A1')"_qs});
    m_source = std::make_unique<DataSource>();
    m_source->setConnectionString(ConnectionString::build({u"sqlite:"_qs + m_path, {}, {}, {}}));
    m_source->setRecordSource(Documents, u"id DESC"_qs);
    m_grid = std::make_unique<DataGrid>();
    m_grid->resize(600, 300);
    m_grid->setColumns(mixedColumns());
    m_grid->setDataSource(m_source.get());
    const auto mode = QAbstractItemModelTester::FailureReportingMode::QtTest;
    m_gridTester = std::make_unique<QAbstractItemModelTester>(m_grid->model(), mode);
    m_recordsetTester = std::make_unique<QAbstractItemModelTester>(m_source->recordset(), mode);
    QCOMPARE(refresh(), QString());
}

void DataGridTest::cleanup()
{
    m_gridTester.reset();
    m_recordsetTester.reset();
    m_grid.reset();
    m_source.reset();
    m_dir.reset();
}

QList<qint64> DataGridTest::shownIds() const
{
    const Recordset *rs = m_grid->recordset();
    QList<qint64> ids;
    for (int row = 0; row < m_grid->rowCount(); ++row)
        ids << rs->value(row, rs->fieldIndex(u"id"_qs)).toLongLong();
    return ids;
}

QString DataGridTest::refresh()
{
    try {
        m_source->refresh();
    } catch (const ControlError &e) {
        return e.messageText();
    }
    return QString();
}

QString DataGridTest::changeAndMerge(const QString &sql, const QList<qint64> &ids)
{
    TestSupport::execSqlite(m_path, {sql});
    QStringList placeholders;
    QVariantList values;
    for (const qint64 id : ids) {
        placeholders << u"?"_qs;
        values << id;
    }
    try {
        Database database(m_source->connectionString());
        const ColumnStore changed = database.load(Statement(
                u"SELECT id, kind, title, file, asset FROM docs WHERE id IN (%1)"_qs.arg(placeholders.join(u", "_qs)),
                values));
        m_source->recordset()->merge(u"id"_qs, changed, ids);
    } catch (const ControlError &e) {
        return e.messageText();
    }
    return QString();
}

void DataGridTest::columnsMapOntoFieldsOutOfOrder()
{
    QAbstractItemModel *model = m_grid->model();
    QCOMPARE(shownTexts(model),
             (QList<QStringList> {
                     {u"a1.dwg"_qs, u"4"_qs, u"-"_qs, u"Drawing"_qs, u"-"_qs},
                     {u"b1.png"_qs, u"3"_qs, u"-"_qs, u"Photo"_qs, u"-"_qs},
                     {u"c1.pdf"_qs, u"2"_qs, u"-"_qs, u"Manual"_qs, u"-"_qs},
                     {u"a1.png"_qs, u"1"_qs, u"-"_qs, u"Photo"_qs, u"-"_qs},
             }));
    QStringList captions;
    for (int column = 0; column < model->columnCount(); ++column)
        captions << model->headerData(column, Qt::Horizontal).toString();
    QCOMPARE(captions, (QStringList {u"File"_qs, u"Id"_qs, u"Notes"_qs, u"Kind"_qs, u"..."_qs}));
    QCOMPARE(model->index(0, 1).data(Qt::EditRole), QVariant(qint64(4)));
    QCOMPARE(model->index(2, 1).data(Recordset::BookmarkRole), QVariant(2));
    // Unbound columns show nothing of the field they stand on.
    for (const int unbound : {2, 4}) {
        const QModelIndex cell = model->index(1, unbound);
        QCOMPARE(model->itemData(cell), (QMap<int, QVariant>()));
        QVERIFY(!cell.data(Qt::ToolTipRole).isValid());
        QCOMPARE(m_grid->fieldOfColumn(unbound), -1);
    }

    // Another set of columns, then a refresh with a row more.
    m_grid->setColumns(everyFieldColumns());
    QCOMPARE(shownTexts(model).first(),
             (QStringList {u"A1"_qs, u"a1.dwg"_qs, u"Pump section"_qs, u"Drawing"_qs, u"4"_qs, u"-"_qs}));
    TestSupport::execSqlite(m_path, {u"INSERT INTO docs VALUES (5, 'Manual', 'Valve manual', 'v1.pdf', 'B1')"_qs});
    QCOMPARE(refresh(), QString());
    QCOMPARE(shownTexts(model).first(),
             (QStringList {u"B1"_qs, u"v1.pdf"_qs, u"Valve manual"_qs, u"Manual"_qs, u"5"_qs, u"-"_qs}));
    QCOMPARE(model->rowCount(), 5);
}

void DataGridTest::rowsKeepTheirRecordsThroughSortsAndMerges_data()
{
    QTest::addColumn<bool>("everyField");
    QTest::addColumn<int>("button");
    QTest::addRow("a field to spare for the button column") << false << 4;
    QTest::addRow("every field shown") << true << 5;
}

void DataGridTest::rowsKeepTheirRecordsThroughSortsAndMerges()
{
    QFETCH(bool, everyField);
    QFETCH(int, button);
    if (everyField)
        m_grid->setColumns(everyFieldColumns());
    QAbstractItemModel *model = m_grid->model();
    m_grid->setCurrentRowIndex(1); // document 3
    const QPersistentModelIndex buttonCell(model->index(1, button));
    // Where document 3 is now: current, selected, the button cell's index with it.
    const auto followsDocument3 = [&](int row) {
        QCOMPARE(m_grid->currentRowIndex(), row);
        QCOMPARE(m_grid->selectionModel()->selection().size(), 1);
        QCOMPARE(m_grid->selectionModel()->selection().first().top(), row);
        QCOMPARE(m_grid->selectionModel()->selection().first().bottom(), row);
        QCOMPARE(buttonCell.row(), row);
    };

    m_source->recordset()->setSort(u"kind"_qs);
    QCOMPARE(shownIds(), (QList<qint64> {4, 2, 3, 1}));
    followsDocument3(2);
    if (QTest::currentTestFailed())
        return;
    // With a field to spare the button cell comes back in its own column.
    if (!everyField)
        QCOMPARE(buttonCell.column(), button);

    QCOMPARE(changeAndMerge(u"INSERT INTO docs VALUES (5, 'Manual', 'Valve manual', 'v1.pdf', 'B1')"_qs, {5}),
             QString());
    QCOMPARE(shownIds(), (QList<qint64> {4, 5, 2, 3, 1}));
    followsDocument3(3);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(changeAndMerge(u"UPDATE docs SET kind = 'Photo' WHERE id = 4"_qs, {4}), QString());
    QCOMPARE(shownIds(), (QList<qint64> {5, 2, 4, 3, 1}));
    QCOMPARE(model->index(2, 3).data().toString(), u"Photo"_qs); // "Kind" in both sets of columns
    followsDocument3(3);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(changeAndMerge(u"DELETE FROM docs WHERE id = 1"_qs, {1}), QString());
    QCOMPARE(shownIds(), (QList<qint64> {5, 2, 4, 3}));
    followsDocument3(3);
}

void DataGridTest::oneStyleRequestPerPaintedCell()
{
    constexpr int Kind = 3;
    m_grid->column(Kind)->setFetchStyle(true);
    QMap<QPair<int, int>, int> requests; // (bookmark, column) -> requests
    connect(m_grid.get(), &DataGrid::FetchCellStyle, this, [&](int bookmark, int column, CellStyle *style) {
        ++requests[qMakePair(bookmark, column)];
        if (bookmark == 1)
            style->background = QColor(255, 0, 0);
    });
    m_grid->setCurrentRowIndex(1); // the coloured cell on the selected row, drawn framed
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    QCoreApplication::processEvents();

    requests.clear();
    m_grid->viewport()->grab();
    QCOMPARE(requests, (QMap<QPair<int, int>, int> {{{0, Kind}, 1}, {{1, Kind}, 1}, {{2, Kind}, 1}, {{3, Kind}, 1}}));

    // Other users ask for either colour; a request for both works the style out once.
    requests.clear();
    const QModelIndex cell = m_grid->model()->index(1, Kind);
    QCOMPARE(m_grid->model()->itemData(cell).value(Qt::BackgroundRole).value<QColor>(), QColor(255, 0, 0));
    QCOMPARE(cell.data(Qt::BackgroundRole).value<QColor>(), QColor(255, 0, 0));
    QVERIFY(!cell.data(Qt::ForegroundRole).isValid());
    QCOMPARE(requests, (QMap<QPair<int, int>, int> {{{1, Kind}, 3}}));
}

QTEST_MAIN(DataGridTest)
#include "tst_datagrid.moc"
