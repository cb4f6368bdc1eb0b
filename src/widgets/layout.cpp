#include "layout.h"

#include <QWidget>

#include <cmath>

namespace Orvantel {

int twipsToPixels(double twips)
{
    return int(std::lround(twips / TwipsPerPixel));
}

QFont designFont(qreal pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(pointSize);
    return font;
}

void placeTwips(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

GridResize resizeRule(double innerWidth, double innerHeight, double currentGridWidth)
{
    // Single-precision arithmetic on twips, as the design measures are kept.
    const float w = float(innerWidth);
    const float h = float(innerHeight);
    GridResize result;
    result.gridWidth = w <= 60.0f ? 0.0 : double(w - 60.0f);
    if (h <= 390.0f) {
        result.gridHeight = 0.0;
    } else if (h - 840.0f >= 0.0f) {
        result.gridHeight = double(h - 840.0f);
    }
    const double width = result.gridWidth.value_or(currentGridWidth);
    if (width > 10000.0)
        result.notesWidth = double(float(width) - 9400.0f);
    return result;
}

} // namespace Orvantel
