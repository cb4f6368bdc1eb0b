#include "previewaddress.h"

#include <QRegularExpression>

namespace Orvantel {

QUrl previewBaseUrl()
{
    QString base = QString::fromUtf8(ORVANTEL_PREVIEW_BASE_URL);
    if (!base.endsWith(u'/'))
        base += u'/';
    return QUrl(base);
}

bool leavesBaseFolder(const QString &fileName)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    const QStringList segments = fileName.split(separators);
    return segments.contains(QStringLiteral(".."));
}

QUrl previewAddress(const QUrl &base, const QString &fileName)
{
    if (leavesBaseFolder(fileName))
        return {};
    QByteArray address = base.toEncoded();
    if (!address.endsWith('/'))
        address += '/';
    // Sub-delimiters, ':' and '@' are legal inside a path segment and stay readable.
    address += QUrl::toPercentEncoding(fileName, QByteArrayLiteral("/!$&'()*+,;=:@"));
    return QUrl::fromEncoded(address, QUrl::StrictMode);
}

QString refusedFileNameText(const QString &fileName)
{
    return QStringLiteral("The file name \"") + fileName
            + QStringLiteral("\" points outside the folder of linked files, so it is not opened.");
}

} // namespace Orvantel
