#include "app/placement.h"

#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QWidget>

#include <algorithm>

QPoint placeWithin(QPoint designed, QSize size, QRect available)
{
    if (available.contains(QRect(designed, size)))
        return designed;
    const int x = std::max(available.left(), std::min(designed.x(), available.right() + 1 - size.width()));
    const int y = std::max(available.top(), std::min(designed.y(), available.bottom() + 1 - size.height()));
    return {x, y};
}

namespace {

// What the window's frame adds to its size. Before the window is shown its
// frame is not known: a title bar and thin borders are the least it will have.
QSize frameAllowance(const QWidget* window)
{
    const QSize known = window->frameGeometry().size() - window->size();
    if (known.height() > 0)
        return known;
    const QStyle* style = window->style();
    const int border = style->pixelMetric(QStyle::PM_DefaultFrameWidth);
    return {2 * border, style->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * border};
}

} // namespace

QRect availableAreaAt(QPoint designed)
{
    const QScreen* screen = QGuiApplication::screenAt(designed);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void moveToDesignedPlace(QWidget* window, QPoint designed)
{
    const QRect available = availableAreaAt(designed);
    const QSize size = window->size() + frameAllowance(window);
    window->move(available.isEmpty() ? designed : placeWithin(designed, size, available));
}

void fitWithin(QMainWindow* window, QRect available)
{
    if (available.isEmpty())
        return;
    const QSize designed = window->size();
    const QSize room = (available.size() - frameAllowance(window)).expandedTo(QSize(1, 1));
    if (designed.width() <= room.width() && designed.height() <= room.height())
        return;

    QWidget* content = window->takeCentralWidget();
    QSize wanted = designed;
    // A status bar along the foot of the content stays in view below the
    // part that scrolls: it says whether the connection is up.
    auto* status = content->findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
    if (status && status->geometry().bottom() == content->height() - 1) {
        content->setFixedHeight(status->y());
        wanted.rheight() += std::max(status->sizeHint().height() - status->height(), 0);
        window->setStatusBar(status);
    }
    auto* scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("contentScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    window->setCentralWidget(scroll);
    window->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    // A scroll bar takes room across the content; where there is room for it,
    // the window grows by it rather than scroll both ways.
    const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll);
    if (designed.height() > room.height())
        wanted.rwidth() += bar;
    if (designed.width() > room.width())
        wanted.rheight() += bar;
    window->setMinimumSize(window->minimumSizeHint().boundedTo(room));
    window->setMaximumSize(wanted);
    window->resize(wanted.boundedTo(room));
}
