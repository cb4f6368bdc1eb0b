#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Orvantel {

/// Rows of cell texts; the first row holds the column captions.
using TextTable = QList<QStringList>;

/// text on one line: every line break (CR LF, LF or CR) and every tab becomes one blank,
/// so that the text keeps to its cell in a tab-separated copy.
QString oneLineText(const QString &text);

/// The table as tab-separated plain text, one line per row, each ended by LF; cells are
/// written on one line (oneLineText()).
QString tabSeparatedText(const TextTable &table);

/// The table as an HTML table for spreadsheets and mail clients: the first row as header
/// cells, every text escaped and on one line, declared as UTF-8.
QString htmlTable(const TextTable &table);

/// Whether text is a plain decimal number ("-5", "3.25", "+1e3"), as a spreadsheet reads one.
bool isPlainNumber(const QString &text);

/// text as one field of a CSV record (RFC 4180): in double quotes, inner ones doubled,
/// when it holds a quote, a comma, CR or LF; line breaks are kept inside the quotes.
///
/// A text that is not a plain number and starts with "=", "+", "-", "@", a tab or CR is
/// what a spreadsheet runs as a formula (and a crafted request could then run commands or
/// leak data when the file is opened). It gets a leading apostrophe, the usual guard: the
/// spreadsheet shows the text as text. Negative numbers stay numbers.
QString csvField(const QString &text);

/// One CSV record of cells, in UTF-8, ended by CR LF.
QByteArray csvRecord(const QStringList &cells);

/// The UTF-8 byte-order mark a CSV file starts with, so that spreadsheets read it as UTF-8.
QByteArray utf8ByteOrderMark();

} // namespace Orvantel
