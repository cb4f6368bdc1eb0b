#include "formcontrols_p.h"

#include "layout.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace Orvantel::FormControls {

void setUpForm(QDialog *form, const QString &name, const QString &title, int widthTwips, int heightTwips)
{
    form->setObjectName(name);
    form->setWindowTitle(title);
    form->setFont(designFont());
    form->setFixedSize(twipsToPixels(widthTwips), twipsToPixels(heightTwips));
}

QLabel *label(QWidget *parent, const QString &name, const QString &text, int left, int top, int width, int height)
{
    auto *widget = new QLabel(text, parent);
    widget->setObjectName(name);
    placeTwips(widget, left, top, width, height);
    return widget;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &text, int left, int top, int width, int height)
{
    auto *widget = new QPushButton(text, parent);
    widget->setObjectName(name);
    placeTwips(widget, left, top, width, height);
    return widget;
}

QComboBox *editableCombo(QWidget *parent, const QString &name, int left, int top, int width, int height)
{
    auto *widget = new QComboBox(parent);
    widget->setObjectName(name);
    widget->setEditable(true);
    widget->setInsertPolicy(QComboBox::NoInsert);
    // Typed text stays as typed: no completion from the items.
    widget->setCompleter(nullptr);
    placeTwips(widget, left, top, width, height);
    return widget;
}

QLineEdit *lineEdit(QWidget *parent, const QString &name, int maxLength, int left, int top, int width, int height)
{
    auto *widget = new QLineEdit(parent);
    widget->setObjectName(name);
    widget->setMaxLength(maxLength);
    placeTwips(widget, left, top, width, height);
    return widget;
}

void describe(QWidget *field, const QString &name, const QString &description)
{
    field->setAccessibleName(name);
    field->setAccessibleDescription(description);
    if (auto *combo = qobject_cast<QComboBox *>(field); combo && combo->lineEdit()) {
        combo->lineEdit()->setAccessibleName(name);
        combo->lineEdit()->setAccessibleDescription(description);
    }
}

} // namespace Orvantel::FormControls
