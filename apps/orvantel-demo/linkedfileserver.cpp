#include "linkedfileserver.h"

#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponse>

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

    const QString prefix = base.path().endsWith(u'/') ? base.path() : base.path() + u'/';
    m_server.route(prefix + QStringLiteral("<arg>"), [this, prefix](const QUrl &, const QHttpServerRequest &request) {
        return respond(request.url().path().mid(prefix.size()));
    });

    const quint16 port = quint16(base.port(80));
    bool any = false;
    for (const QHostAddress &address : addresses)
        any = m_server.listen(address, port) == port || any;
    if (!any) {
        *error = QStringLiteral("port %1 is in use or needs other rights").arg(port);
        return false;
    }
    return true;
}

QHttpServerResponse LinkedFileServer::respond(const QString &name) const
{
    // Whatever the name says, only files inside the folder are served.
    const QFileInfo file(m_folder.filePath(name));
    const QString root = m_folder.canonicalPath() + u'/';
    if (name.isEmpty() || !file.isFile() || !file.canonicalFilePath().startsWith(root))
        return QHttpServerResponse(QHttpServerResponse::StatusCode::NotFound);
    return QHttpServerResponse::fromFile(file.canonicalFilePath());
}
