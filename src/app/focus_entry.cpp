#include "app/focus_entry.h"

#include <QApplication>
#include <QTabWidget>
#include <QWidget>

FocusEntryWatch::FocusEntryWatch(QWidget* box, QTabWidget* pages, std::function<void()> onEnter)
    : QObject(box)
    , box_(box)
    , onEnter_(std::move(onEnter))
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { FocusChanged(now); });
    // A page change ends by announcing the new page, after every focus move it caused.
    connect(pages, &QTabWidget::currentChanged, this, [this] { pageChanging_ = false; });
}

void FocusEntryWatch::FocusChanged(QWidget* now)
{
    if (!now || now->window() != box_->window())
        return;
    const QWidget* before = lastFocus_;
    lastFocus_ = now;
    // The widget that had the focus was hidden under it: its page went away.
    if (before && !before->isVisible())
        pageChanging_ = true;
    if (pageChanging_)
        return;
    const bool wasInside = before && box_->isAncestorOf(before);
    if (box_->isAncestorOf(now) && !wasInside)
        onEnter_();
}
