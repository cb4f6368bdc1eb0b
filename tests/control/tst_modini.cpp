#include "control/modini.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

/// The settings file reader.
class ModIniTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readProfileString_data();
    void readProfileString();
    void readsTheSettingsFolder();
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
    QCOMPARE(modINI::ReadINI(QStringLiteral("IncludePMWOs"), QStringLiteral("1")), QStringLiteral("1"));
    QFile file(modINI::settingsFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Orvantel]\nIncludePMWOs=0\n");
    file.close();
    QCOMPARE(modINI::ReadINI(QStringLiteral("IncludePMWOs"), QStringLiteral("1")), QStringLiteral("0"));
    qunsetenv("ORVANTEL_CONFIG_DIR");
    QCOMPARE(modINI::settingsFilePath(), QStringLiteral("/etc/OrvantelWO.ini"));
}

QTEST_APPLESS_MAIN(ModIniTest)
#include "tst_modini.moc"
