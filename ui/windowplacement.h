#pragma once

class QPoint;
class QScreen;
class QWidget;

// Where the settings window goes on a desktop of several screens: on the screen the user
// works on, never straddling two.
namespace WindowPlacement {

// The screen under `pointer` (global coordinates); the primary one when none is.
QScreen *screenAt(const QPoint &pointer);

// Puts `window` (not yet shown) on the screen under the mouse pointer, centred in that
// screen's available area; a window larger than the area keeps its top-left corner in it.
void centreOnPointerScreen(QWidget *window);

// The screen a window is shown on: its native window's, else the one under its centre.
QScreen *screenOf(const QWidget *window);

} // namespace WindowPlacement
