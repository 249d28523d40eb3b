#pragma once

#include <QByteArray>

namespace X11DisplayProbe {

// Whether the X server `display` (empty: the default one) accepts a connection; the
// connection is closed again at once.
bool answers(const QByteArray &display);

} // namespace X11DisplayProbe
