#include "limitedtextedit.h"

#include <QTextCursor>
#include <QTextDocument>

#include <utility>

namespace Orvantel {

LimitedTextEdit::LimitedTextEdit(int maxLength, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_maxLength(maxLength)
{
    connect(document(), &QTextDocument::contentsChange, this, &LimitedTextEdit::contentsChanged);
    connect(this, &QPlainTextEdit::textChanged, this, &LimitedTextEdit::enforceLimit);
}

void LimitedTextEdit::setText(const QString &text)
{
    m_settingText = true;
    setPlainText(text);
    m_settingText = false;
}

void LimitedTextEdit::contentsChanged(int position, int, int charsAdded)
{
    m_lastPosition = position;
    m_lastAdded = charsAdded;
}

void LimitedTextEdit::enforceLimit()
{
    const int added = std::exchange(m_lastAdded, 0);
    if (m_settingText || added <= 0)
        return;
    const int length = int(toPlainText().size());
    const int excess = std::min(length - m_maxLength, added);
    if (excess <= 0)
        return;
    // What lies beyond the limit is the end of what was just inserted.
    const int end = std::min(m_lastPosition + added, length);
    QTextCursor cursor(document());
    cursor.setPosition(end - excess);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

} // namespace Orvantel
