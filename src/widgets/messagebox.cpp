#include "messagebox.h"

#include <QMessageBox>
#include <QPointer>

namespace Orvantel {

namespace {
int s_openCount = 0;
MessageObserver s_observer = nullptr;
} // namespace

void showMessage(const QString &text, const QString &title, MessageStyle style, QWidget *parent)
{
    if (s_observer)
        s_observer(text, title, style);
    const auto icon = style == MessageStyle::Information ? QMessageBox::Information : QMessageBox::Warning;
    QPointer<QMessageBox> box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("OrvantelMessageBox"));
    box->setTextFormat(Qt::PlainText);
    ++s_openCount;
    box->exec();
    --s_openCount;
    delete box;
}

void closeMessages(QWidget *parent, const QString &title)
{
    if (!parent)
        return;
    const auto boxes
            = parent->findChildren<QMessageBox *>(QStringLiteral("OrvantelMessageBox"), Qt::FindDirectChildrenOnly);
    for (QMessageBox *box : boxes) {
        if (box->windowTitle() == title && box->isVisible())
            box->done(QMessageBox::Ok);
    }
}

int openMessageCount()
{
    return s_openCount;
}

void setMessageObserver(MessageObserver observer)
{
    s_observer = observer;
}

} // namespace Orvantel
