#include "testsupport.h"

#include "control/messagebox.h"
#include "control/workordersgrid.h"
#include "control/workordersgrid_p.h"
#include "views/about.h"
#include "views/datagrid.h"
#include "views/form1.h"
#include "views/gridcolumns.h"
#include "views/previewaddress.h"
#include "views/viewselection.h"

#include <QApplication>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <memory>

using namespace Orvantel;
using namespace TestSupport;

namespace {

const QUrl TestBase(QStringLiteral("http://127.0.0.1:8089/Orvantel/ItemImages/"));

/// Linked-file rows, in the order the grid shows them.
const QStringList FileNames = {
        QStringLiteral("a1.png"),
        QStringLiteral("P-101 nameplate.jpg"),
        QStringLiteral("pump #2 page.html"),
        QStringLiteral("../secret.txt"),
};

void fillPlant(const QString &path)
{
    {
        const QString name = QStringLiteral("preview-schema");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            QVERIFY(db.open());
            DemoData::createSchema(db);
        }
        QSqlDatabase::removeDatabase(name);
    }
    QStringList rows;
    for (int i = 0; i < FileNames.size(); ++i)
        rows << QStringLiteral("(%1, 'A1', 'Photo', 'File %1', '%2')").arg(i + 1).arg(FileNames.at(i));
    QStringList statements = {
            QStringLiteral("INSERT INTO GS_Divisions (DivisionID) VALUES ('D1')"),
            QStringLiteral("INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1')"),
            QStringLiteral("INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) "
                           "VALUES ('A1', 'Pump', 'D1', 'M1')"),
    };
    statements << QStringLiteral("INSERT INTO GS_LinkedFiles (FileID, AssetCode, DocType, DocDescr, FileName) VALUES ")
                    + rows.join(QStringLiteral(", "));
    execSqlite(path, statements);
}

/// Runs onOpen on each preview window that opens while it lives, then closes the
/// window, and records the address each one was told to show.
class PreviewCloser : public QObject
{
public:
    explicit PreviewCloser(std::function<void(Form1 *)> onOpen = {})
        : m_onOpen(std::move(onOpen))
    {
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &PreviewCloser::poll);
        timer->start(10);
    }

    QList<QUrl> addresses;

private:
    void poll()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *form = qobject_cast<Form1 *>(w);
            if (!form || !form->isVisible() || form->property("seenByTest").toBool())
                continue;
            form->setProperty("seenByTest", true);
            addresses << form->WebBrowser1()->url();
            QPointer<Form1> guard(form);
            if (m_onOpen)
                m_onOpen(form);
            if (guard)
                guard->close();
        }
    }

    std::function<void(Form1 *)> m_onOpen;
};

/// The page's text once it holds expected (or the last text seen after timeoutMs).
QString waitForBodyText(QWebEngineView *view, const QString &expected, int timeoutMs = 30000)
{
    // An answer may arrive after this returns: it writes into state it shares.
    auto text = std::make_shared<QString>();
    const bool found = QTest::qWaitFor(
            [&] {
                auto answered = std::make_shared<bool>(false);
                view->page()->runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"),
                                            [text, answered](const QVariant &v) {
                                                *text = v.toString();
                                                *answered = true;
                                            });
                if (!QTest::qWaitFor([&] { return *answered; }, 2000))
                    return false;
                return text->contains(expected);
            },
            timeoutMs);
    if (!found)
        qWarning("the page did not show \"%s\" in time", qPrintable(expected));
    return *text;
}

/// Serves, for any name under /Orvantel/ItemImages/, a page that shows the name the
/// server received.
void serveNames(QHttpServer &server)
{
    server.route(QStringLiteral("/Orvantel/ItemImages/<arg>"), [](const QUrl &, const QHttpServerRequest &request) {
        const QString name = request.url().path().mid(QStringLiteral("/Orvantel/ItemImages/").size());
        return QHttpServerResponse(QByteArrayLiteral("text/html"),
                                   "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Linked file</title>"
                                   "</head><body><p>Served: "
                                           + name.toHtmlEscaped().toUtf8() + "</p></body></html>");
    });
}

} // namespace

/// The linked-file preview (address, window, the grid's button and double-click, the
/// fallback decision) and the About box.
class PreviewTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void addressInsideTheBaseFolder_data();
    void addressInsideTheBaseFolder();
    void browserExtent_data();
    void browserExtent();
    void windowKeepsTheBrowserMargin();
    void aboutText_data();
    void aboutText();

    void buttonAndDoubleClickOpenTheCurrentRowsFile_data();
    void buttonAndDoubleClickOpenTheCurrentRowsFile();
    void nameLeavingTheFolderIsRefused();
    void noCurrentRowDoesNothing();
    void aboutBoxShowsTheSettingsOfTheMoment();
    void browserShowsTheServedPage();
    void controlOpensTheFileFromItsBuiltInBase();

private:
    void makeGrid();
    void showLinkedFiles();
    void clickButton(int row);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QWidget> m_host;
    WorkOrdersGrid *m_grid = nullptr;
    WorkOrdersGridPrivate *d = nullptr;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
};

void PreviewTest::init()
{
    QLocale::setDefault(QLocale::c());
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    m_boxes = std::make_unique<MessageBoxRecorder>();
}

void PreviewTest::cleanup()
{
    m_host.reset();
    m_grid = nullptr;
    d = nullptr;
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_dir.reset();
}

void PreviewTest::makeGrid()
{
    fillPlant(m_dir->path() + QStringLiteral("/plant.db"));
    QFile settings(m_dir->path() + QStringLiteral("/OrvantelWO.ini"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Orvantel]\nDBServerName=sqlite:plant.db\nDBDatabaseName=Maintenance\nRefreshInterval=0\n");
    settings.close();
    m_host = std::make_unique<QWidget>();
    m_host->resize(800, 300);
    m_grid = new WorkOrdersGrid(m_host.get());
    m_grid->resize(m_grid->sizeHint());
    d = WorkOrdersGridPrivate::get(m_grid);
    m_host->show(); // start-up reads the settings and connects
    QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
}

void PreviewTest::showLinkedFiles()
{
    QTest::mouseClick(d->optView[LinkedFilesView], Qt::LeftButton);
    QVERIFY(!d->TDBGrid1->isHidden());
    QCOMPARE(d->TDBGrid1->rowCount(), FileNames.size());
}

void PreviewTest::clickButton(int row)
{
    DataGrid *grid = d->TDBGrid1;
    const QPoint at = grid->visualRect(grid->model()->index(row, LfButtonColumn)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
}

void PreviewTest::addressInsideTheBaseFolder_data()
{
    QTest::addColumn<QUrl>("base");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("expected"); // empty: refused

    const QByteArray b = TestBase.toEncoded();
    QTest::addRow("plain name") << TestBase << "a1.png" << b + "a1.png";
    QTest::addRow("blanks") << TestBase << "P-101 GA drawing.png" << b + "P-101%20GA%20drawing.png";
    QTest::addRow("hash would start a fragment") << TestBase << "pump #2.jpg" << b + "pump%20%232.jpg";
    QTest::addRow("question mark would start a query") << TestBase << "why?.txt" << b + "why%3F.txt";
    QTest::addRow("percent is not an escape") << TestBase << "100%41.pdf" << b + "100%2541.pdf";
    QTest::addRow("non-ASCII as UTF-8") << TestBase << QStringLiteral("Größe.pdf") << b + "Gr%C3%B6%C3%9Fe.pdf";
    QTest::addRow("sub-folder kept") << TestBase << "drawings/P-101.pdf" << b + "drawings/P-101.pdf";
    QTest::addRow("dots inside a name") << TestBase << "a..b.png" << b + "a..b.png";
    QTest::addRow("base without slash") << QUrl(QStringLiteral("http://localhost/Orvantel/ItemImages")) << "a.png"
                                        << QByteArray("http://localhost/Orvantel/ItemImages/a.png");
    QTest::addRow("parent folder") << TestBase << "../secret.txt" << QByteArray();
    QTest::addRow("parent after a folder") << TestBase << "a/../../b.txt" << QByteArray();
    QTest::addRow("parent through backslashes") << TestBase << "..\\..\\b.txt" << QByteArray();
}

void PreviewTest::addressInsideTheBaseFolder()
{
    QFETCH(QUrl, base);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, expected);

    const QUrl address = previewAddress(base, fileName);
    QCOMPARE(leavesBaseFolder(fileName), expected.isEmpty());
    if (expected.isEmpty()) {
        QVERIFY(!address.isValid());
        return;
    }
    QCOMPARE(address.toEncoded(), expected);
    // What the web server decodes is the name, inside the base folder.
    QCOMPARE(address.path(), QStringLiteral("/Orvantel/ItemImages/") + fileName);
    QVERIFY(!address.hasQuery());
    QVERIFY(!address.hasFragment());
}

void PreviewTest::browserExtent_data()
{
    QTest::addColumn<int>("windowTwips");
    QTest::addColumn<int>("browserTwips"); // -1: the browser keeps its extent

    QTest::addRow("0") << 0 << -1;
    QTest::addRow("100 is not above the margin") << 100 << -1;
    QTest::addRow("101") << 101 << 1;
    QTest::addRow("design width") << 11115 << 11015;
}

void PreviewTest::browserExtent()
{
    QFETCH(int, windowTwips);
    QFETCH(int, browserTwips);
    QCOMPARE(previewBrowserExtent(windowTwips).value_or(-1), browserTwips);
}

void PreviewTest::windowKeepsTheBrowserMargin()
{
    Form1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Preview"));
    QCOMPARE(form.WebBrowser1()->objectName(), QStringLiteral("WebBrowser1"));
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

void PreviewTest::aboutText_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QStringList>("lines");

    const QString title = QStringLiteral("Orvantel Open Work Orders Control");
    const QString notice = QStringLiteral("Copyright (c) 2026 Orvantel Maintenance Systems");
    QTest::addRow("empty names leave the labels alone")
            << QString() << QString()
            << QStringList {title, notice, QString(), QStringLiteral("Orvantel Server:  "),
                            QStringLiteral("Orvantel Database:  ")};
    QTest::addRow("names as set") << QStringLiteral("PLANTSQL\\MAINT") << QStringLiteral("Maintenance")
                                  << QStringList {title, notice, QString(),
                                                  QStringLiteral("Orvantel Server:  PLANTSQL\\MAINT"),
                                                  QStringLiteral("Orvantel Database:  Maintenance")};
}

void PreviewTest::aboutText()
{
    QFETCH(QString, server);
    QFETCH(QString, database);
    QFETCH(QStringList, lines);
    const QString text = Orvantel::aboutText(server, database);
    QCOMPARE(text.split(QStringLiteral("\r\n")), lines);
    QCOMPARE(text.count(u'\n'), 4); // no bare line feeds, none after the last line
    QCOMPARE(text.count(u'\r'), 4);
}

void PreviewTest::buttonAndDoubleClickOpenTheCurrentRowsFile_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column"); // LfButtonColumn: the "..." button; else a double-click there
    QTest::addRow("button, name with blanks") << 1 << int(LfButtonColumn);
    QTest::addRow("double-click on Type, blanks") << 1 << int(LfTypeColumn);
    QTest::addRow("button, name with hash") << 2 << int(LfButtonColumn);
    QTest::addRow("double-click on File Name, hash") << 2 << int(LfFileNameColumn);
}

void PreviewTest::buttonAndDoubleClickOpenTheCurrentRowsFile()
{
    QFETCH(int, row);
    QFETCH(int, column);
    makeGrid();
    showLinkedFiles();
    DataGrid *grid = d->TDBGrid1;
    grid->setCurrentRowIndex(0); // another row is current before the click

    PreviewCloser previews;
    if (column == LfButtonColumn) {
        clickButton(row);
    } else {
        const QPoint at = grid->visualRect(grid->model()->index(row, column)).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    }
    QCOMPARE(grid->currentRowIndex(), row);
    QCOMPARE(previews.addresses.size(), 1);
    QCOMPARE(previews.addresses.first(), previewAddress(previewBaseUrl(), FileNames.at(row)));
    QVERIFY(m_boxes->messages.isEmpty());
}

void PreviewTest::nameLeavingTheFolderIsRefused()
{
    makeGrid();
    showLinkedFiles();
    PreviewCloser previews;
    clickButton(3);
    QCOMPARE(m_boxes->messages.size(), 1);
    QCOMPARE(m_boxes->messages.first().title, QStringLiteral("Preview"));
    QCOMPARE(m_boxes->messages.first().text, refusedFileNameText(FileNames.at(3)));
    QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Warning);
    QVERIFY(previews.addresses.isEmpty());
    QVERIFY(!m_grid->findChild<Form1 *>());
}

void PreviewTest::noCurrentRowDoesNothing()
{
    makeGrid();
    showLinkedFiles();
    d->TDBGrid1->selectionModel()->clearCurrentIndex();
    QCOMPARE(d->TDBGrid1->currentRowIndex(), -1);
    PreviewCloser previews;
    Q_EMIT d->TDBGrid1->ButtonClick(LfButtonColumn);
    Q_EMIT d->TDBGrid1->DblClick();
    QTest::qWait(50);
    QVERIFY(previews.addresses.isEmpty());
    QVERIFY(m_boxes->messages.isEmpty());
}

void PreviewTest::aboutBoxShowsTheSettingsOfTheMoment()
{
    makeGrid();
    m_grid->setProperty("DBServerName", QStringLiteral("postgresql://127.0.0.1:5432"));
    auto *about = m_grid->findChild<QPushButton *>(QStringLiteral("cmdAbout"));
    QVERIFY(about);
    QVERIFY(about->isHidden());
    about->click();
    QCOMPARE(m_boxes->messages.size(), 1);
    const ShownMessage box = m_boxes->messages.first();
    QCOMPARE(box.title, QStringLiteral("About Orvantel Work Orders Control"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.text,
             Orvantel::aboutText(QStringLiteral("postgresql://127.0.0.1:5432"), QStringLiteral("Maintenance")));
}

void PreviewTest::browserShowsTheServedPage()
{
    QVERIFY(webEngineUsable());
    QHttpServer server;
    serveNames(server);
    const quint16 port = server.listen(QHostAddress::LocalHost, 0);
    QVERIFY(port != 0);
    const QUrl base(QStringLiteral("http://127.0.0.1:%1/Orvantel/ItemImages/").arg(port));

    QWidget owner;
    QString shown;
    QString title;
    PreviewCloser previews([&](Form1 *form) {
        shown = waitForBodyText(form->WebBrowser1(), QStringLiteral("Served: "));
        title = form->WebBrowser1()->title();
    });
    openPreview(&owner, previewAddress(base, QStringLiteral("pump #2 page.html")));
    QCOMPARE(previews.addresses.size(), 1);
    QCOMPARE(shown, QStringLiteral("Served: pump #2 page.html"));
    QCOMPARE(title, QStringLiteral("Linked file"));
}

void PreviewTest::controlOpensTheFileFromItsBuiltInBase()
{
    const QUrl base = previewBaseUrl();
    const QHostAddress host = base.host() == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                                        : QHostAddress(base.host());
    if (!host.isLoopback())
        QSKIP("the library's preview address is not on this machine");
    QHttpServer server;
    serveNames(server);
    if (server.listen(host, quint16(base.port(80))) == 0)
        QSKIP(qPrintable(QStringLiteral("cannot serve %1 here (build with a base on a free port above 1023)")
                                 .arg(base.toString())));

    makeGrid();
    showLinkedFiles();
    QString shown;
    PreviewCloser previews(
            [&](Form1 *form) { shown = waitForBodyText(form->WebBrowser1(), QStringLiteral("Served: ")); });
    clickButton(2);
    QCOMPARE(previews.addresses.size(), 1);
    QCOMPARE(shown, QStringLiteral("Served: pump #2 page.html"));
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
