#include "documentfiles_p.h"

#include <QList>

#include <array>
#include <cmath>

namespace Orvantel::DemoData {

namespace {

void appendBigEndian32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

void appendBigEndian16(QByteArray &out, quint16 v)
{
    out.append(char(v >> 8)).append(char(v));
}

void appendPngChunk(QByteArray &out, const char type[4], const QByteArray &data)
{
    appendBigEndian32(out, quint32(data.size()));
    const qsizetype typeAt = out.size();
    out.append(type, 4).append(data);
    appendBigEndian32(out, crc32(out.constData() + typeAt, out.size() - typeAt));
}

// zlib stream made of stored (uncompressed) deflate blocks.
QByteArray zlibStored(const QByteArray &data)
{
    QByteArray out;
    out.append(char(0x78)).append(char(0x01));
    qsizetype at = 0;
    do {
        const quint16 length = quint16(qMin<qsizetype>(0xffff, data.size() - at));
        const bool final = at + length == data.size();
        out.append(char(final ? 1 : 0));
        out.append(char(length & 0xff)).append(char(length >> 8));
        out.append(char(~length & 0xff)).append(char((~length >> 8) & 0xff));
        out.append(data.constData() + at, length);
        at += length;
    } while (at < data.size());
    quint32 a = 1, b = 0;
    for (char c : data) {
        a = (a + quint8(c)) % 65521;
        b = (b + a) % 65521;
    }
    appendBigEndian32(out, (b << 16) | a);
    return out;
}

class BitWriter
{
public:
    void write(quint32 bits, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            m_byte = quint8((m_byte << 1) | ((bits >> i) & 1));
            if (++m_used == 8)
                flushByte();
        }
    }

    QByteArray finish()
    {
        while (m_used != 0)
            write(1, 1); // pad with ones
        return m_out;
    }

private:
    void flushByte()
    {
        m_out.append(char(m_byte));
        if (m_byte == 0xff)
            m_out.append(char(0)); // byte stuffing
        m_byte = 0;
        m_used = 0;
    }

    QByteArray m_out;
    quint8 m_byte = 0;
    int m_used = 0;
};

void appendJpegSegment(QByteArray &out, quint8 marker, const QByteArray &data)
{
    out.append(char(0xff)).append(char(marker));
    appendBigEndian16(out, quint16(data.size() + 2));
    out.append(data);
}

QByteArray pdfString(const QString &text)
{
    QByteArray out = "(";
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'(' || u == u')' || u == u'\\')
            out.append('\\').append(char(u));
        else if (u >= 0x20 && u < 0x7f)
            out.append(char(u));
        else if (u >= 0xa0 && u <= 0xff)
            out.append('\\').append(QByteArray::number(u, 8));
        else
            out.append('?');
    }
    return out.append(')');
}

} // namespace

quint32 crc32(const char *data, qsizetype size, quint32 crc)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t {};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (qsizetype i = 0; i < size; ++i)
        crc = table[(crc ^ quint8(data[i])) & 0xff] ^ (crc >> 8);
    return ~crc;
}

QByteArray pngImage(int width, int height, const Picture &picture)
{
    QByteArray raw;
    raw.reserve(qsizetype(height) * (1 + 3 * width));
    for (int y = 0; y < height; ++y) {
        raw.append(char(0)); // filter: none
        for (int x = 0; x < width; ++x) {
            const Rgb c = picture((x + 0.5) / width, (y + 0.5) / height);
            raw.append(char(c.r)).append(char(c.g)).append(char(c.b));
        }
    }

    QByteArray header;
    appendBigEndian32(header, quint32(width));
    appendBigEndian32(header, quint32(height));
    header.append(char(8)).append(char(2)).append(char(0)).append(char(0)).append(char(0));

    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    appendPngChunk(out, "IHDR", header);
    appendPngChunk(out, "IDAT", zlibStored(raw));
    appendPngChunk(out, "IEND", QByteArray());
    return out;
}

QByteArray jpegImage(int width, int height, const Picture &picture)
{
    const int blocksX = (width + 7) / 8;
    const int blocksY = (height + 7) / 8;
    QByteArray out;
    out.append(char(0xff)).append(char(0xd8));
    appendJpegSegment(out, 0xe0, QByteArray("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));

    // All quantisation steps are 1, so a block's DC coefficient is 8 * (value - 128).
    QByteArray quant(1, 0);
    quant.append(64, char(1));
    appendJpegSegment(out, 0xdb, quant);

    QByteArray frame;
    frame.append(char(8));
    appendBigEndian16(frame, quint16(blocksY * 8));
    appendBigEndian16(frame, quint16(blocksX * 8));
    frame.append(char(3));
    for (char id = 1; id <= 3; ++id)
        frame.append(id).append(char(0x11)).append(char(0));
    appendJpegSegment(out, 0xc0, frame);

    // The usual luminance DC table, and an AC table that codes end-of-block only.
    static const quint8 dcCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    QByteArray dcTable(1, char(0x00));
    dcTable.append(reinterpret_cast<const char *>(dcCounts), 16);
    for (char v = 0; v < 12; ++v)
        dcTable.append(v);
    appendJpegSegment(out, 0xc4, dcTable);
    QByteArray acTable(1, char(0x10));
    acTable.append(char(1)).append(15, char(0)).append(char(0x00));
    appendJpegSegment(out, 0xc4, acTable);

    QByteArray scan;
    scan.append(char(3));
    for (char id = 1; id <= 3; ++id)
        scan.append(id).append(char(0x00));
    scan.append(char(0)).append(char(63)).append(char(0));
    appendJpegSegment(out, 0xda, scan);

    // Canonical codes of the DC table above, by category.
    static const quint16 dcCodes[12] = {0x0, 0x2, 0x3, 0x4, 0x5, 0x6, 0xe, 0x1e, 0x3e, 0x7e, 0xfe, 0x1fe};
    static const int dcLengths[12] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9};
    BitWriter bits;
    int previous[3] = {0, 0, 0};
    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx) {
            const Rgb c = picture((bx * 8 + 4.0) / (blocksX * 8), (by * 8 + 4.0) / (blocksY * 8));
            const double ycc[3] = {
                    0.299 * c.r + 0.587 * c.g + 0.114 * c.b,
                    128 - 0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b,
                    128 + 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b,
            };
            for (int k = 0; k < 3; ++k) {
                const int dc = qBound(-1024, int(std::lround(8 * (ycc[k] - 128))), 1016);
                const int diff = dc - previous[k];
                previous[k] = dc;
                int magnitude = diff < 0 ? -diff : diff;
                int category = 0;
                while (magnitude) {
                    ++category;
                    magnitude >>= 1;
                }
                bits.write(dcCodes[category], dcLengths[category]);
                if (category) {
                    const int value = diff < 0 ? diff + (1 << category) - 1 : diff;
                    bits.write(quint32(value), category);
                }
                bits.write(0, 1); // end of block
            }
        }
    }
    out.append(bits.finish());
    out.append(char(0xff)).append(char(0xd9));
    return out;
}

QByteArray pdfDocument(const QString &title, const QStringList &lines)
{
    QByteArray content = "BT\n/F1 18 Tf\n72 770 Td\n" + pdfString(title) + " Tj\n/F1 11 Tf\n0 -30 Td\n14 TL\n";
    for (const QString &line : lines)
        content += pdfString(line) + " Tj T*\n";
    content += "ET\n";

    const QList<QByteArray> objects = {
            "<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
            "/Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
            "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
    };
    QByteArray out = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
            + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

} // namespace Orvantel::DemoData
