#include "overlay/wayland/waylanddisplayprobe.h"

#include <wayland-client-core.h>

namespace WaylandDisplayProbe {

bool answers()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return false;
    wl_display_disconnect(display);
    return true;
}

} // namespace WaylandDisplayProbe
