#pragma once

#include "datagrid.h"

#include <QString>

namespace Orvantel {

/// The style of a Priority cell: black text on red for "1" (meaning "urgent"), on yellow
/// for "2" ("high"); any other text keeps the normal style (invalid colours).
CellStyle priorityCellStyle(const QString &priorityText);

/// The most characters of a cell's text that the grid's tooltip, its one-line display
/// and the request box show.
constexpr qsizetype MaxShownTextLength = 65536;

/// text as a cell shows it: whole up to MaxShownTextLength characters, else its first
/// MaxShownTextLength characters (one less rather than half a surrogate pair) and "…".
/// Laying out a multi-megabyte text would freeze the screen.
QString shownCellText(const QString &text);

/// The direction a header click sorts in, from the column's stored state: "DESC" after
/// an ascending sort ("A", exact), otherwise "" (ascending).
QString nextSortDirection(const QString &columnState);

/// The sort text: the data field, one blank, and the direction ("AssetCode " or
/// "AssetCode DESC").
QString sortOrderText(const QString &dataField, const QString &direction);

/// The state stored on the column after a sort: "D" for "DESC", "A" otherwise.
QString sortState(const QString &direction);

/// The request box's title: "PM 123" when the status text is "PM" (exact), else
/// "Work Order 123".
QString requestTitle(const QString &statusText, const QString &number);

} // namespace Orvantel
