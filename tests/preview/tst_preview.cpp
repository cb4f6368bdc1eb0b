#include "testsupport.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "about.h"
#include "datagrid.h"
#include "form1.h"
#include "gridcolumns.h"
#include "previewaddress.h"
#include "viewselection.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// Linked-file rows, in the order the grid shows them.
const QStringList FileNames
        = {u"a1.png"_qs,   u"P-101 nameplate.jpg"_qs, u"pump #2 page.html"_qs, u"../secret.txt"_qs, QString(),
           u"drawings/"_qs};

} // namespace

/// The linked-file preview (address, window, the grid's button and double-click) and the About box.
class PreviewTest : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    /// Stands in for the desktop's web browser (never started by a test).
    void openedInBrowser(const QUrl &url) { m_inBrowser << url; }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void addressInsideTheBaseFolder_data();
    void addressInsideTheBaseFolder();
    void windowKeepsTheBrowserMargin();
    void aboutTextLines();
    void buttonAndDoubleClickOpenTheCurrentRowsFile_data();
    void buttonAndDoubleClickOpenTheCurrentRowsFile();
    void aboutBoxShowsTheSettingsOfTheMoment();
    void browserShowsTheServedPage();
    void browserStaysInsideTheFolder_data();
    void browserStaysInsideTheFolder();

private:
    void makeGrid();

    std::unique_ptr<QTemporaryDir> m_dir;
    HostedControl m_control;
    WorkOrdersGrid *m_grid = nullptr;
    WorkOrdersGridPrivate *d = nullptr;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    QList<QUrl> m_inBrowser;
};

void PreviewTest::initTestCase()
{
    for (const QString &scheme : {u"http"_qs, u"https"_qs})
        QDesktopServices::setUrlHandler(scheme, this, "openedInBrowser");
}

void PreviewTest::cleanupTestCase()
{
    for (const QString &scheme : {u"http"_qs, u"https"_qs})
        QDesktopServices::unsetUrlHandler(scheme);
}

void PreviewTest::init()
{
    QLocale::setDefault(QLocale::c());
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_inBrowser.clear();
}

void PreviewTest::cleanup()
{
    m_control.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_dir.reset();
}

/// A control on a plant whose linked files are FileNames, showing them.
void PreviewTest::makeGrid()
{
    const QString plant = createSqliteDatabase(m_dir->path(), u"plant.db"_qs, {20, 0});
    QStringList rows;
    for (int i = 0; i < FileNames.size(); ++i)
        rows << u"(%1, 'P-101', 'Photo', 'File %1', '%2')"_qs.arg(i + 1).arg(FileNames.at(i));
    execSqlite(plant,
               {u"INSERT INTO GS_LinkedFiles (FileID, AssetCode, DocType, DocDescr, FileName) VALUES "_qs
                + rows.join(u", "_qs)});
    writeSettings(m_dir->path(), "DBServerName=sqlite:plant.db\nDBDatabaseName=Maintenance\nRefreshInterval=0\n");
    m_control.show(); // start-up reads the settings and connects
    m_grid = m_control.grid;
    d = m_control.d;
    QTest::mouseClick(d->optView[LinkedFilesView], Qt::LeftButton);
    QCOMPARE(d->TDBGrid1->rowCount(), FileNames.size());
}

void PreviewTest::addressInsideTheBaseFolder_data()
{
    QTest::addColumn<QUrl>("base");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("expected"); // empty: refused

    const QUrl base(u"http://127.0.0.1:8089/Orvantel/ItemImages/"_qs);
    const QByteArray b = base.toEncoded();
    QTest::addRow("blanks") << base << "P-101 GA drawing.png" << b + "P-101%20GA%20drawing.png";
    QTest::addRow("hash would start a fragment") << base << "pump #2.jpg" << b + "pump%20%232.jpg";
    QTest::addRow("question mark would start a query") << base << "why?.txt" << b + "why%3F.txt";
    QTest::addRow("percent is not an escape") << base << "100%41.pdf" << b + "100%2541.pdf";
    QTest::addRow("non-ASCII as UTF-8") << base << QStringLiteral("Größe.pdf") << b + "Gr%C3%B6%C3%9Fe.pdf";
    QTest::addRow("sub-folder kept") << base << "drawings/P-101.pdf" << b + "drawings/P-101.pdf";
    QTest::addRow("dots inside a name") << base << "a..b.png" << b + "a..b.png";
    QTest::addRow("base without slash") << QUrl(u"http://localhost/Orvantel/ItemImages"_qs) << "a.png"
                                        << QByteArray("http://localhost/Orvantel/ItemImages/a.png");
    QTest::addRow("parent folder") << base << "../secret.txt" << QByteArray();
    QTest::addRow("parent after a folder") << base << "a/../../b.txt" << QByteArray();
    QTest::addRow("parent through backslashes") << base << "..\\..\\b.txt" << QByteArray();
}

void PreviewTest::addressInsideTheBaseFolder()
{
    QFETCH(QUrl, base);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, expected);
    QCOMPARE(leavesBaseFolder(fileName), expected.isEmpty());
    const QUrl address = previewAddress(base, fileName);
    QCOMPARE(address.isValid() ? address.toEncoded() : QByteArray(), expected);
}

void PreviewTest::windowKeepsTheBrowserMargin()
{
    // Each extent of the browser is the window's less 100 twips, while the window's is above 100.
    QCOMPARE(previewBrowserExtent(100).value_or(-1), -1);
    QCOMPARE(previewBrowserExtent(101).value_or(-1), 1);
    QCOMPARE(previewBrowserExtent(11115).value_or(-1), 11015);

    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(741, 615)); // 11115 x 9225 twips
    QCOMPARE(form.WebBrowser1()->geometry(), QRect(0, 0, 734, 608));
    form.resize(400, 300); // 6000 x 4500 twips: 5900 x 4400
    QTRY_COMPARE(form.WebBrowser1()->geometry(), QRect(0, 0, 393, 293));
    form.resize(6, 200); // 90 twips wide: the width stays
    QTRY_COMPARE(form.height(), 200);
    QCOMPARE(form.WebBrowser1()->geometry(), QRect(0, 0, 393, 193));
}

void PreviewTest::aboutTextLines()
{
    const QStringList head = {u"Orvantel Open Work Orders Control"_qs,
                              u"Copyright (c) 2026 Orvantel Maintenance Systems"_qs, QString()};
    // Lines end in CR LF; a bare line feed or a trailing line break would show in the split.
    QCOMPARE(aboutText(QString(), QString()).split(u"\r\n"_qs),
             head + QStringList({u"Orvantel Server:  "_qs, u"Orvantel Database:  "_qs}));
    QCOMPARE(aboutText(u"PLANTSQL\\MAINT"_qs, u"Maintenance"_qs).split(u"\r\n"_qs),
             head + QStringList({u"Orvantel Server:  PLANTSQL\\MAINT"_qs, u"Orvantel Database:  Maintenance"_qs}));
}

void PreviewTest::buttonAndDoubleClickOpenTheCurrentRowsFile_data()
{
    QTest::addColumn<int>("row"); // -1: no current row
    QTest::addColumn<int>("column"); // LfButtonColumn: the "..." button; else a double-click there
    QTest::addColumn<QString>("outcome"); // "opened", "refused" (with a box) or "nothing"
    QTest::addRow("button, name with blanks") << 1 << int(LfButtonColumn) << u"opened"_qs;
    QTest::addRow("double-click on Type, blanks") << 1 << int(LfTypeColumn) << u"opened"_qs;
    QTest::addRow("button, name with hash") << 2 << int(LfButtonColumn) << u"opened"_qs;
    QTest::addRow("double-click on File Name, hash") << 2 << int(LfFileNameColumn) << u"opened"_qs;
    QTest::addRow("button, name leaving the folder") << 3 << int(LfButtonColumn) << u"refused"_qs;
    QTest::addRow("double-click, name leaving the folder") << 3 << int(LfDescriptionColumn) << u"refused"_qs;
    QTest::addRow("button, empty name") << 4 << int(LfButtonColumn) << u"nothing"_qs;
    QTest::addRow("double-click, empty name") << 4 << int(LfTypeColumn) << u"nothing"_qs;
    QTest::addRow("button, a folder's name") << 5 << int(LfButtonColumn) << u"nothing"_qs;
    QTest::addRow("button, no current row") << -1 << int(LfButtonColumn) << u"nothing"_qs;
    QTest::addRow("double-click, no current row") << -1 << int(LfTypeColumn) << u"nothing"_qs;
}

void PreviewTest::buttonAndDoubleClickOpenTheCurrentRowsFile()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, outcome);
    const bool refused = outcome == QLatin1String("refused");
    makeGrid();
    DataGrid *grid = d->TDBGrid1;
    grid->setCurrentRowIndex(0); // another row is current before the click

    QList<QUrl> opened; // the address of each preview window, which is then closed
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto *form = qobject_cast<Form1 *>(QApplication::activeModalWidget())) {
            opened << form->WebBrowser1()->url();
            form->close();
        }
    });
    closer.start(10);
    if (row < 0) {
        grid->selectionModel()->clearCurrentIndex();
        if (column == LfButtonColumn)
            Q_EMIT grid->ButtonClick(LfButtonColumn);
        else
            Q_EMIT grid->DblClick();
        QTest::qWait(50);
    } else {
        const QPoint at = grid->visualRect(grid->model()->index(row, column)).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
        if (column != LfButtonColumn)
            QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents(); // the grid's events reach the control from the event loop
        QCOMPARE(grid->currentRowIndex(), row);
    }
    const bool opens = outcome == QLatin1String("opened");
    QCOMPARE(opened, opens ? QList<QUrl> {previewAddress(previewBaseUrl(), FileNames.at(row))} : QList<QUrl>());
    if (!opens)
        QVERIFY(!m_grid->findChild<Form1 *>());
    QCOMPARE(m_boxes->titles(), refused ? QStringList {u"Preview"_qs} : QStringList());
    if (refused) {
        QCOMPARE(m_boxes->messages.first().text, refusedFileNameText(FileNames.at(row)));
        QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Warning);
    }
}

void PreviewTest::aboutBoxShowsTheSettingsOfTheMoment()
{
    makeGrid();
    m_grid->setProperty("DBServerName", u"postgresql://127.0.0.1:5432"_qs);
    auto *about = m_grid->findChild<QPushButton *>(u"cmdAbout"_qs);
    QVERIFY(about && about->isHidden());
    about->click();
    QCOMPARE(m_boxes->messages.size(), 1);
    QCOMPARE(m_boxes->messages.first().title, u"About Orvantel Work Orders Control"_qs);
    QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Information);
    QCOMPARE(m_boxes->messages.first().text, aboutText(u"postgresql://127.0.0.1:5432"_qs, u"Maintenance"_qs));
}

void PreviewTest::browserShowsTheServedPage()
{
    QVERIFY(webEngineUsable());
    // Shows, for any name under /Orvantel/ItemImages/, the name the server received.
    QHttpServer server;
    server.route(u"/Orvantel/ItemImages/<arg>"_qs, [](const QUrl &, const QHttpServerRequest &request) {
        const QString name = request.url().path().mid(QStringLiteral("/Orvantel/ItemImages/").size());
        return QHttpServerResponse(QByteArrayLiteral("text/html"),
                                   "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Linked file</title>"
                                   "</head><body><p>Served: "
                                           + name.toHtmlEscaped().toUtf8() + "</p></body></html>");
    });
    const quint16 port = server.listen(QHostAddress::LocalHost, 0);
    QVERIFY(port != 0);

    const QUrl base(u"http://127.0.0.1:%1/Orvantel/ItemImages/"_qs.arg(port));
    Form1 form(nullptr, base);
    form.navigate(previewAddress(base, u"pump #2 page.html"_qs));
    form.show();
    // Asks until the page is there; answers that come later write into state of their own.
    auto text = std::make_shared<QString>();
    const auto ask = [&] {
        form.WebBrowser1()->page()->toPlainText([text](const QString &t) { *text = t; });
        return text->startsWith(u"Served: "_qs);
    };
    QTRY_VERIFY_WITH_TIMEOUT(ask(), 30000);
    QCOMPARE(*text, u"Served: pump #2 page.html"_qs);
    QCOMPARE(form.WebBrowser1()->title(), u"Linked file"_qs);
}

void PreviewTest::browserStaysInsideTheFolder_data()
{
    QTest::addColumn<QString>("script"); // run by the linked file as it loads; PORT: the server's port
    QTest::addColumn<QString>("outside"); // the address handed to the desktop's browser
    const QString elsewhere = u"http://127.0.0.1:PORT/elsewhere.html"_qs;
    QTest::newRow("script sets the location") << u"location.href = '%1'"_qs.arg(elsewhere) << elsewhere;
    QTest::newRow("clicked link") << u"link('%1', '').click()"_qs.arg(elsewhere) << elsewhere;
    QTest::newRow("link to a new window") << u"link('%1', '_blank').click()"_qs.arg(elsewhere) << elsewhere;
    QTest::newRow("window.open") << u"window.open('%1')"_qs.arg(elsewhere) << elsewhere;
    QTest::newRow("dot segments") << u"location.href = '../../elsewhere.html'"_qs << elsewhere;
    QTest::newRow("percent-encoded dot segments") << u"location.href = '%2e%2e/%2E%2E/elsewhere.html'"_qs << elsewhere;
    QTest::newRow("redirect from inside") << u"location.href = 'moved.html'"_qs << elsewhere;
    const QString otherName = u"http://localhost:PORT/Orvantel/ItemImages/b.html"_qs;
    QTest::newRow("same server, another name") << u"location.href = '%1'"_qs.arg(otherName) << otherName;
}

void PreviewTest::browserStaysInsideTheFolder()
{
    QFETCH(QString, script);
    QFETCH(QString, outside);
    QHttpServer server;
    QStringList requested;
    QByteArray linkedFile;
    server.route(u"/<arg>"_qs, [&](const QUrl &, const QHttpServerRequest &request) {
        const QString path = request.url().path();
        requested << path;
        if (path == QLatin1String("/Orvantel/ItemImages/moved.html")) {
            QHttpServerResponse moved(QHttpServerResponse::StatusCode::Found);
            moved.addHeader("Location", "/elsewhere.html");
            return moved;
        }
        return QHttpServerResponse(QByteArrayLiteral("text/html"),
                                   path == QLatin1String("/Orvantel/ItemImages/a.html") ? linkedFile
                                                                                        : QByteArray("Elsewhere"));
    });
    const quint16 port = server.listen(QHostAddress::LocalHost, 0);
    QVERIFY(port != 0);
    script.replace(u"PORT"_qs, QString::number(port));
    outside.replace(u"PORT"_qs, QString::number(port));
    linkedFile = "<!DOCTYPE html><html><head><title>Linked file</title></head><body><p>Linked file</p><script>"
                 "function link(href, target) { const a = document.createElement('a'); a.href = href; "
                 "a.target = target; document.body.appendChild(a); return a; }\n"
            + script.toUtf8() + "</script></body></html>";

    const QUrl base(u"http://127.0.0.1:%1/Orvantel/ItemImages/"_qs.arg(port));
    const QUrl address(base.toString() + u"a.html"_qs);
    Form1 form(nullptr, base);
    form.navigate(address);
    form.show();
    auto text = std::make_shared<QString>();
    const auto shown = [&] {
        form.WebBrowser1()->page()->toPlainText([text](const QString &t) { *text = t; });
        return *text;
    };
    // Until the desktop's browser is asked, or the preview shows the other page.
    QTRY_VERIFY_WITH_TIMEOUT(!m_inBrowser.isEmpty() || shown() == QLatin1String("Elsewhere"), 30000);
    QCOMPARE(m_inBrowser, QList<QUrl> {QUrl(outside)});
    // The preview still shows the linked file, and nothing outside the folder was fetched.
    QTRY_COMPARE_WITH_TIMEOUT(shown(), u"Linked file"_qs, 30000);
    QCOMPARE(form.WebBrowser1()->url(), address);
    QVERIFY2(!requested.contains(u"/elsewhere.html"_qs) && !requested.contains(u"/Orvantel/ItemImages/b.html"_qs),
             qPrintable(requested.join(u", "_qs)));
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
