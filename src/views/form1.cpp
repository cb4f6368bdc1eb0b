#include "form1.h"

#include "layout.h"
#include "messagebox.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QOpenGLContext>
#include <QResizeEvent>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// Qt WebEngine needs contexts shared from the moment the application object is created.
// A host that links the library gets that without doing anything; one that loads it
// later (a plugin) is too late, and webEngineUsable() then says no.
void shareContextsBeforeTheApplication()
{
    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
Q_CONSTRUCTOR_FUNCTION(shareContextsBeforeTheApplication)

constexpr int BrowserMarginTwips = 100;

bool s_fallbackExplained = false;

/// Opens an address the preview does not show in the desktop's browser; other schemes
/// (file, data, a desktop entry ...) are not handed to the desktop at all.
void openInDesktopBrowser(const QUrl &address)
{
    if (address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https"))
        QDesktopServices::openUrl(address);
}

/// Keeps the main frame inside the folder of linked files.
class PreviewPage : public QWebEnginePage
{
public:
    PreviewPage(const QUrl &base, QObject *parent)
        : QWebEnginePage(parent)
        , m_base(base)
    {
        connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &request) {
            // Not opened in a window (openIn() is not called): the preview has one window.
            if (Orvantel::insideBaseFolder(m_base, request.requestedUrl()))
                setUrl(request.requestedUrl());
            else
                openInDesktopBrowser(request.requestedUrl());
        });
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        if (!isMainFrame || Orvantel::insideBaseFolder(m_base, url))
            return true;
        openInDesktopBrowser(url);
        return false;
    }

private:
    QUrl m_base;
};

} // namespace

namespace Orvantel {

std::optional<int> previewBrowserExtent(int windowTwips)
{
    if (windowTwips > BrowserMarginTwips)
        return windowTwips - BrowserMarginTwips;
    return std::nullopt;
}

Form1::Form1(QWidget *parent, const QUrl &base)
    : QDialog(parent)
    , m_browser(new QWebEngineView(this))
{
    m_browser->setPage(new PreviewPage(base, m_browser));
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Preview"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    m_browser->setObjectName(QStringLiteral("WebBrowser1"));
    setAccessibleName(QStringLiteral("Preview"));
    m_browser->setAccessibleName(QStringLiteral("Linked file"));
    m_browser->setAccessibleDescription(
            QStringLiteral("The linked file of the current row, as the web server sends it"));
    // Linked files include PDF documents, which the browser shows through its PDF plugin.
    m_browser->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    placeTwips(m_browser, 0, 0, 10935, 9255);
    resize(twipsToPixels(11115), twipsToPixels(9225));
}

Form1::~Form1() = default;

void Form1::navigate(const QUrl &url)
{
    m_browser->setUrl(url);
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    const std::optional<int> browserWidth = previewBrowserExtent(int(width() * TwipsPerPixel));
    const std::optional<int> browserHeight = previewBrowserExtent(int(height() * TwipsPerPixel));
    if (browserWidth)
        m_browser->resize(twipsToPixels(*browserWidth), m_browser->height());
    if (browserHeight)
        m_browser->resize(m_browser->width(), twipsToPixels(*browserHeight));
}

bool webEngineUsable()
{
    return QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts) || QOpenGLContext::globalShareContext();
}

void openPreview(QWidget *owner, const QUrl &address)
{
    if (!webEngineUsable()) {
        if (!QDesktopServices::openUrl(address)) {
            showMessage(QStringLiteral("No web browser could be started for ") + address.toDisplayString(),
                        QStringLiteral("Preview"), MessageStyle::Exclamation, owner);
        } else if (!s_fallbackExplained) {
            s_fallbackExplained = true;
            showMessage(QStringLiteral("This application cannot show the preview window, so linked files open in "
                                       "the desktop's web browser."),
                        QStringLiteral("Preview"), MessageStyle::Information, owner);
        }
        return;
    }
    Form1 *form = owner ? owner->findChild<Form1 *>(QStringLiteral("Form1"), Qt::FindDirectChildrenOnly) : nullptr;
    if (!form) {
        form = new Form1(owner);
        form->setAttribute(Qt::WA_DeleteOnClose);
    }
    form->navigate(address);
    form->exec();
}

} // namespace Orvantel
