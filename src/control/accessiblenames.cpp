#include "workordersgrid_p.h"

#include "datagrid.h"

#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

using namespace Orvantel;

void WorkOrdersGridPrivate::describeChildren()
{
    // Buttons are named by their captions (what the operator sees is what a screen reader
    // says and voice control answers to); descriptions say what the caption leaves out.
    q->setAccessibleName(QStringLiteral("Maintenance Activity"));
    q->setAccessibleDescription(
            QStringLiteral("Work orders, upcoming PMs, work order history and linked files of the plant's assets"));
    Image1->setAccessibleName(QStringLiteral("Orvantel"));
    static const char *const views[] = {
            "Shows the open work orders",
            "Shows the preventive maintenance work orders coming up",
            "Shows the work orders completed or closed",
            "Shows the files linked to the assets",
    };
    for (size_t i = 0; i < optView.size(); ++i)
        optView[i]->setAccessibleDescription(QString::fromLatin1(views[i]));
    cmdNewWO->setAccessibleDescription(QStringLiteral("Raises a work request for an asset"));
    cmdConfig->setAccessibleDescription(QStringLiteral("Shows the refresh and filter settings"));
    cmdAbout->setAccessibleDescription(QStringLiteral("Names the control and its database"));

    const QString copyKey = QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText);
    grdWorkOrders->setAccessibleName(QStringLiteral("Work orders"));
    grdWorkOrders->setAccessibleDescription(
            QStringLiteral("Enter shows the current work order's request. %1 copies the selected rows; the context "
                           "menu also exports every row to a file.")
                    .arg(copyKey));
    TDBGrid1->setAccessibleName(QStringLiteral("Linked files"));
    TDBGrid1->setAccessibleDescription(
            QStringLiteral("Enter opens the current row's file in the preview window. %1 copies the selected rows; "
                           "the context menu also exports every row to a file.")
                    .arg(copyKey));
}
