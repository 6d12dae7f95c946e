#include "app/placement.h"

#include <QGuiApplication>
#include <QScreen>
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

void moveToDesignedPlace(QWidget* window, QPoint designed)
{
    const QScreen* screen = QGuiApplication::screenAt(designed);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QSize size = window->frameGeometry().size();
    window->move(screen ? placeWithin(designed, size, screen->availableGeometry()) : designed);
}
