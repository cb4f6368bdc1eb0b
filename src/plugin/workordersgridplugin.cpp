#include "workordersgridplugin.h"

#include "workordersgrid.h"

#include <QIcon>

WorkOrdersGridPlugin::WorkOrdersGridPlugin(QObject *parent)
    : QObject(parent)
{}

QString WorkOrdersGridPlugin::name() const
{
    return QStringLiteral("WorkOrdersGrid");
}

QString WorkOrdersGridPlugin::group() const
{
    return QStringLiteral("Orvantel");
}

QString WorkOrdersGridPlugin::toolTip() const
{
    return QStringLiteral("Maintenance work orders of a set of assets");
}

QString WorkOrdersGridPlugin::whatsThis() const
{
    return QStringLiteral("Shows open, preventive-maintenance and closed work orders and the linked files of the "
                          "assets configured in OrvantelWO.ini.");
}

QString WorkOrdersGridPlugin::includeFile() const
{
    return QStringLiteral("workordersgrid.h");
}

QIcon WorkOrdersGridPlugin::icon() const
{
    return {};
}

bool WorkOrdersGridPlugin::isContainer() const
{
    return false;
}

QWidget *WorkOrdersGridPlugin::createWidget(QWidget *parent)
{
    // Inside Designer (which initializes the plugin; QUiLoader does not) the control is only
    // drawn: it must not read settings or connect, and must know that before it is made.
    return new WorkOrdersGrid(parent, m_initialized ? WorkOrdersGrid::NoStartUp : WorkOrdersGrid::StartUpFromSettings);
}

bool WorkOrdersGridPlugin::isInitialized() const
{
    return m_initialized;
}

void WorkOrdersGridPlugin::initialize(QDesignerFormEditorInterface *)
{
    m_initialized = true;
}

QString WorkOrdersGridPlugin::domXml() const
{
    return QStringLiteral("<ui language=\"c++\">\n"
                          " <widget class=\"WorkOrdersGrid\" name=\"workOrdersGrid\"/>\n"
                          "</ui>\n");
}
