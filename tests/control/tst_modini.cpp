#include "modini.h"
#include "controlerror.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

/// The settings file reader.
class ModIniTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readProfileString_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("defaultValue");
        QTest::addColumn<QString>("expected");
        const QByteArray o = "[Orvantel]\n";
        const QByteArray basic = o + "DBServerName=sqlite:plant.db\nRefreshInterval = 30 \nEmpty=\n";
        const QByteArray withNul("[Orvantel]\nDivision=D5\0hidden\nDepartment=M5\n", 44);
        const QByteArray utf16le = QByteArray("\xFF\xFE")
                + QByteArray(reinterpret_cast<const char *>(u"[Orvantel]\r\nDivision=Fräsen\r\n"), 58);
        const QByteArray utf16be("\xFE\xFF\0[\0O\0r\0v\0a\0n\0t\0e\0l\0]\0\n\0A\0=\0x", 30);
        auto row = [](const char *name, const QByteArray &contents, const char *key, const char *defaultValue,
                      const char *expected) {
            QTest::newRow(name) << contents << QString::fromUtf8(key) << QString::fromUtf8(defaultValue)
                                << QString::fromUtf8(expected);
        };
        row("plain value", basic, "DBServerName", "", "sqlite:plant.db");
        row("blanks around key and value", basic, "RefreshInterval", "", "30");
        row("key without regard to case", basic, "refreshinterval", "", "30");
        row("missing key gives default", basic, "IncludePMWOs", "1", "1");
        row("default is trimmed", basic, "Missing", "  d  ", "d");
        row("present and empty is not the default", basic, "Empty", "1", "");
        row("section without regard to case", "[ORVANTEL]\nDivision=D1\n", "Division", "", "D1");
        row("other section is not read", "[Other]\nDivision=X\n" + o + "Department=Y\n", "Division", "def", "def");
        row("key after the section ends", o + "A=1\n[Next]\nDivision=X\n", "Division", "", "");
        row("double quotes dropped", o + "AssetList=\"  P-1,P-2 \"\n", "AssetList", "", "P-1,P-2");
        row("single quotes dropped", o + "AssetList='abc'\n", "AssetList", "", "abc");
        row("unbalanced quote kept", o + "AssetList='abc\n", "AssetList", "", "'abc");
        row("inner quotes kept", o + "Division=O'Neil\n", "Division", "", "O'Neil");
        row("first key wins", o + "Division=A\nDivision=B\n", "Division", "", "A");
        row("equals sign in value", o + "DBPassword=a=b;c\n", "DBPassword", "", "a=b;c");
        row("comment lines", "; note\n" + o + ";Division=X\nDivision=Y\n", "Division", "", "Y");
        row("CR LF line ends", "[Orvantel]\r\nDivision=D2\r\n", "Division", "", "D2");
        row("CR-only line ends", "[Orvantel]\rDivision=D4\rDepartment=M4\r", "Department", "", "M4");
        row("byte-order mark", "\xEF\xBB\xBF" + o + "Division=D3\n", "Division", "", "D3");
        row("NUL ends a value", withNul, "Division", "", "D5");
        row("line after a NUL still read", withNul, "Department", "", "M5");
        row("UTF-16 little-endian with byte-order mark", utf16le, "Division", "", "Fräsen");
        row("UTF-16 big-endian with byte-order mark", utf16be, "A", "", "x");
        row("UTF-8 text", o + "Department=Fräsen\n", "Department", "", "Fräsen");
        row("no section at all", "Division=X\n", "Division", "none", "none");
        row("empty file", "", "Division", "none", "none");
        row("long value read whole", o + "AssetList=" + QByteArray(200, 'A') + '\n', "AssetList", "",
            QByteArray(200, 'A').constData());
    }
    void readProfileString()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, key);
        QFETCH(QString, defaultValue);
        QFETCH(QString, expected);
        QCOMPARE(modINI::readProfileString(contents, QStringLiteral("Orvantel"), key, defaultValue), expected);
    }
    void loadsOnlyASettingsFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected"); // IncludePMWOs as read (default "1"), or the error; %1: the file
        const QString notRead = QStringLiteral("Error 3002\r\nThe settings file %1 was not read: ");
        QTest::addRow("no file: every key takes its default") << "none"
                                                              << "1";
        QTest::addRow("exactly 1 MiB is read") << "1048576 bytes"
                                               << "0";
        QTest::addRow("one byte beyond 1 MiB") << "1048577 bytes" << notRead + u"it is larger than 1048576 bytes"_qs;
        QTest::addRow("FIFO (never waited on)") << "fifo" << notRead + u"it is not a regular file"_qs;
        QTest::addRow("folder") << "folder" << notRead + u"it is not a regular file"_qs;
        QTest::addRow("device") << "device" << notRead + u"it is not a regular file"_qs;
    }
    void loadsOnlyASettingsFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dir.path()));
        const QString path = modINI::settingsFilePath();
        QCOMPARE(path, dir.path() + QStringLiteral("/OrvantelWO.ini"));
        QFile file(path);
        if (kind.endsWith(QLatin1String(" bytes"))) {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Orvantel]\nIncludePMWOs=0\n");
            file.write(QByteArray(kind.section(u' ', 0, 0).toInt() - file.size(), ';'));
            file.close();
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == u"folder") {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("OrvantelWO.ini")));
        } else if (kind == u"device") {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        }
        QString read;
        try {
            read = modINI::Profile::load().ReadINI(QStringLiteral("IncludePMWOs"), QStringLiteral("1"));
        } catch (const Orvantel::ControlError &error) {
            read = error.messageText();
        }
        QCOMPARE(read, expected.replace(QLatin1String("%1"), path));
        qunsetenv("ORVANTEL_CONFIG_DIR");
        QCOMPARE(modINI::settingsFilePath(), QStringLiteral("/etc/OrvantelWO.ini"));
    }
};

QTEST_APPLESS_MAIN(ModIniTest)
#include "tst_modini.moc"
