#include "overlay/x11/x11displayprobe.h"

#include <xcb/xcb.h>

namespace X11DisplayProbe {

namespace {

xcb_connection_t *heldConnection = nullptr;

} // namespace

bool answers(const QByteArray &display)
{
    xcb_connection_t *connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    if (answers && !heldConnection)
        heldConnection = connection;
    else
        xcb_disconnect(connection);
    return answers;
}

void release()
{
    if (heldConnection)
        xcb_disconnect(heldConnection);
    heldConnection = nullptr;
}

} // namespace X11DisplayProbe
