#pragma once

// The parts the Player History, the Fleet and the Ban windows are built of,
// made one way: tables of rows, plain-text status lines, labelled fields and
// search boxes, each named for a screen reader.

#include <QString>
#include <QStringList>

#include <initializer_list>

class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QWidget;

// A table of rows without a tree, its last column taking the room left.
QTreeWidget* makeRowTable(QWidget* parent, const char* name, const QString& accessibleName, const QStringList& columns);
// Its columns as wide as what they hold, but the last.
void fitRowColumns(QTreeWidget* table);

// A line that says how things stand, always as plain text.
// A push button that Enter in a field beside it does not press.
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption);

// Buttons side by side at the left of a row.
QHBoxLayout* makeButtonRow(std::initializer_list<QPushButton*> buttons);

QLabel* makeStatusLabel(QWidget* parent, const char* name, const QString& accessibleName);

// A field under its label ("&Reason:"), the label's words its accessible name.
void addLabelledRow(QFormLayout* form, QWidget* parent, const QString& caption, QWidget* field);

// A search or filter box with a clear button that a screen reader can name.
void giveClearButton(QLineEdit* edit);
