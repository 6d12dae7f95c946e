#pragma once

// A spin edit that only steps: the arrows and the Up, Down, Page Up and Page
// Down keys move the value by one step within its bounds, typing is refused
// with a beep, and its value is the text read as a whole number (the minimum
// when it is not one).

#include <QSpinBox>

class SpinEdit : public QSpinBox
{
    Q_OBJECT

public:
    SpinEdit(int minValue, int maxValue, int step, int value, QWidget* parent = nullptr);

    // The text as a whole number, brought into the bounds; the minimum when the
    // text is not a number. (Every change of the text, by a step or by
    // setValue, emits textChanged: the spin edit's change event.)
    int textValue() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
