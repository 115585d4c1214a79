// Small pieces every dialog of the program uses.
#pragma once

#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

namespace imbrex::ui {

// Places window over owner: left = owner.left + (owner.width - width) / 2, top likewise, truncated.
void centreOver(QWidget *window, const QWidget *owner);

// The text of a control as the store takes it: UTF-8, cut at a character boundary to at most maxBytes bytes.
std::string toStoreText(const QString &text, size_t maxBytes);

// A label for a value the program fills in (a name, a path): plain text, never translated.
QLabel *makeValueLabel(QWidget *parent, const char *name);

// A push button that closes dialog with result when pressed.
QPushButton *makeResultButton(QDialog *dialog, const char *name, const QString &caption, int result);

// A raised panel "pnlMain" added to outer; returns the layout its controls go into.
QVBoxLayout *addRaisedPanel(QDialog *dialog, QVBoxLayout *outer);

// A default button "btnOK" closing dialog with mrOk, centred in a row of its own at the end of outer.
void addCentredOkButton(QDialog *dialog, QVBoxLayout *outer, const QString &caption);

} // namespace imbrex::ui
