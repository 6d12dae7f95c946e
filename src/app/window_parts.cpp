#include "app/window_parts.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

QTreeWidget* makeRowTable(QWidget* parent, const char* name, const QString& accessibleName, const QStringList& columns)
{
    auto* table = new QTreeWidget(parent);
    table->setObjectName(QLatin1String(name));
    table->setAccessibleName(accessibleName);
    table->setHeaderLabels(columns);
    table->setRootIsDecorated(false);
    table->setUniformRowHeights(true);
    table->setAllColumnsShowFocus(true);
    table->header()->setStretchLastSection(true);
    // Every caption whole while the table is empty, and room for two rows
    // below the header and a scroll bar however the layout squeezes it.
    fitRowColumns(table);
    const int rowHeight = table->fontMetrics().height() + 4;
    table->setMinimumHeight(table->header()->sizeHint().height() + 2 * rowHeight
                            + table->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * table->frameWidth());
    return table;
}

void fitRowColumns(QTreeWidget* table)
{
    for (int column = 0; column + 1 < table->columnCount(); ++column)
        table->resizeColumnToContents(column);
}

QLabel* makeStatusLabel(QWidget* parent, const char* name, const QString& accessibleName)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAccessibleName(accessibleName);
    return label;
}

void addLabelledRow(QFormLayout* form, QWidget* parent, const QString& caption, QWidget* field)
{
    auto* label = new QLabel(caption, parent);
    label->setBuddy(field);
    field->setAccessibleName(QString(caption).remove(u'&').remove(u':'));
    form->addRow(label, field);
}

void giveClearButton(QLineEdit* edit)
{
    edit->setClearButtonEnabled(true);
    // The clear button takes its accessible name from its action.
    if (auto* clear = edit->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(QStringLiteral("Clear"));
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QHBoxLayout* makeButtonRow(std::initializer_list<QPushButton*> buttons)
{
    auto* row = new QHBoxLayout;
    for (QPushButton* button : buttons)
        row->addWidget(button);
    row->addStretch(1);
    return row;
}
