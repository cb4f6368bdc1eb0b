#pragma once

#include "baselines.h"

#include <QString>

#include <optional>

namespace Bench {

class Report;

/// What the scenarios run against.
struct Setup
{
    QString sqlitePath; ///< the benchmark database; empty when not given
    std::optional<PgSettings> postgresql;
    QString psql; ///< the psql program of the PostgreSQL scenario
    int repetitions = 5;
    int displays = 20; ///< controls of the PostgreSQL change scenario
    QString program; ///< this executable, re-run for the memory probe
};

/// The measurements. Each adds its comparisons to the report and throws Failure when
/// it cannot be taken.
class Scenarios
{
public:
    Scenarios(const Setup &setup, Report &report)
        : m_setup(setup)
        , m_report(report)
    {}

    /// RefreshData of every work order from SQLite, against a raw sqlite3_step loop
    /// and against QSqlQueryModel + QSortFilterProxyModel.
    void refreshSqlite();
    /// RefreshData of every work order from PostgreSQL, against psql's COPY.
    void refreshPostgresql();
    /// A header-click sort on a text and a number column, against std::stable_sort of
    /// the column alone and against QSortFilterProxyModel::sort.
    void sort();
    /// Timer ticks loading in the background with a sort in force, SQLite and PostgreSQL:
    /// the longest gap between firings of a 1 ms timer on the GUI thread per tick, the
    /// swap's share, and whether the current work order survives.
    void tickStall();
    /// The worker's SQLite load (read and stored, no sort) against a raw sqlite3_step loop.
    void backgroundLoad();
    /// Single inserts by another connection until every one of Setup::displays controls on
    /// PostgreSQL shows them (COMMIT returned to the last model announcing the row), and
    /// the statements the server ran for them (pg_stat_statements).
    void changesPostgresql();
    /// The same with one control on a copy of the SQLite database.
    void changesSqlite();
    /// Merging one changed work order into every work order shown with a sort in force,
    /// as a change notification does: the time the UI thread spends in Recordset::merge
    /// (the views attached), against a refresh of everything.
    void merge();
    /// Peak memory growth of loading every work order, against the result's text size.
    void memory();
    /// Creating the control until its first frame is drawn, against a QTableView on a
    /// QSqlQueryModel.
    void startUp();

private:
    Setup m_setup;
    Report &m_report;
};

} // namespace Bench
