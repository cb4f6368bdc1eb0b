#pragma once

#include <QDir>
#include <QHttpServer>
#include <QUrl>

/// Publishes the files of one folder over HTTP under the path of a base address, the way
/// a plant's web server publishes its linked files. Only loopback addresses are served.
class LinkedFileServer
{
public:
    explicit LinkedFileServer(const QString &folder);

    /// Starts serving at base's host and port (localhost: 127.0.0.1 and ::1). Returns false
    /// and fills error when the host is not this machine or the port cannot be bound.
    bool listen(const QUrl &base, QString *error);

private:
    QHttpServerResponse respond(const QString &name) const;

    QDir m_folder;
    QHttpServer m_server;
};
