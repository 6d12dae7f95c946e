#include "app/spin_edit.h"

#include "app/text_codec.h"
#include "core/integer_text.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

SpinEdit::SpinEdit(int minValue, int maxValue, int step, int value, QWidget* parent)
    : QSpinBox(parent)
{
    // The value is shown and read back as the digits settings.ini holds,
    // whatever the desktop's language: a locale with its own digits would show
    // text that textValue cannot read.
    setLocale(QLocale::c());
    setRange(minValue, maxValue);
    setSingleStep(step);
    setValue(value);
    setKeyboardTracking(false);
    // The text is only ever changed by a step or by the program.
    lineEdit()->setReadOnly(true);
}

int SpinEdit::textValue() const
{
    const auto parsed = parseInteger(toBytes(text()));
    return parsed ? std::clamp(*parsed, minimum(), maximum()) : minimum();
}

void SpinEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: QSpinBox::keyPressEvent(event); return;
    // A page is one step here, not ten.
    case Qt::Key_PageUp:
        stepBy(1);
        event->accept();
        return;
    case Qt::Key_PageDown:
        stepBy(-1);
        event->accept();
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: QSpinBox::keyPressEvent(event); return;
    default: break;
    }
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
        QSpinBox::keyPressEvent(event);
        return;
    }
    // Characters, Backspace, Delete, cut and paste: the value is not typed.
    if (!event->text().isEmpty() || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete
        || event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Paste))
        QApplication::beep();
    event->accept();
}

void SpinEdit::focusOutEvent(QFocusEvent* event)
{
    setValue(textValue());
    QSpinBox::focusOutEvent(event);
}

void SpinEdit::contextMenuEvent(QContextMenuEvent* event)
{
    // The line edit's menu offers Paste and Delete; stepping is all there is.
    event->accept();
}
