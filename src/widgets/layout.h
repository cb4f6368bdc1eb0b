#pragma once

#include <QFont>

#include <optional>

class QWidget;

namespace Orvantel {

/// Design measures are in twips; 15 twips are one logical pixel.
constexpr double TwipsPerPixel = 15.0;

int twipsToPixels(double twips);
/// The sans-serif face the design measures were laid out for, at pointSize (8 for the
/// control and its dialogs).
QFont designFont(qreal pointSize = 8);
/// Places a child by its design rectangle in twips.
void placeTwips(QWidget *widget, int left, int top, int width, int height);

/// What a resize of the control does to the work-order grid (all in twips); an empty
/// value leaves that measure as it is.
struct GridResize
{
    std::optional<double> gridWidth;
    std::optional<double> gridHeight;
    std::optional<double> notesWidth;
};

/// The resize rule: the grid keeps a 60-twip margin on the right and a 120-twip margin
/// at the bottom below its top of 720. A width of 60 or less, or a height of 390 or
/// less, gives 0; a height from 391 to 839 would be negative and is not applied. When
/// the grid ends up wider than 10000 the work-request column takes the width beyond 9400.
GridResize resizeRule(double innerWidth, double innerHeight, double currentGridWidth);

} // namespace Orvantel
