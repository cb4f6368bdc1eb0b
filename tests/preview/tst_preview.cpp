#include "testsupport.h"

#include "datagrid.h"
#include "form1.h"
#include "gridcolumns.h"
#include "workordersgrid.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

using namespace Orvantel;
using namespace TestSupport;

/// Opening a linked file from the grid, the preview window and its browser, and the About box.
class PreviewTest : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    /// Stands in for the desktop's web browser (never started by a test).
    void openedInBrowser(const QUrl &url) { m_inBrowser << url; }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"http"_qs, this, "openedInBrowser"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"http"_qs); }
    void cleanup();
    void buttonAndDoubleClickOpenTheCurrentRowsFile_data();
    void buttonAndDoubleClickOpenTheCurrentRowsFile();
    void browserStaysInsideTheFolder_data();
    void browserStaysInsideTheFolder();
    void windowKeepsTheBrowserMargin();
    void aboutBoxShowsTheSettingsOfTheMoment();

private:
    /// Starts a control on the plant (a linked file of C3 named fileName added, the linked files of A1 and C3).
    void start(const QString &fileName = QString());

    std::unique_ptr<TestPlant> m_plant;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    HostedControl m_control;
    QList<QUrl> m_inBrowser;
};

void PreviewTest::cleanup()
{
    m_control.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_plant.reset();
    m_inBrowser.clear();
}

void PreviewTest::start(const QString &fileName)
{
    m_plant = std::make_unique<TestPlant>();
    m_plant->exec({u"INSERT INTO GS_LinkedFiles (AssetCode, DocType, DocDescr, FileName) VALUES ('C3', 'Photo', "
                   "'Plate', '%1')"_qs.arg(fileName)});
    m_plant->writeSettings("AssetList=A1,C3\nRefreshInterval=0\n");
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_control.show();
}

void PreviewTest::buttonAndDoubleClickOpenTheCurrentRowsFile_data()
{
    QTest::addColumn<QString>("fileName"); // of asset C3's file, the second row after A1's a1.png
    QTest::addColumn<int>("column"); // LfButtonColumn: its "..." button; else a double-click there
    QTest::addColumn<QString>("opened"); // the address after the folder's; "refused" with a box; empty: nothing
    QTest::addRow("blanks") << "P-101 nameplate.jpg" << +LfButtonColumn << "P-101%20nameplate.jpg";
    QTest::addRow("hash, double-click") << "pump #2.jpg" << +LfTypeColumn << "pump%20%232.jpg";
    QTest::addRow("question mark, double-click") << "why?.txt" << +LfFileNameColumn << "why%3F.txt";
    QTest::addRow("percent is no escape") << "100%41.pdf" << +LfButtonColumn << "100%2541.pdf";
    QTest::addRow("non-ASCII as UTF-8") << u"Größe.pdf"_qs << +LfDescriptionColumn << "Gr%C3%B6%C3%9Fe.pdf";
    QTest::addRow("sub-folder") << "drawings/P-101.pdf" << +LfButtonColumn << "drawings/P-101.pdf";
    QTest::addRow("dots inside a name") << "a..b.png" << +LfButtonColumn << "a..b.png";
    QTest::addRow("parent folder") << "../secret.txt" << +LfButtonColumn << "refused";
    QTest::addRow("parent after a folder, double-click") << "a/../../b.txt" << +LfTypeColumn << "refused";
    QTest::addRow("parent through backslashes") << "..\\..\\b.txt" << +LfButtonColumn << "refused";
    QTest::addRow("empty name") << "" << +LfButtonColumn << "";
    QTest::addRow("empty name, double-click") << "" << +LfTypeColumn << "";
    QTest::addRow("a folder") << "drawings/" << +LfButtonColumn << "";
    QTest::addRow("this folder") << "." << +LfButtonColumn << "";
}

void PreviewTest::buttonAndDoubleClickOpenTheCurrentRowsFile()
{
    QFETCH(QString, fileName);
    QFETCH(int, column);
    QFETCH(QString, opened);
    start(fileName);
    QTest::mouseClick(m_control.grid->findChild<QRadioButton *>(u"optView_3"_qs), Qt::LeftButton);
    auto *files = m_control.grid->findChild<DataGrid *>(u"TDBGrid1"_qs);
    QCOMPARE(files->model()->rowCount(), 2); // the first row is current

    QStringList shown; // the address of each preview window, which is then closed
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        QWidget *form = QApplication::activeModalWidget();
        if (form && form->objectName() == u"Form1"_qs) {
            shown << QString::fromUtf8(form->findChild<QWebEngineView *>(u"WebBrowser1"_qs)->url().toEncoded());
            form->close();
        }
    });
    closer.start(10);
    const QPoint at = files->visualRect(files->model()->index(1, column)).center();
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, at);
    if (column != LfButtonColumn)
        QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents(); // the grid's events reach the control from the event loop
    QCOMPARE(files->currentIndex().row(), 1);

    const bool refused = opened == u"refused"_qs;
    QCOMPARE(shown,
             opened.isEmpty() || refused ? QStringList()
                                         : QStringList {QLatin1String(ORVANTEL_PREVIEW_BASE_URL) + opened});
    QCOMPARE(m_boxes->messages.value(0).title + m_boxes->messages.value(0).text,
             refused ? u"PreviewThe file name \"%1\" points outside the folder of linked files, so it is not opened."_qs
                               .arg(fileName)
                     : QString());
    QVERIFY(m_inBrowser.isEmpty() && m_boxes->messages.size() <= 1);
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
    QVERIFY(webEngineUsable());
    // Serves the linked file by its name with blanks and '#' (as the server receives it), a
    // redirect from the folder to outside it, and a page outside it.
    QHttpServer server;
    QStringList requested;
    QByteArray linkedFile;
    server.route(u"/<arg>"_qs, [&](const QUrl &, const QHttpServerRequest &request) {
        const QString path = request.url().path();
        requested << path;
        if (path == u"/Orvantel/ItemImages/moved.html"_qs) {
            QHttpServerResponse moved(QHttpServerResponse::StatusCode::Found);
            moved.addHeader("Location", "/elsewhere.html");
            return moved;
        }
        return QHttpServerResponse(QByteArrayLiteral("text/html"),
                                   path == u"/Orvantel/ItemImages/pump #2 page.html"_qs ? linkedFile
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
    const QUrl address(base.toString() + u"pump%20%232%20page.html"_qs);
    Form1 form(nullptr, base);
    form.navigate(address);
    form.show();
    auto text = std::make_shared<QString>(); // answers that come late write into state of their own
    const auto page = [&] {
        form.WebBrowser1()->page()->toPlainText([text](const QString &t) { *text = t; });
        return *text;
    };
    // Until the desktop's browser is asked, or the preview shows the other page.
    QTRY_VERIFY_WITH_TIMEOUT(!m_inBrowser.isEmpty() || page() == u"Elsewhere"_qs, 30000);
    QCOMPARE(m_inBrowser, QList<QUrl> {QUrl(outside)});
    // The preview still shows the linked file, and nothing outside the folder was fetched.
    QTRY_COMPARE_WITH_TIMEOUT(page(), u"Linked file"_qs, 30000);
    QCOMPARE(form.WebBrowser1()->url(), address);
    QVERIFY2(!requested.contains(u"/elsewhere.html"_qs) && !requested.contains(u"/Orvantel/ItemImages/b.html"_qs),
             qPrintable(requested.join(u", "_qs)));
}

void PreviewTest::windowKeepsTheBrowserMargin()
{
    // Each extent of the browser is the window's less 100 twips, while the window's is above 100.
    QCOMPARE(previewBrowserExtent(100).value_or(-1), -1);
    QCOMPARE(previewBrowserExtent(101).value_or(-1), 1);
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(741, 615)); // 11115 x 9225 twips
    QCOMPARE(form.findChild<QWidget *>(u"WebBrowser1"_qs)->geometry(), QRect(0, 0, 734, 608));
    form.resize(400, 300); // 6000 x 4500 twips: 5900 x 4400
    QTRY_COMPARE(form.WebBrowser1()->geometry(), QRect(0, 0, 393, 293));
    form.resize(6, 200); // 90 twips wide: the width stays
    QTRY_COMPARE(form.height(), 200);
    QCOMPARE(form.WebBrowser1()->geometry(), QRect(0, 0, 393, 193));
}

void PreviewTest::aboutBoxShowsTheSettingsOfTheMoment()
{
    start();
    m_control.grid->setProperty("DBServerName", u"postgresql://127.0.0.1:5432"_qs);
    m_control.grid->findChild<QPushButton *>(u"cmdAbout"_qs)->click(); // a hidden button the host may show
    QCOMPARE(m_boxes->titles(), QStringList {u"About Orvantel Work Orders Control"_qs});
    QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Information);
    QCOMPARE(m_boxes->messages.first().text,
             u"Orvantel Open Work Orders Control\r\nCopyright (c) 2026 Orvantel Maintenance Systems\r\n\r\n"
             "Orvantel Server:  postgresql://127.0.0.1:5432\r\nOrvantel Database:  Maintenance"_qs);
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
