#pragma once

#include <QString>
#include <QUrl>

namespace Orvantel {

/// The address under which the linked files are published, fixed when the library is
/// built (ORVANTEL_PREVIEW_BASE_URL); always ends in "/".
QUrl previewBaseUrl();

/// True when fileName has a ".." segment ('/' and '\' both separate segments), so that
/// its address would lead out of the base folder.
bool leavesBaseFolder(const QString &fileName);

/// The address of fileName as a path inside the folder base: base (a "/" is added when
/// it lacks one) followed by fileName with every character that would end or change
/// the path ('#', '?', '%', blanks, '\', non-ASCII ...) percent-encoded; '/' still
/// separates folders. Returns an invalid QUrl when leavesBaseFolder(fileName).
QUrl previewAddress(const QUrl &base, const QString &fileName);

/// True when fileName names no file but the base folder or a folder in it (empty, or its
/// last segment empty or "."): opening it would list a folder.
bool namesAFolder(const QString &fileName);

/// True when address lies inside the folder base: same scheme, host and port, and a path
/// that starts with base's path (ending in "/") and has no "." or ".." segment.
bool insideBaseFolder(const QUrl &base, const QUrl &address);

/// The text of the box that refuses fileName because it leaves the base folder.
QString refusedFileNameText(const QString &fileName);

} // namespace Orvantel
