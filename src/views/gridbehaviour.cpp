#include "gridbehaviour.h"

namespace Orvantel {

CellStyle priorityCellStyle(const QString &priorityText)
{
    if (priorityText == QLatin1String("1"))
        return {QColor(0, 0, 0), QColor(255, 0, 0), QStringLiteral("urgent")};
    if (priorityText == QLatin1String("2"))
        return {QColor(0, 0, 0), QColor(255, 255, 0), QStringLiteral("high")};
    return {};
}

QString shownCellText(const QString &text)
{
    if (text.size() <= MaxShownTextLength)
        return text;
    qsizetype keep = MaxShownTextLength;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.first(keep) + QChar(0x2026);
}

QString nextSortDirection(const QString &columnState)
{
    return columnState == QLatin1String("A") ? QStringLiteral("DESC") : QString();
}

QString sortOrderText(const QString &dataField, const QString &direction)
{
    return dataField + u' ' + direction;
}

QString sortState(const QString &direction)
{
    return direction == QLatin1String("DESC") ? QStringLiteral("D") : QStringLiteral("A");
}

QString requestTitle(const QString &statusText, const QString &number)
{
    return (statusText == QLatin1String("PM") ? QStringLiteral("PM ") : QStringLiteral("Work Order ")) + number;
}

} // namespace Orvantel
