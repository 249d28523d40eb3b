#include "ui/windowplacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace WindowPlacement {

QScreen *screenAt(const QPoint &pointer)
{
    if (QScreen *screen = QGuiApplication::screenAt(pointer))
        return screen;
    return QGuiApplication::primaryScreen();
}

void centreOnPointerScreen(QWidget *window)
{
    QScreen *screen = screenAt(QCursor::pos());
    if (!screen)
        return;
    // The native window takes the screen's pixel ratio before it is first laid out.
    if (QWindow *handle = window->windowHandle())
        handle->setScreen(screen);
    const QRect area = screen->availableGeometry();
    const QSize size = window->size();
    QRect placed(QPoint(0, 0), size);
    placed.moveCenter(area.center());
    placed.moveLeft(
        std::max(area.left(), std::min(placed.left(), area.right() - size.width() + 1)));
    placed.moveTop(std::max(area.top(), std::min(placed.top(), area.bottom() - size.height() + 1)));
    window->move(placed.topLeft());
}

QScreen *screenOf(const QWidget *window)
{
    if (const QWindow *handle = window->windowHandle()) {
        if (QScreen *screen = handle->screen())
            return screen;
    }
    return screenAt(window->geometry().center());
}

} // namespace WindowPlacement
