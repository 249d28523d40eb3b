#pragma once

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QString>

#include <vector>

// The pure part of the live lens on KWin: which window lies under the lens, what of it shows,
// and where the frames of its screen cast go. Everything is in the compositor's logical
// coordinates. No Wayland connection here, so it can be checked with plain rows.
namespace WindowPlacement {

// A window as the Plasma window list describes it.
struct Window
{
    QString uuid;
    QRect geometry; // its frame, decoration included
    quint32 pid = 0;
    bool shown = true; // described completely, and not minimized
};

struct Pick
{
    int index = -1; // in the stack; -1: no window there
    // The part of the window that shows: its frame, less what windows above it cover.
    QRegion visible;
};

// The window shown at `point`, from `stack` (bottom to top): the topmost shown window there
// that is not of the process `ownPid` (the overlay's surfaces never show in its own lens).
Pick windowAt(const std::vector<Window> &stack, QPoint point, quint32 ownPid);

// Where a frame of `frameSize` of the window with frame geometry `geometry` lies. The screen
// cast records the window's contents without the decoration: a smaller frame sits inside the
// decoration, between borders of equal width left, right and below and the title bar above.
QRect frameRect(const QRect &geometry, QSize frameSize);

} // namespace WindowPlacement
