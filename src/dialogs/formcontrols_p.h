#pragma once

#include <QString>

class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Builders for the controls of the dialog forms; measures are design twips.
namespace Orvantel::FormControls {

/// A fixed-size form with the 8-point face the design measures were laid out for.
void setUpForm(QDialog *form, const QString &name, const QString &title, int widthTwips, int heightTwips);

QLabel *label(QWidget *parent, const QString &name, const QString &text, int left, int top, int width, int height);
QPushButton *button(QWidget *parent, const QString &name, const QString &text, int left, int top, int width,
                    int height);
/// An editable drop-down that keeps its items in the order added and never adds what is typed.
QComboBox *editableCombo(QWidget *parent, const QString &name, int left, int top, int width, int height);
QLineEdit *lineEdit(QWidget *parent, const QString &name, int maxLength, int left, int top, int width, int height);

/// Names a field for screen readers (an editable drop-down's text box too, which they reach
/// on its own), with a description when the name is not enough.
void describe(QWidget *field, const QString &name, const QString &description = QString());

} // namespace Orvantel::FormControls
