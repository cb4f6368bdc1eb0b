#include "linkedfileserver.h"

#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponse>

namespace {

/// The segments of a percent-encoded relative path, decoded; empty when one of them is
/// empty (an absolute name, "//", a folder's trailing "/"), hidden or a dot segment
/// (starts with "."), or holds a separator or NUL once decoded.
QStringList safeSegments(const QString &encodedPath)
{
    QStringList result;
    for (const QString &encoded : encodedPath.split(u'/')) {
        const QString segment = QUrl::fromPercentEncoding(encoded.toUtf8());
        if (segment.isEmpty() || segment.startsWith(u'.') || segment.contains(u'/') || segment.contains(u'\\')
            || segment.contains(QChar(0)))
            return {};
        result << segment;
    }
    return result;
}

} // namespace

LinkedFileServer::LinkedFileServer(const QString &folder)
    : m_folder(folder)
{}

bool LinkedFileServer::listen(const QUrl &base, QString *error)
{
    QList<QHostAddress> addresses;
    if (base.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        addresses = {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    else
        addresses = {QHostAddress(base.host())};
    if (base.scheme() != QLatin1String("http") || !addresses.first().isLoopback()) {
        *error = QStringLiteral("%1 is not a plain http address on this machine").arg(base.toString());
        return false;
    }

    // Resolved once: a folder that is missing now (or moved later) cannot make the root
    // of the file system the folder served.
    const QFileInfo folder(m_folder);
    m_root = folder.isDir() ? folder.canonicalFilePath() : QString();
    m_prefix = base.path(QUrl::FullyEncoded);
    if (!m_prefix.endsWith(u'/'))
        m_prefix += u'/';
    m_server.route(QUrl::fromPercentEncoding(m_prefix.toUtf8()) + QStringLiteral("<arg>"),
                   [this](const QUrl &, const QHttpServerRequest &request) { return respond(request); });

    quint16 port = quint16(base.port(80));
    for (const QHostAddress &address : addresses) {
        const quint16 bound = m_server.listen(address, port);
        if (bound != 0 && (port == 0 || bound == port))
            port = m_port = bound;
    }
    if (m_port == 0) {
        *error = QStringLiteral("port %1 is in use or needs other rights").arg(port);
        return false;
    }
    return true;
}

QHttpServerResponse LinkedFileServer::respond(const QHttpServerRequest &request) const
{
    const auto notFound = [] { return QHttpServerResponse(QHttpServerResponse::StatusCode::NotFound); };
    const QString path = request.url().path(QUrl::FullyEncoded);
    if (m_root.isEmpty() || !path.startsWith(m_prefix))
        return notFound();
    const QStringList segments = safeSegments(path.mid(m_prefix.size()));
    if (segments.isEmpty())
        return notFound();
    // A link inside the folder may still lead out of it, or to a hidden file.
    const QFileInfo file(m_root + u'/' + segments.join(u'/'));
    const QString canonical = file.canonicalFilePath();
    const QString inside = canonical.mid(m_root.size() + 1);
    if (!file.isFile() || !canonical.startsWith(m_root + u'/') || inside.startsWith(u'.')
        || inside.contains(QStringLiteral("/.")))
        return notFound();
    return QHttpServerResponse::fromFile(canonical);
}
