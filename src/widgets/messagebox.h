#pragma once

#include <QString>

class QWidget;

namespace Orvantel {

/// The two message box styles the control uses.
enum class MessageStyle {
    Exclamation = 48, ///< OK button, warning icon: every error report
    Information = 64, ///< OK button, information icon: confirmations and information
};

/// Shows a modal message box with an OK button and waits until it is closed. Every
/// message the control shows goes through here.
void showMessage(const QString &text, const QString &title, MessageStyle style, QWidget *parent = nullptr);

/// Closes (as by OK) the boxes shown by showMessage() over parent with this title: what
/// they reported is over. Their showMessage() calls return.
void closeMessages(QWidget *parent, const QString &title);

/// How many boxes shown by showMessage() are open right now (0 or 1 unless nested
/// event loops stack them).
int openMessageCount();

/// Called just before a box is shown; lets tests and hosts observe what is reported.
/// Pass nullptr to remove it.
using MessageObserver = void (*)(const QString &text, const QString &title, MessageStyle style);
void setMessageObserver(MessageObserver observer);

} // namespace Orvantel
