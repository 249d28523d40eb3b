#pragma once

namespace WaylandDisplayProbe {

// Whether the compositor of WAYLAND_DISPLAY (default wayland-0) accepts a connection; the
// connection is closed again at once.
bool answers();

} // namespace WaylandDisplayProbe
