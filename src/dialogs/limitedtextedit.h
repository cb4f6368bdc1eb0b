#pragma once

#include <QPlainTextEdit>

namespace Orvantel {

/// A multi-line text box that takes at most maxLength() characters from typing, pasting
/// and dropping: what would go beyond the limit is left out. Text set with setText() is
/// kept whole, as a single-line box keeps a value set from code.
class LimitedTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LimitedTextEdit(int maxLength, QWidget *parent = nullptr);

    int maxLength() const { return m_maxLength; }
    void setText(const QString &text);

private:
    void contentsChanged(int position, int charsRemoved, int charsAdded);
    void enforceLimit();

    int m_maxLength;
    bool m_settingText = false;
    int m_lastPosition = 0;
    int m_lastAdded = 0;
};

} // namespace Orvantel
