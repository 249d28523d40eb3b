#include "overlay/x11/x11livearea.h"

#include <QRegion>

#include <algorithm>
#include <cmath>

namespace X11LiveArea {

QRect sourceRect(QPoint pointer, int radius, double ratio, double scale, const QRect &screen)
{
    if (!(scale > 0.0) || !std::isfinite(scale) || !(ratio > 0.0) || radius <= 0)
        return QRect();
    const double half = radius * ratio / scale;
    // Widened outwards, so a lens at any scale has every pixel it maps from.
    const int left = static_cast<int>(std::floor(pointer.x() - half));
    const int top = static_cast<int>(std::floor(pointer.y() - half));
    const int right = static_cast<int>(std::ceil(pointer.x() + half));
    const int bottom = static_cast<int>(std::ceil(pointer.y() + half));
    return QRect(left, top, right - left, bottom - top).intersected(screen);
}

Pick windowsBeneath(const std::vector<StackedWindow> &stack, const std::vector<unsigned long> &own,
                    const QRect &area)
{
    Pick pick;
    if (area.isEmpty()) {
        pick.background = false;
        return pick;
    }
    // From the top down: a window shows where no opaque window above it covers the area.
    // Each window read is a round trip to the server, so hidden ones are left out.
    QRegion covered;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        const StackedWindow &window = *it;
        if (!window.viewable || !window.inputOutput || !window.geometry.intersects(area) ||
            std::find(own.begin(), own.end(), window.id) != own.end())
            continue;
        const QRect part = window.geometry & area;
        if ((QRegion(part) - covered).isEmpty())
            continue;
        pick.windows.push_back(window);
        if (window.depth != 32)
            covered += part;
    }
    std::reverse(pick.windows.begin(), pick.windows.end());
    pick.background = !(QRegion(area) - covered).isEmpty();
    return pick;
}

} // namespace X11LiveArea
