#include "testsupport.h"

#include "columnstore.h"
#include "connectionstring.h"
#include "controlerror.h"
#include "database.h"
#include "datagrid.h"
#include "datasource.h"
#include "recordset.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QTemporaryDir>

using namespace Orvantel;

namespace {

const QString Documents = u"SELECT id, kind, title, file, asset FROM docs"_qs;

/// Columns out of the result's order, one on a field the result lacks ("notes"), and a button column; the
/// result's "title" is shown by none.
const std::vector<ColumnDesign> MixedColumns = {{u"File"_qs, u"file"_qs, 1500},
                                                {u"Id"_qs, u"ID"_qs, 600},
                                                {u"Notes"_qs, u"notes"_qs, 1500},
                                                {u"Kind"_qs, u"kind"_qs, 1200},
                                                {u"..."_qs, QString(), 600, true}};
/// Every field shown, backwards, and a button column.
const std::vector<ColumnDesign> EveryField
        = {{u"Asset"_qs, u"asset"_qs, 900}, {u"File"_qs, u"file"_qs, 1500}, {u"Title"_qs, u"title"_qs, 1500},
           {u"Kind"_qs, u"kind"_qs, 1200},  {u"Id"_qs, u"id"_qs, 600},      {u"..."_qs, QString(), 600, true}};

/// What each cell of a row shows, "-" for a cell that answers no text at all: "a1.dwg 4 - Drawing -".
QString shownRow(const QAbstractItemModel *model, int row)
{
    QStringList cells;
    for (int column = 0; column < model->columnCount(); ++column) {
        const QVariant text = model->index(row, column).data();
        cells << (text.isValid() ? text.toString() : u"-"_qs);
    }
    return cells.join(u' ');
}

/// Runs f; returns the error it reports, empty when it worked.
template<typename F>
QString errorOf(F &&f)
{
    try {
        f();
    } catch (const ControlError &e) {
        return e.messageText();
    }
    return QString();
}

} // namespace

/// The grid's column model over a real recordset, under QAbstractItemModelTester (as is the recordset) while
/// columns change, sorts apply, refreshes run and rows merge.
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
    /// The ids shown, top to bottom: "4 2 3 1".
    QString shownIds() const;
    /// Changes the file, then reads the documents of ids back and merges them, as a change notification does.
    QString changeAndMerge(const QString &sql, const QList<qint64> &ids);

    QTemporaryDir m_dir;
    QString m_path = m_dir.filePath(u"docs.db"_qs);
    std::unique_ptr<DataSource> m_source;
    std::unique_ptr<DataGrid> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_gridTester, m_recordsetTester;
};

void DataGridTest::init()
{
    QFile::remove(m_path);
    TestSupport::execSqlite(m_path,
                            {u"CREATE TABLE docs (id INTEGER, kind TEXT, title TEXT, file TEXT, asset TEXT)"_qs,
                             u"INSERT INTO docs VALUES (1, 'Photo', 'Pump front', 'a1.png', 'A1'), "
                             "(2, 'Manual', 'Conveyor manual', 'c1.pdf', 'C1'), "
                             "(3, 'Photo', 'Boiler side', 'b1.png', 'B1'), "
                             "(4, 'Drawing', 'Pump section', 'a1.dwg', 'A1')"_qs});
    m_source = std::make_unique<DataSource>();
    m_source->setConnectionString(ConnectionString::build({u"sqlite:"_qs + m_path, {}, {}, {}}));
    m_source->setRecordSource(Statement(Documents + u" ORDER BY id DESC"_qs), u"id DESC"_qs); // newest first
    m_grid = std::make_unique<DataGrid>();
    m_grid->resize(600, 300);
    m_grid->setColumns(MixedColumns);
    m_grid->setDataSource(m_source.get());
    const auto mode = QAbstractItemModelTester::FailureReportingMode::QtTest;
    m_gridTester = std::make_unique<QAbstractItemModelTester>(m_grid->model(), mode);
    m_recordsetTester = std::make_unique<QAbstractItemModelTester>(m_source->recordset(), mode);
    QCOMPARE(errorOf([this] { m_source->refresh(); }), QString());
}

void DataGridTest::cleanup()
{
    m_gridTester.reset();
    m_recordsetTester.reset();
    m_grid.reset();
    m_source.reset();
}

QString DataGridTest::shownIds() const
{
    const Recordset *rs = m_grid->recordset();
    QStringList ids;
    for (int row = 0; row < m_grid->rowCount(); ++row)
        ids << rs->value(row, rs->fieldIndex(u"id"_qs)).toString();
    return ids.join(u' ');
}

QString DataGridTest::changeAndMerge(const QString &sql, const QList<qint64> &ids)
{
    TestSupport::execSqlite(m_path, {sql});
    return errorOf([&] {
        QStringList placeholders;
        QVariantList values;
        for (const qint64 id : ids) {
            placeholders << u"?"_qs;
            values << id;
        }
        const ColumnStore changed
                = Database(m_source->connectionString())
                          .load(Statement(Documents + u" WHERE id IN (%1)"_qs.arg(placeholders.join(u", "_qs)),
                                          values));
        m_source->recordset()->merge(u"id"_qs, changed, ids);
    });
}

void DataGridTest::columnsMapOntoFieldsOutOfOrder()
{
    QAbstractItemModel *model = m_grid->model();
    QStringList rows, captions;
    for (int row = 0; row < model->rowCount(); ++row)
        rows << shownRow(model, row);
    for (int column = 0; column < model->columnCount(); ++column)
        captions << model->headerData(column, Qt::Horizontal).toString();
    QCOMPARE(rows.join(u", "_qs),
             u"a1.dwg 4 - Drawing -, b1.png 3 - Photo -, c1.pdf 2 - Manual -, a1.png 1 - Photo -"_qs);
    QCOMPARE(captions.join(u' '), u"File Id Notes Kind ..."_qs);
    QCOMPARE(model->index(0, 1).data(Qt::EditRole), QVariant(qint64(4)));
    QCOMPARE(model->index(2, 1).data(Recordset::BookmarkRole), QVariant(2));
    for (const int unbound : {2, 4}) { // unbound columns show nothing of the field they stand on
        QCOMPARE(model->itemData(model->index(1, unbound)), (QMap<int, QVariant>()));
        QVERIFY(!model->index(1, unbound).data(Qt::ToolTipRole).isValid());
        QCOMPARE(m_grid->fieldOfColumn(unbound), -1);
    }
    // Another set of columns, then a refresh with a row more.
    m_grid->setColumns(EveryField);
    QCOMPARE(shownRow(model, 0), u"A1 a1.dwg Pump section Drawing 4 -"_qs);
    TestSupport::execSqlite(m_path, {u"INSERT INTO docs VALUES (5, 'Manual', 'Valve manual', 'v1.pdf', 'B1')"_qs});
    QCOMPARE(errorOf([this] { m_source->refresh(); }), QString());
    QCOMPARE(shownRow(model, 0), u"B1 v1.pdf Valve manual Manual 5 -"_qs);
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
        m_grid->setColumns(EveryField);
    m_grid->setCurrentRowIndex(1); // document 3
    const QPersistentModelIndex buttonCell(m_grid->model()->index(1, button));
    // The ids shown, then where document 3 is: current, selected alone, the button cell's index with it.
    const auto state = [&] {
        const QItemSelection selection = m_grid->selectionModel()->selection();
        return u"%1 | %2 %3-%4 %5"_qs.arg(shownIds())
                .arg(m_grid->currentRowIndex())
                .arg(selection.size() == 1 ? selection.first().top() : -1)
                .arg(selection.size() == 1 ? selection.first().bottom() : -1)
                .arg(buttonCell.row());
    };
    m_source->recordset()->setSort(u"kind"_qs);
    QCOMPARE(state(), u"4 2 3 1 | 2 2-2 2"_qs);
    if (!everyField) // with a field to spare the button cell comes back in its own column
        QCOMPARE(buttonCell.column(), button);
    QCOMPARE(changeAndMerge(u"INSERT INTO docs VALUES (5, 'Manual', 'Valve manual', 'v1.pdf', 'B1')"_qs, {5}),
             QString());
    QCOMPARE(state(), u"4 5 2 3 1 | 3 3-3 3"_qs);
    QCOMPARE(changeAndMerge(u"UPDATE docs SET kind = 'Photo' WHERE id = 4"_qs, {4}), QString());
    QCOMPARE(state(), u"5 2 4 3 1 | 3 3-3 3"_qs);
    QCOMPARE(m_grid->model()->index(2, 3).data().toString(), u"Photo"_qs); // "Kind" in both sets of columns
    QCOMPARE(changeAndMerge(u"DELETE FROM docs WHERE id = 1"_qs, {1}), QString());
    QCOMPARE(state(), u"5 2 4 3 | 3 3-3 3"_qs);
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
