#include "baselines.h"
#include "memoryprobe.h"
#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Bench;

namespace {

constexpr double NoTarget = std::numeric_limits<double>::quiet_NaN();

Comparison comparison(double ours, double baseline, double target)
{
    Comparison c;
    c.scenario = QStringLiteral("x");
    c.ours = ours;
    c.baseline = baseline;
    c.unit = QStringLiteral("ms");
    c.target = target;
    return c;
}

} // namespace

/// The figures and verdicts the benchmark reports, and the text it reads.
class BenchReportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void medianOfSamples_data();
    void medianOfSamples();
    void verdicts_data();
    void verdicts();
    void jsonCarriesEveryComparison();
    void connectionInfo_data();
    void connectionInfo();
    void memoryFiguresSurviveTheChildsOutput();
    void procStatus();
};

void BenchReportTest::medianOfSamples_data()
{
    QTest::addColumn<std::vector<double>>("samples");
    QTest::addColumn<double>("expected");
    QTest::addRow("one") << std::vector<double> {7} << 7.0;
    QTest::addRow("odd, unsorted, outlier ignored") << std::vector<double> {9, 1, 500, 3, 4} << 4.0;
    QTest::addRow("even: mean of the middle two") << std::vector<double> {10, 2, 4, 8} << 6.0;
    QTest::addRow("even with ties") << std::vector<double> {5, 5, 1, 9} << 5.0;
}

void BenchReportTest::medianOfSamples()
{
    QFETCH(std::vector<double>, samples);
    QFETCH(double, expected);
    QCOMPARE(median(samples), expected);
    QVERIFY(std::isnan(median({})));
}

void BenchReportTest::verdicts_data()
{
    QTest::addColumn<double>("ours");
    QTest::addColumn<double>("baseline");
    QTest::addColumn<double>("target");
    QTest::addColumn<bool>("checkPassed");
    QTest::addColumn<bool>("met");
    QTest::addRow("at most 1.5x: exactly on the bound") << 150.0 << 100.0 << 1.5 << false << true;
    QTest::addRow("at most 1.5x: just over") << 150.1 << 100.0 << 1.5 << false << false;
    QTest::addRow("twice as fast: met") << 50.0 << 100.0 << 0.5 << false << true;
    QTest::addRow("twice as fast: slower is a miss") << 100.0 << 60.0 << 0.5 << false << false;
    QTest::addRow("no baseline: never met") << 1.0 << 0.0 << 1.5 << false << false;
    QTest::addRow("condition holds, ratio irrelevant") << 900.0 << 1.0 << NoTarget << true << true;
    QTest::addRow("condition fails, ratio small") << 1.0 << 900.0 << NoTarget << false << false;
}

void BenchReportTest::verdicts()
{
    QFETCH(double, ours);
    QFETCH(double, baseline);
    QFETCH(double, target);
    QFETCH(bool, checkPassed);
    QFETCH(bool, met);
    Comparison c = comparison(ours, baseline, target);
    c.check = QStringLiteral("holds");
    c.checkPassed = checkPassed;
    QCOMPARE(c.met(), met);
    QVERIFY(Report::line(c).endsWith(met ? QStringLiteral("  met") : QStringLiteral("  MISSED")));
}

void BenchReportTest::jsonCarriesEveryComparison()
{
    FILE *sink = std::fopen("/dev/null", "w");
    QVERIFY(sink);
    Report report(sink);
    report.add(comparison(120, 100, 1.5));
    Comparison check = comparison(30, 0, NoTarget);
    check.check = QStringLiteral("same WO current");
    check.checkPassed = true;
    report.add(check);
    std::fclose(sink);
    QCOMPARE(report.summary(), QStringLiteral("2 of 2 targets met"));

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(report.toJson(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray list = document.array();
    QCOMPARE(list.size(), 2);
    const QStringList keys
            = {QStringLiteral("baseline"), QStringLiteral("met"),    QStringLiteral("ours"), QStringLiteral("ratio"),
               QStringLiteral("scenario"), QStringLiteral("target"), QStringLiteral("unit")};
    QCOMPARE(list.at(0).toObject().keys(), keys);
    QCOMPARE(list.at(0).toObject().value(QStringLiteral("ratio")).toDouble(), 1.2);
    QCOMPARE(list.at(0).toObject().value(QStringLiteral("target")).toDouble(), 1.5);
    // No baseline: the ratio is null rather than an invalid JSON number.
    QVERIFY(list.at(1).toObject().value(QStringLiteral("ratio")).isNull());
    QCOMPARE(list.at(1).toObject().value(QStringLiteral("target")).toString(), QStringLiteral("same WO current"));
    QCOMPARE(list.at(1).toObject().value(QStringLiteral("met")).toBool(), true);
}

void BenchReportTest::connectionInfo_data()
{
    QTest::addColumn<QString>("conninfo");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("password");
    QTest::addRow("the script's form") << "host=127.0.0.1 port=56432 dbname=orvantel_bench user=u password=Ab1" << true
                                       << "127.0.0.1" << 56432 << "Ab1";
    QTest::addRow("quoted value with blanks and an escaped quote")
            << "host = ::1  password='a b\\'c' port=5" << true << "::1" << 5 << "a b'c";
    QTest::addRow("empty: defaults") << "" << true << "127.0.0.1" << 5432 << "";
    QTest::addRow("unterminated quote") << "password='abc" << false << "" << 0 << "";
    QTest::addRow("port not a number") << "port=five" << false << "" << 0 << "";
    QTest::addRow("port out of range") << "port=70000" << false << "" << 0 << "";
    QTest::addRow("unknown key") << "sslmode=require" << false << "" << 0 << "";
    QTest::addRow("no equals sign") << "host" << false << "" << 0 << "";
}

void BenchReportTest::connectionInfo()
{
    QFETCH(QString, conninfo);
    QFETCH(bool, valid);
    const std::optional<PgSettings> settings = PgSettings::parse(conninfo);
    QCOMPARE(settings.has_value(), valid);
    if (!valid)
        return;
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, password);
    QCOMPARE(settings->host, host);
    QCOMPARE(settings->port, port);
    QCOMPARE(settings->password, password);
}

void BenchReportTest::memoryFiguresSurviveTheChildsOutput()
{
    MemoryFigures written;
    written.beforeKiB = 51200;
    written.emptyKiB = 60000;
    written.peakKiB = 160000;
    written.loadedKiB = 150000;
    written.rows = 250000;
    written.peakReset = true;
    const QByteArray output = "Qt warning on stdout\n" + written.toLine().toUtf8() + "\ntrailing\n";
    MemoryFigures read;
    QVERIFY(MemoryFigures::fromOutput(output, &read));
    QCOMPARE(read.beforeKiB, written.beforeKiB);
    QCOMPARE(read.emptyKiB, written.emptyKiB);
    QCOMPARE(read.peakKiB, written.peakKiB);
    QCOMPARE(read.loadedKiB, written.loadedKiB);
    QCOMPARE(read.rows, written.rows);
    QCOMPARE(read.peakReset, true);

    QVERIFY(!MemoryFigures::fromOutput("no figures here\n", &read));
    QVERIFY(!MemoryFigures::fromOutput("memory-probe: before=1 empty=2\n", &read));
}

void BenchReportTest::procStatus()
{
    const ProcStatus status = ProcStatus::parse("Name:\tbench\nVmHWM:\t  204800 kB\nVmRSS:\t  102400 kB\n");
    QCOMPARE(status.peakKiB, qint64(204800));
    QCOMPARE(status.rssKiB, qint64(102400));
    QCOMPARE(ProcStatus::parse("Name:\tbench\n").rssKiB, qint64(-1));

    const ProcStatus self = ProcStatus::read();
    QVERIFY(self.rssKiB > 0);
    QVERIFY(self.peakKiB >= self.rssKiB);
}

QTEST_GUILESS_MAIN(BenchReportTest)
#include "tst_benchreport.moc"
