#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace Orvantel::DemoData {

struct Rgb
{
    quint8 r, g, b;
};

/// Colour of a picture at (x, y), both in [0, 1).
using Picture = std::function<Rgb(double x, double y)>;

/// An RGB PNG file (8 bits per channel, uncompressed deflate blocks).
QByteArray pngImage(int width, int height, const Picture &picture);

/// A baseline JPEG file. Every 8x8 block takes the colour at its centre, so only
/// DC coefficients are coded; width and height are rounded up to multiples of 8.
QByteArray jpegImage(int width, int height, const Picture &picture);

/// A one-page PDF with a title and lines of text; characters outside Latin-1 become '?'.
QByteArray pdfDocument(const QString &title, const QStringList &lines);

/// CRC-32 as PNG and zip use it.
quint32 crc32(const char *data, qsizetype size, quint32 crc = 0);

} // namespace Orvantel::DemoData
