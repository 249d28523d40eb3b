#include "overlay/x11/x11displayprobe.h"

#include <xcb/xcb.h>

namespace X11DisplayProbe {

bool answers(const QByteArray &display)
{
    xcb_connection_t *connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

} // namespace X11DisplayProbe
