#pragma once

#include "sqldialect.h"

#include <QObject>
#include <QString>

#include <memory>

namespace Orvantel {

class Database;
class Recordset;

/// A long-lived data source that feeds one grid: a connection string and a statement;
/// refresh() runs the statement and replaces the rows of its recordset in one model reset.
///
/// The connection is opened on first use and kept (an SQLite connection while the file at
/// its path is still the one it opened). When the connection string changes the next
/// refresh opens a new connection. When the server went away, refresh() fails
/// with the driver's error and the recordset keeps the rows it had; the next refresh
/// after the server came back reconnects by itself.
class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(QObject *parent = nullptr);
    ~DataSource() override;

    QString connectionString() const;
    void setConnectionString(const QString &connectionString);

    /// The statement refresh() runs: SQL text and the values bound to it.
    Statement recordSource() const;
    /// baseOrder is the order the statement delivers its rows in (its ORDER BY as a sort
    /// text, e.g. "WO_Nbr DESC"; empty when it has none): the recordset places rows
    /// merged into it by that order (Recordset::setBaseOrder()).
    void setRecordSource(const Statement &statement, const QString &baseOrder = QString());

    /// The dialect of the database the connection string leads to (known without
    /// connecting), for building the record source.
    SqlDialect dialect() const;

    /// Makes this source use owner's connection whenever the two have the same connection
    /// string and base directory, so that two grids of one control on one server hold one
    /// connection between them. owner opens, keeps and reopens it.
    void shareConnectionOf(DataSource *owner);

    /// Relative SQLite paths in the connection string are taken from here
    /// (configDirectory() when empty).
    void setBaseDirectory(const QString &directory);

    /// Runs the record source. Throws ControlError on failure.
    void refresh();

    /// The open result; never null, empty until the first successful refresh.
    Recordset *recordset() const;

    /// The connection in use (owner's when shared), or null before the first refresh.
    Database *database() const;

Q_SIGNALS:
    void refreshed();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Orvantel
