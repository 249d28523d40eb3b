#pragma once

#include <QByteArray>

namespace X11DisplayProbe {

// Whether the X server `display` (empty: the default one) accepts a connection. The first
// connection that answered stays open until release(), once Qt has one of its own: an X
// server without -noreset resets when its last client leaves, and would lose what others put
// on its root window (the accessibility bus's address, a desktop's settings).
bool answers(const QByteArray &display);
void release();

} // namespace X11DisplayProbe
