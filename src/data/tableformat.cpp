#include "tableformat.h"

#include <QRegularExpression>

namespace Orvantel {

QString oneLineText(const QString &text)
{
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar &c : line) {
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    }
    return line;
}

QString tabSeparatedText(const TextTable &table)
{
    QString text;
    for (const QStringList &row : table) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                text += u'\t';
            text += oneLineText(row[i]);
        }
        text += u'\n';
    }
    return text;
}

QString htmlTable(const TextTable &table)
{
    QString html = QStringLiteral("<meta charset=\"utf-8\"><table>");
    for (qsizetype r = 0; r < table.size(); ++r) {
        const QLatin1String open(r == 0 ? "<th>" : "<td>");
        const QLatin1String close(r == 0 ? "</th>" : "</td>");
        html += QLatin1String("<tr>");
        for (const QString &cell : table[r])
            html += open + oneLineText(cell).toHtmlEscaped() + close;
        html += QLatin1String("</tr>");
    }
    return html + QLatin1String("</table>");
}

bool isPlainNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("\\A[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\z"));
    return number.match(text).hasMatch();
}

QString csvField(const QString &text)
{
    QString field = text;
    if (!field.isEmpty() && QStringView(u"=+-@\t\r").contains(field.front()) && !isPlainNumber(field))
        field.prepend(u'\'');
    if (field.contains(u'"') || field.contains(u',') || field.contains(u'\n') || field.contains(u'\r')) {
        field.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        field = u'"' + field + u'"';
    }
    return field;
}

QByteArray csvRecord(const QStringList &cells)
{
    QString record;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            record += u',';
        record += csvField(cells[i]);
    }
    record += QLatin1String("\r\n");
    return record.toUtf8();
}

QByteArray utf8ByteOrderMark()
{
    return QByteArrayLiteral("\xEF\xBB\xBF");
}

} // namespace Orvantel
