#pragma once

#include "previewaddress.h"

#include <QDialog>
#include <QUrl>

#include <optional>

class QWebEngineView;

namespace Orvantel {

/// The browser's new extent (width or height, in twips) for a window extent: the window's
/// less 100 when the window's is above 100; at 100 or less the browser keeps its own.
std::optional<int> previewBrowserExtent(int windowTwips);

/// The "Preview" window: one embedded browser, WebBrowser1, at the top-left corner and
/// kept 100 twips short of the window's inner area in each direction. The browser stays
/// inside the folder of linked files: a page that leads elsewhere (a link, a script, a
/// redirect, a new window) has that address opened in the desktop's web browser (http
/// and https only) and stays where it is.
class Form1 : public QDialog
{
    Q_OBJECT
public:
    /// Creates the window, 11115 by 9225 twips inside, and its browser, which keeps to
    /// the folder base. Only call this where webEngineUsable() is true.
    explicit Form1(QWidget *parent = nullptr, const QUrl &base = previewBaseUrl());
    ~Form1() override;

    QWebEngineView *WebBrowser1() const { return m_browser; }
    /// Tells the browser to load url.
    void navigate(const QUrl &url);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QWebEngineView *m_browser;
};

/// Whether Qt WebEngine may be used in this process: the application was prepared for it
/// (shared OpenGL contexts set up before the application object was created). Linking
/// the library prepares it; loading the control as a plugin into a running application
/// that did not prepare does not.
bool webEngineUsable();

/// Opens address in the preview window, shown modally over owner, and returns when the
/// user closes it. Where webEngineUsable() is false, opens address in the desktop's web
/// browser instead and says so in an information box (the first time only).
void openPreview(QWidget *owner, const QUrl &address);

} // namespace Orvantel
