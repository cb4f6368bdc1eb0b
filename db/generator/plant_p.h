#pragma once

#include "demodata.h"
#include "random_p.h"

#include <QDate>
#include <QList>
#include <QString>

namespace Orvantel::DemoData {

struct Division
{
    QString id;
    QString descr;
};

struct Department
{
    QString id;
    QString divisionId;
    QString descr;
};

/// The kind of machine an asset is; it decides what goes wrong with it.
enum class AssetFamily { Pump, Conveyor, Rotating, Press, Steam, Air, Packaging, Vehicle, Building, Electrical };

struct Asset
{
    QString code;
    QString descr; // null for a few assets
    QString type;
    QString location;
    QString divisionId;
    QString departmentId;
    AssetFamily family;
    int weight; // how often it needs work, relative to the others
};

struct User
{
    QString id;
    QString name; // null for shared accounts
    bool canRequestWork;
};

struct WorkOrder
{
    int number = 0;
    int asset = 0; // index into Plant::assets
    int status = 0;
    int priority = 0; // 0: none
    QString dateLoaded; // "YYYY-MM-DD HH:MM:SS"
    int requestedBy = -1; // index into Plant::users, -1: none
    int assignedTo = -1;
    QString workRequest; // null: none
    bool isPM = false;
};

enum class FileKind { Jpeg, Png, Pdf, Text, Html };

struct LinkedFile
{
    int id = 0;
    int asset = 0;
    QString docType;
    QString docDescr; // null for a few files
    QString fileName;
    FileKind kind = FileKind::Pdf;
    int variant = 0; // picks one of a few contents for images
};

/// The fixed part of the demo plant: divisions, departments, assets, users.
struct Plant
{
    QList<Division> divisions;
    QList<Department> departments;
    QList<Asset> assets;
    QList<User> users;

    static const Plant &instance();
};

/// Number of work orders the options ask for (the demo plant's when 0).
int workOrderCount(const Options &options);

/// Produces the work orders one at a time, oldest first, so that any number of
/// them can be written without holding them all in memory. They come in three
/// bands: history (completed and closed, a few of them PMs), then the open work
/// orders of the last OpenWeeks, then the upcoming PMs.
class WorkOrderStream
{
public:
    explicit WorkOrderStream(const Options &options);

    bool atEnd() const { return m_produced >= m_count; }
    WorkOrder next();

private:
    /// Seconds from the start of today for the index-th of count work orders in [start, end).
    qint64 placeInBand(int index, int count, qint64 start, qint64 end);
    QString workRequest(const Asset &asset);
    QString pmRequest(const Asset &asset);

    const Plant &m_plant;
    Random m_random;
    QDate m_today;
    int m_count;
    int m_openFrom = 0; // index of the first open work order, after the history
    int m_upcomingFrom = 0; // index of the first upcoming PM, after the open ones
    int m_produced = 0;
    int m_assetWeightTotal = 0;
    int m_requesters = 0;
};

/// The linked-file rows the options give, unique file names.
QList<LinkedFile> linkedFiles(const Options &options);

/// "YYYY-MM-DD HH:MM:SS" for a number of seconds after the start of day (may be negative).
QString timestampText(const QDate &day, qint64 seconds);

} // namespace Orvantel::DemoData
