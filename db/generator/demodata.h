#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>

#include <stdexcept>

namespace Orvantel::DemoData {

/// Thrown when a schema or data statement fails; what() names the statement's error.
struct Error : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

/// Work orders in the demo plant (Options::workOrders == 0).
constexpr int DemoWorkOrderCount = 1500;
/// Number of the oldest generated work order; the others follow without gaps.
constexpr int FirstWorkOrderNumber = 10001;

/// The day the generated plant is "today" when Options::today is null.
inline const QDate DefaultToday(2026, 1, 1);

/// Weeks before today over which the open work orders are spread.
constexpr int OpenWeeks = 8;
/// Weeks after today in which the upcoming preventive maintenance falls.
constexpr int UpcomingWeeks = 6;

/// What to generate. Every choice is drawn from a fixed-seed generator, so the same
/// options always give the same rows on either engine.
struct Options
{
    /// Work orders to generate. 0 means "the demo plant" (about 1,500 work orders).
    int workOrders = 0;
    /// Linked files to generate (about 200 for the demo plant).
    int linkedFiles = 200;
    quint32 seed = 20261206;
    /// Whether createSchema() installs postgresql/notify.sql on PostgreSQL (SQLite
    /// has no notifications and ignores it). False makes a database like a
    /// customer's that never installed it.
    bool changeNotifications = true;
    /// The day the plant is seen on: the open work orders are dated over the
    /// OpenWeeks before it, upcoming PMs over the UpcomingWeeks after it, and
    /// completed and closed work orders before the open ones. Null means
    /// DefaultToday, so that data stays the same from one day to the next. Only
    /// the dates depend on it: another day moves every date by the same number of
    /// days and leaves the rest of the rows as they were.
    QDate today = {};
};

/// Creates the maintenance database's tables, views and the work-order creation
/// procedure in an open, empty database (QSQLITE or QPSQL), in one transaction. On
/// PostgreSQL it also installs the change notifications (postgresql/notify.sql)
/// unless options.changeNotifications is false.
void createSchema(QSqlDatabase db, const Options &options = Options());

/// Installs (or reinstalls) postgresql/notify.sql in an open PostgreSQL database
/// that has the schema, in one transaction. Throws Error for other engines.
void installChangeNotifications(QSqlDatabase db);

/// Fills a database made by createSchema().
void populate(QSqlDatabase db, const Options &options = Options());

/// Creates a new SQLite file at path (replacing any file there) with schema and data.
void createSqliteFile(const QString &path, const Options &options = Options());

/// Writes the files that the generated linked-file rows name (small real images,
/// a PDF, a text and an HTML page) into folder, creating it.
void writeLinkedFiles(const QString &folder, const Options &options = Options());

} // namespace Orvantel::DemoData
