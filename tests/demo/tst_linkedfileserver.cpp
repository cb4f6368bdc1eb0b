#include "linkedfileserver.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

/// Sends target to the server as it stands (a URL class would tidy "//" and "..") and
/// returns the status code and the body of the answer; status 0 when none came.
std::pair<int, QByteArray> get(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { answer += socket.readAll(); });
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    const auto complete = [&] {
        const qsizetype end = answer.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QList<QByteArray> lines = answer.left(end).split('\n');
        qsizetype length = 0;
        for (const QByteArray &line : lines) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        return answer.size() >= end + 4 + length;
    };
    if (!QTest::qWaitFor(complete, 10000))
        return {0, answer};
    const qsizetype end = answer.indexOf("\r\n\r\n");
    return {answer.split(' ').value(1).toInt(), answer.mid(end + 4)};
}

void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

} // namespace

/// The demo's linked-files server, asked over real HTTP on 127.0.0.1.
class LinkedFileServerTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void servesOnlyFilesInsideItsFolder_data();
    void servesOnlyFilesInsideItsFolder();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LinkedFileServer> m_present;
    std::unique_ptr<LinkedFileServer> m_missing; // its folder does not exist
};

void LinkedFileServerTest::initTestCase()
{
    const QString folder = m_dir.filePath(QStringLiteral("ItemImages"));
    writeFile(folder + QStringLiteral("/a.txt"), "alpha");
    writeFile(folder + QStringLiteral("/sub/b c.txt"), "bravo");
    writeFile(folder + QStringLiteral("/.hidden"), "hidden");
    writeFile(folder + QStringLiteral("/.git/config"), "config");
    writeFile(folder + QStringLiteral("/sub/.env"), "env");
    writeFile(m_dir.filePath(QStringLiteral("outside.txt")), "outside");
    QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("outside.txt")), folder + QStringLiteral("/out.txt")));
    QVERIFY(QFile::link(folder + QStringLiteral("/.hidden"), folder + QStringLiteral("/shown.txt")));

    const QUrl base(QStringLiteral("http://127.0.0.1:0/Orvantel/ItemImages/"));
    QString error;
    m_present = std::make_unique<LinkedFileServer>(folder);
    QVERIFY2(m_present->listen(base, &error), qPrintable(error));
    m_missing = std::make_unique<LinkedFileServer>(m_dir.filePath(QStringLiteral("no such folder")));
    QVERIFY2(m_missing->listen(base, &error), qPrintable(error));
}

void LinkedFileServerTest::servesOnlyFilesInsideItsFolder_data()
{
    QTest::addColumn<bool>("folderMissing");
    QTest::addColumn<QByteArray>("name"); // after /Orvantel/ItemImages/, sent as it stands
    QTest::addColumn<QByteArray>("body"); // null: 404
    QTest::newRow("a file") << false << QByteArray("a.txt") << QByteArray("alpha");
    QTest::newRow("in a sub-folder, encoded blank") << false << QByteArray("sub/b%20c.txt") << QByteArray("bravo");
    const char *refused[] = {
            "/etc/passwd",
            "%2Fetc%2Fpasswd",
            "../../../../../../etc/passwd",
            "%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/etc/passwd",
            "..%2F..%2F..%2F..%2F..%2Fetc%2Fpasswd",
            "..%5C..%5Ca.txt",
            "sub\\..\\a.txt",
            "sub/../a.txt",
            "./a.txt",
            "sub//b%20c.txt",
            ".hidden",
            ".git/config",
            "sub/.env",
            "%2Ehidden",
            "out.txt",
            "shown.txt",
            "a.txt%00.png",
            "",
            "sub",
            "sub/",
            "missing.txt",
    };
    for (const char *name : refused)
        QTest::addRow("refused: %s", name) << false << QByteArray(name) << QByteArray();
    for (const char *name : {"/etc/passwd", "a.txt", "../../../../../../etc/passwd"})
        QTest::addRow("folder missing: %s", name) << true << QByteArray(name) << QByteArray();
}

void LinkedFileServerTest::servesOnlyFilesInsideItsFolder()
{
    QFETCH(bool, folderMissing);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, body);
    const auto [status, received]
            = get((folderMissing ? m_missing : m_present)->port(), "/Orvantel/ItemImages/" + name);
    QCOMPARE(status, body.isNull() ? 404 : 200);
    if (!body.isNull())
        QCOMPARE(received, body);
}

QTEST_GUILESS_MAIN(LinkedFileServerTest)
#include "tst_linkedfileserver.moc"
