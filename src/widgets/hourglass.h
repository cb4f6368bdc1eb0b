#pragma once

#include <QGuiApplication>

namespace Orvantel {

/// Shows the application-wide wait cursor for its lifetime; restored on every path out.
class Hourglass
{
public:
    Hourglass() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Hourglass() { QGuiApplication::restoreOverrideCursor(); }
    Hourglass(const Hourglass &) = delete;
    Hourglass &operator=(const Hourglass &) = delete;
};

} // namespace Orvantel
