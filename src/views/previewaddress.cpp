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

namespace {

QStringList segments(const QString &fileName)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return fileName.split(separators);
}

int portOf(const QUrl &url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

} // namespace

bool leavesBaseFolder(const QString &fileName)
{
    return segments(fileName).contains(QStringLiteral(".."));
}

bool namesAFolder(const QString &fileName)
{
    const QString last = segments(fileName).constLast();
    return last.isEmpty() || last == QLatin1String(".");
}

bool insideBaseFolder(const QUrl &base, const QUrl &address)
{
    if (!address.isValid() || address.scheme() != base.scheme() || address.host() != base.host()
        || portOf(address) != portOf(base))
        return false;
    QString folder = base.path(QUrl::FullyEncoded);
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QString path = address.path(QUrl::FullyEncoded);
    if (!path.startsWith(folder))
        return false;
    for (const QString &segment : path.split(u'/')) {
        const QByteArray decoded = QByteArray::fromPercentEncoding(segment.toLatin1());
        if (decoded == "." || decoded == "..")
            return false;
    }
    return true;
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
