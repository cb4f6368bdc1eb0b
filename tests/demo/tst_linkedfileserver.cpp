#include "linkedfileserver.h"

#include <QDir>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

/// The demo's linked-files server, asked over real HTTP on 127.0.0.1: it serves the files
/// inside its folder and nothing else.
class LinkedFileServerTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void servesOnlyFilesInsideItsFolder_data();
    void servesOnlyFilesInsideItsFolder();

private:
    QTemporaryDir m_dir;
    LinkedFileServer m_present {m_dir.filePath(u"ItemImages"_qs)};
    LinkedFileServer m_missing {m_dir.filePath(u"no such folder"_qs)};
};

void LinkedFileServerTest::initTestCase()
{
    const QDir folder(m_dir.filePath(u"ItemImages"_qs));
    QVERIFY(folder.mkpath(u"sub"_qs) && folder.mkpath(u".git"_qs));
    for (const QString &name :
         {u"a.txt"_qs, u"sub/b c.txt"_qs, u".hidden"_qs, u".git/config"_qs, u"sub/.env"_qs, u"../outside.txt"_qs}) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QFileInfo(name).fileName().toUtf8()) > 0);
    }
    QVERIFY(QFile::link(m_dir.filePath(u"outside.txt"_qs), folder.filePath(u"out.txt"_qs)));
    QVERIFY(QFile::link(folder.filePath(u".hidden"_qs), folder.filePath(u"shown.txt"_qs)));
    QString error;
    for (LinkedFileServer *server : {&m_present, &m_missing})
        QVERIFY2(server->listen(QUrl(u"http://127.0.0.1:0/Orvantel/ItemImages/"_qs), &error), qPrintable(error));
}

void LinkedFileServerTest::servesOnlyFilesInsideItsFolder_data()
{
    QTest::addColumn<bool>("folderMissing");
    QTest::addColumn<QByteArray>("name"); // after /Orvantel/ItemImages/, sent as it stands
    QTest::addColumn<QByteArray>("body"); // null: 404
    QTest::newRow("a file") << false << QByteArray("a.txt") << QByteArray("a.txt");
    QTest::newRow("in a sub-folder, encoded blank") << false << QByteArray("sub/b%20c.txt") << QByteArray("b c.txt");
    // clang-format off
    for (const char *name : {"/etc/passwd", "%2Fetc%2Fpasswd", "../../../../../../etc/passwd",
                             "%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "..%2F..%2F..%2F..%2F..%2Fetc%2Fpasswd",
                             "..%5C..%5Ca.txt", "sub\\..\\a.txt", "sub/../a.txt", "./a.txt", "sub//b%20c.txt",
                             ".hidden", ".git/config", "sub/.env", "%2Ehidden", "out.txt", "shown.txt",
                             "a.txt%00.png", "", "sub", "sub/", "missing.txt"})
        QTest::addRow("refused: %s", name) << false << QByteArray(name) << QByteArray();
    // clang-format on
    for (const char *name : {"/etc/passwd", "a.txt", "../../../../../../etc/passwd"})
        QTest::addRow("folder missing: %s", name) << true << QByteArray(name) << QByteArray();
}

void LinkedFileServerTest::servesOnlyFilesInsideItsFolder()
{
    QFETCH(bool, folderMissing);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, body);
    // A raw request: a URL class would tidy "//" and ".." away.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), (folderMissing ? m_missing : m_present).port());
    socket.write("GET /Orvantel/ItemImages/" + name + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    const auto complete = [&] {
        answer += socket.readAll();
        const qsizetype end = answer.indexOf("\r\n\r\n");
        qsizetype length = 0;
        for (const QByteArray &line : answer.left(end).toLower().split('\n')) {
            if (line.startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        return end >= 0 && answer.size() >= end + 4 + length;
    };
    QVERIFY2(QTest::qWaitFor(complete, 10000), answer.constData());
    QCOMPARE(answer.split(' ').value(1).toInt(), body.isNull() ? 404 : 200);
    if (!body.isNull())
        QCOMPARE(answer.mid(answer.indexOf("\r\n\r\n") + 4), body);
}

QTEST_GUILESS_MAIN(LinkedFileServerTest)
#include "tst_linkedfileserver.moc"
