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
    void readProfileString_data();
    void readProfileString();
    void readsTheSettingsFolder();
    void refusesFilesThatAreNoSettings_data();
    void refusesFilesThatAreNoSettings();
};

void ModIniTest::readProfileString_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<QString>("expected");
    const QByteArray basic = "[Orvantel]\nDBServerName=sqlite:plant.db\nRefreshInterval = 30 \nEmpty=\n";
    QTest::addRow("plain value") << basic << "DBServerName" << "" << "sqlite:plant.db";
    QTest::addRow("blanks around key and value") << basic << "RefreshInterval" << "" << "30";
    QTest::addRow("key without regard to case") << basic << "refreshinterval" << "" << "30";
    QTest::addRow("missing key gives default") << basic << "IncludePMWOs" << "1" << "1";
    QTest::addRow("default is trimmed") << basic << "Missing" << "  d  " << "d";
    QTest::addRow("present and empty is not the default") << basic << "Empty" << "1" << "";
    QTest::addRow("section without regard to case")
        << QByteArray("[ORVANTEL]\nDivision=D1\n") << "Division" << "" << "D1";
    QTest::addRow("other section is not read")
        << QByteArray("[Other]\nDivision=X\n[Orvantel]\nDepartment=Y\n") << "Division" << "def" << "def";
    QTest::addRow("key after the section ends is not read")
        << QByteArray("[Orvantel]\nA=1\n[Next]\nDivision=X\n") << "Division" << "" << "";
    QTest::addRow("double quotes dropped") << QByteArray("[Orvantel]\nAssetList=\"  P-1,P-2 \"\n") << "AssetList"
                                           << "" << "P-1,P-2";
    QTest::addRow("single quotes dropped") << QByteArray("[Orvantel]\nAssetList='abc'\n") << "AssetList" << ""
                                           << "abc";
    QTest::addRow("unbalanced quote kept") << QByteArray("[Orvantel]\nAssetList='abc\n") << "AssetList" << ""
                                           << "'abc";
    QTest::addRow("inner quotes kept") << QByteArray("[Orvantel]\nDivision=O'Neil\n") << "Division" << ""
                                       << "O'Neil";
    QTest::addRow("first key wins") << QByteArray("[Orvantel]\nDivision=A\nDivision=B\n") << "Division" << ""
                                    << "A";
    QTest::addRow("equals sign in value") << QByteArray("[Orvantel]\nDBPassword=a=b;c\n") << "DBPassword" << ""
                                          << "a=b;c";
    QTest::addRow("comment lines") << QByteArray("; note\n[Orvantel]\n;Division=X\nDivision=Y\n") << "Division"
                                   << "" << "Y";
    QTest::addRow("CR LF line ends") << QByteArray("[Orvantel]\r\nDivision=D2\r\n") << "Division" << ""
                                     << "D2";
    QTest::addRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[Orvantel]\nDivision=D3\n") << "Division" << ""
                                     << "D3";
    QTest::addRow("CR-only line ends") << QByteArray("[Orvantel]\rDivision=D4\rDepartment=M4\r") << "Department"
                                       << "" << "M4";
    QTest::addRow("NUL ends a value") << QByteArray("[Orvantel]\nDivision=D5\0hidden\nDepartment=M5\n", 44)
                                      << "Division" << "" << "D5";
    QTest::addRow("line after a NUL still read")
        << QByteArray("[Orvantel]\nDivision=D5\0hidden\nDepartment=M5\n", 44) << "Department" << "" << "M5";
    QTest::addRow("UTF-16 little-endian with byte-order mark")
        << QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(u"[Orvantel]\r\nDivision=Fräsen\r\n"), 58)
        << "Division" << "" << QStringLiteral("Fräsen");
    QTest::addRow("UTF-16 big-endian with byte-order mark")
        << QByteArray("\xFE\xFF\0[\0O\0r\0v\0a\0n\0t\0e\0l\0]\0\n\0A\0=\0x", 30) << "A" << "" << "x";
    QTest::addRow("UTF-8 text") << QByteArray("[Orvantel]\nDepartment=Fräsen\n") << "Department" << ""
                                << QStringLiteral("Fräsen");
    QTest::addRow("no section at all") << QByteArray("Division=X\n") << "Division" << "none" << "none";
    QTest::addRow("empty file") << QByteArray() << "Division" << "none" << "none";
    const QByteArray longList = "[Orvantel]\nAssetList=" + QByteArray(200, 'A') + "\n";
    QTest::addRow("long value read whole") << longList << "AssetList" << "" << QString(200, u'A');
}

void ModIniTest::readProfileString()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, key);
    QFETCH(QString, defaultValue);
    QFETCH(QString, expected);
    QCOMPARE(modINI::readProfileString(contents, QStringLiteral("Orvantel"), key, defaultValue), expected);
}

void ModIniTest::readsTheSettingsFolder()
{
    QTemporaryDir dir;
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dir.path()));
    QCOMPARE(modINI::settingsFilePath(), dir.path() + QStringLiteral("/OrvantelWO.ini"));
    QCOMPARE(modINI::Profile::load().ReadINI(QStringLiteral("IncludePMWOs"), QStringLiteral("1")), QStringLiteral("1"));
    QFile file(modINI::settingsFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Orvantel]\nIncludePMWOs=0\n");
    file.write(QByteArray(modINI::MaxSettingsFileSize - file.size(), ';')); // exactly at the limit
    file.close();
    QCOMPARE(modINI::Profile::load().ReadINI(QStringLiteral("IncludePMWOs"), QStringLiteral("1")), QStringLiteral("0"));
    qunsetenv("ORVANTEL_CONFIG_DIR");
    QCOMPARE(modINI::settingsFilePath(), QStringLiteral("/etc/OrvantelWO.ini"));
}

void ModIniTest::refusesFilesThatAreNoSettings_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addRow("one byte beyond 1 MiB") << "large" << "it is larger than 1048576 bytes";
    QTest::addRow("FIFO (never waited on)") << "fifo" << "it is not a regular file";
    QTest::addRow("folder") << "folder" << "it is not a regular file";
    QTest::addRow("device") << "device" << "it is not a regular file";
}

void ModIniTest::refusesFilesThatAreNoSettings()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dir.path()));
    const QString path = modINI::settingsFilePath();
    if (kind == u"large") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Orvantel]\nDivision=D1\n" + QByteArray(modINI::MaxSettingsFileSize, ';'));
    } else if (kind == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == u"folder") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("OrvantelWO.ini")));
    } else {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    }
    try {
        modINI::Profile::load();
        QFAIL("the file was read");
    } catch (const Orvantel::ControlError &error) {
        QCOMPARE(error.number, 3002);
        QCOMPARE(error.description, QStringLiteral("The settings file %1 was not read: %2").arg(path, reason));
    }
    qunsetenv("ORVANTEL_CONFIG_DIR");
}

QTEST_APPLESS_MAIN(ModIniTest)
#include "tst_modini.moc"
