#pragma once

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

/// What to generate. Every choice is drawn from a fixed-seed generator, so the same
/// options always give the same rows on either engine.
struct Options
{
    /// Work orders to generate. 0 means "the demo plant" (about 1,500 work orders).
    int workOrders = 0;
    /// Linked files to generate (about 200 for the demo plant).
    int linkedFiles = 200;
    quint32 seed = 20261206;
};

/// Creates the maintenance database's tables, views and the work-order creation
/// procedure in an open, empty database (QSQLITE or QPSQL).
void createSchema(QSqlDatabase db);

/// Fills a database made by createSchema().
void populate(QSqlDatabase db, const Options &options = Options());

/// Creates a new SQLite file at path (replacing any file there) with schema and data.
void createSqliteFile(const QString &path, const Options &options = Options());

/// Writes the files that the generated linked-file rows name (small real images,
/// a PDF, a text and an HTML page) into folder, creating it.
void writeLinkedFiles(const QString &folder, const Options &options = Options());

} // namespace Orvantel::DemoData
