#pragma once

// Tells when the keyboard focus enters a group box from outside it, as the user
// moves it (a click, Tab, a mnemonic). Two moves do not count: the window being
// activated again, which gives the focus back where it was, and a page change
// (Ctrl+Tab, the mouse wheel on the tabs), which pushes the focus off the page
// that went away and on into the one that came to the front.

#include <QObject>
#include <QPointer>

#include <functional>

class QTabWidget;
class QWidget;

class FocusEntryWatch : public QObject
{
public:
    FocusEntryWatch(QWidget* box, QTabWidget* pages, std::function<void()> onEnter);

private:
    void FocusChanged(QWidget* now);

    QWidget* box_;
    std::function<void()> onEnter_;
    QPointer<QWidget> lastFocus_;
    bool pageChanging_ = false;
};
