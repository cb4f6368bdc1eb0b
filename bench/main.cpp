// orvantel-bench: times the work-order control against the raw database engines and
// the naive QSqlQueryModel way, all in the same run, and prints the ratios.

#include "baselines.h"
#include "gridsetup.h"
#include "memoryprobe.h"
#include "report.h"
#include "scenarios.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

namespace {

using namespace Bench;

struct ScenarioEntry
{
    QString name;
    bool needsSqlite;
    bool needsPostgresql;
    void (Scenarios::*run)();
};

const std::vector<ScenarioEntry> &scenarioTable()
{
    static const std::vector<ScenarioEntry> table = {
            {QStringLiteral("refresh-sqlite"), true, false, &Scenarios::refreshSqlite},
            {QStringLiteral("refresh-postgresql"), false, true, &Scenarios::refreshPostgresql},
            {QStringLiteral("sort"), true, false, &Scenarios::sort},
            {QStringLiteral("tick-stall"), true, false, &Scenarios::tickStall},
            {QStringLiteral("background-load"), true, false, &Scenarios::backgroundLoad},
            {QStringLiteral("changes-postgresql"), false, true, &Scenarios::changesPostgresql},
            {QStringLiteral("changes-sqlite"), true, false, &Scenarios::changesSqlite},
            {QStringLiteral("merge"), true, false, &Scenarios::merge},
            {QStringLiteral("memory"), true, false, &Scenarios::memory},
            {QStringLiteral("startup"), false, false, &Scenarios::startUp},
    };
    return table;
}

void printError(const QString &text)
{
    std::fprintf(stderr, "orvantel-bench: %s\n", qPrintable(text));
}

/// The psql of the PostgreSQL 15 server packages, else the first on PATH (Debian's
/// /usr/bin/psql is a wrapper script whose start-up would be timed too).
QString defaultPsql()
{
    const QString server
            = QStandardPaths::findExecutable(QStringLiteral("psql"), {QStringLiteral("/usr/lib/postgresql/15/bin")});
    return server.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("psql")) : server;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvantel-bench"));

    QStringList names;
    for (const ScenarioEntry &entry : scenarioTable())
        names << entry.name;

    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Measures the work-order control against baselines measured in the same run and "
                           "prints the medians and their ratio.\nScenarios: ")
            + names.join(QStringLiteral(", ")));
    parser.addHelpOption();
    const QCommandLineOption sqliteOption(
            QStringLiteral("sqlite"), QStringLiteral("The SQLite benchmark database <file>."), QStringLiteral("file"));
    const QCommandLineOption postgresqlOption(
            QStringLiteral("postgresql"),
            QStringLiteral("The PostgreSQL benchmark database, as \"host=127.0.0.1 port=P dbname=D user=U "
                           "password=W\"."),
            QStringLiteral("conninfo"));
    const QCommandLineOption repetitionsOption(QStringLiteral("repetitions"),
                                               QStringLiteral("Timed runs of each contender (default 5)."),
                                               QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption displaysOption(
            QStringLiteral("displays"),
            QStringLiteral("Controls in the PostgreSQL change scenario (default 20; fewer where memory is short)."),
            QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Also write the results to <file>."),
                                        QStringLiteral("file"));
    const QCommandLineOption scenarioOption(
            QStringLiteral("scenario"),
            QStringLiteral("Run only <name> (repeat, or separate names by commas). Default: every scenario "
                           "whose database is given."),
            QStringLiteral("name"));
    const QCommandLineOption psqlOption(QStringLiteral("psql"),
                                        QStringLiteral("The psql program of the PostgreSQL baseline."),
                                        QStringLiteral("program"));
    QCommandLineOption probeOption(QStringLiteral("memory-probe"));
    probeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({sqliteOption, postgresqlOption, repetitionsOption, displaysOption, jsonOption, scenarioOption,
                       psqlOption, probeOption});
    parser.process(app);

    Setup setup;
    setup.program = QCoreApplication::applicationFilePath();
    if (parser.isSet(sqliteOption)) {
        const QFileInfo file(parser.value(sqliteOption));
        if (!file.isFile()) {
            printError(QStringLiteral("no SQLite database at %1").arg(file.filePath()));
            return 2;
        }
        setup.sqlitePath = file.absoluteFilePath();
    }
    if (parser.isSet(probeOption)) {
        if (setup.sqlitePath.isEmpty()) {
            printError(QStringLiteral("--memory-probe needs --sqlite"));
            return 2;
        }
        return runMemoryProbe(setup.sqlitePath);
    }
    if (parser.isSet(postgresqlOption)) {
        setup.postgresql = PgSettings::parse(parser.value(postgresqlOption));
        if (!setup.postgresql) {
            printError(QStringLiteral("cannot read the PostgreSQL connection: ") + parser.value(postgresqlOption));
            return 2;
        }
    }
    bool ok = false;
    setup.repetitions = parser.value(repetitionsOption).toInt(&ok);
    if (!ok || setup.repetitions < 1) {
        printError(QStringLiteral("--repetitions needs a whole number of at least 1"));
        return 2;
    }
    setup.displays = parser.value(displaysOption).toInt(&ok);
    if (!ok || setup.displays < 1) {
        printError(QStringLiteral("--displays needs a whole number of at least 1"));
        return 2;
    }
    setup.psql = parser.isSet(psqlOption) ? parser.value(psqlOption) : defaultPsql();

    QStringList chosen;
    for (const QString &value : parser.values(scenarioOption)) {
        for (const QString &name : value.split(u',', Qt::SkipEmptyParts)) {
            if (!names.contains(name.trimmed())) {
                printError(
                        QStringLiteral("unknown scenario %1 (known: %2)").arg(name, names.join(QStringLiteral(", "))));
                return 2;
            }
            chosen << name.trimmed();
        }
    }
    const bool explicitChoice = !chosen.isEmpty();

    std::vector<const ScenarioEntry *> toRun;
    for (const ScenarioEntry &entry : scenarioTable()) {
        if (explicitChoice && !chosen.contains(entry.name))
            continue;
        QString missing;
        if (entry.needsSqlite && setup.sqlitePath.isEmpty())
            missing = QStringLiteral("--sqlite");
        else if (entry.needsPostgresql && !setup.postgresql)
            missing = QStringLiteral("--postgresql");
        else if (entry.needsPostgresql && setup.psql.isEmpty())
            missing = QStringLiteral("--psql (no psql found)");
        if (!missing.isEmpty()) {
            if (explicitChoice) {
                printError(QStringLiteral("scenario %1 needs %2").arg(entry.name, missing));
                return 2;
            }
            std::printf("skipped %s: needs %s\n", qPrintable(entry.name), qPrintable(missing));
            continue;
        }
        toRun.push_back(&entry);
    }

    std::printf("orvantel-bench: medians of %d runs each; ratio = ours / baseline\n", setup.repetitions);
    std::fflush(stdout);
    installMessageWatcher();
    Report report;
    Scenarios scenarios(setup, report);
    QStringList failed;
    for (const ScenarioEntry *entry : toRun) {
        try {
            (scenarios.*(entry->run))();
        } catch (const std::exception &e) {
            printError(QStringLiteral("scenario %1 failed: %2").arg(entry->name, QString::fromUtf8(e.what())));
            failed << entry->name;
        }
    }

    std::printf("%s%s\n", qPrintable(report.summary()),
                failed.isEmpty() ? ""
                                 : qPrintable(QStringLiteral("; failed to run: ") + failed.join(QStringLiteral(", "))));
    if (parser.isSet(jsonOption)) {
        QString error;
        if (!report.writeJson(parser.value(jsonOption), &error)) {
            printError(QStringLiteral("cannot write %1: %2").arg(parser.value(jsonOption), error));
            return 1;
        }
    }
    return failed.isEmpty() ? 0 : 1;
}
