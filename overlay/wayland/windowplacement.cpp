#include "overlay/wayland/windowplacement.h"

#include <algorithm>

namespace WindowPlacement {

Pick windowAt(const std::vector<Window> &stack, QPoint point, quint32 ownPid)
{
    const auto counts = [ownPid](const Window &w) {
        return w.shown && w.pid != ownPid && !w.geometry.isEmpty();
    };
    Pick pick;
    for (int i = int(stack.size()) - 1; i >= 0; --i) {
        if (counts(stack[size_t(i)]) && stack[size_t(i)].geometry.contains(point)) {
            pick.index = i;
            break;
        }
    }
    if (pick.index < 0)
        return pick;
    pick.visible = stack[size_t(pick.index)].geometry;
    for (size_t above = size_t(pick.index) + 1; above < stack.size(); ++above) {
        if (counts(stack[above]))
            pick.visible -= stack[above].geometry;
    }
    return pick;
}

QRect frameRect(const QRect &geometry, QSize frameSize)
{
    if (frameSize.isEmpty())
        return QRect();
    const int border = std::max(0, (geometry.width() - frameSize.width()) / 2);
    const int top = std::max(0, geometry.height() - frameSize.height() - border);
    return QRect(geometry.topLeft() + QPoint(border, top), frameSize);
}

} // namespace WindowPlacement
