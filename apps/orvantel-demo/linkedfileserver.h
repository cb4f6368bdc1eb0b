#pragma once

#include <QHttpServer>
#include <QString>
#include <QUrl>

class QHttpServerRequest;

/// Publishes the files of one folder over HTTP under the path of a base address, the way
/// a plant's web server publishes its linked files. Only loopback addresses are served.
/// It fails closed: only regular files inside the folder are served, never a folder, a
/// hidden file or folder (a name starting with "."), or a name that is absolute or has
/// "." or ".." segments or backslashes (also percent-encoded); all else is 404.
class LinkedFileServer
{
public:
    explicit LinkedFileServer(const QString &folder);

    /// Starts serving at base's host and port (localhost: 127.0.0.1 and ::1); port 0 picks
    /// a free port (see port()). The folder is resolved here, once: when it does not exist
    /// then, every request is refused. Returns false and fills error when the host is not
    /// this machine or the port cannot be bound.
    bool listen(const QUrl &base, QString *error);

    /// The port served, 0 until listen() succeeded.
    quint16 port() const { return m_port; }

private:
    QHttpServerResponse respond(const QHttpServerRequest &request) const;

    QString m_folder;
    QString m_root; ///< the folder's canonical path when listening began; empty: serve nothing
    QString m_prefix; ///< the base path, ending in "/"
    QHttpServer m_server;
    quint16 m_port = 0;
};
