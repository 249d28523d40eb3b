#pragma once

#include "overlay/x11/x11livearea.h"

#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>

struct _XDisplay;

// Reads pixels from the X server into the live lens's picture: a window's part (through a
// shared memory segment, MIT-SHM, where the server offers it, else XGetImage), and the
// desktop's background (the root window's pixmap that desktops publish as _XROOTPMAP_ID, or
// else the picture taken at the key press; the desktop's picture is asked for once, and again
// when the desktop publishes another). It owns the shared memory segment.
//
// Not responsible for which windows are read nor in which order (the live lens).
class X11ImageReader final
{
public:
    X11ImageReader(_XDisplay *display, unsigned long root, bool sharedMemoryOffered);
    ~X11ImageReader();

    X11ImageReader(const X11ImageReader &) = delete;
    X11ImageReader &operator=(const X11ImageReader &) = delete;

    bool usesSharedMemory() const { return m_shmAddress != nullptr; }
    // Forbidding it gives back a segment held.
    void setSharedMemoryAllowed(bool allowed)
    {
        m_shmAllowed = allowed;
        if (!allowed)
            release();
    }
    // Ready to read up to `bytes` at once through shared memory, where it can. False where
    // the pictures come through the connection.
    bool prepare(int bytes);
    // Gives back the shared memory segment.
    void release();

    // Paints the part of `window` that lies in `part` (root device pixels) into `picture`,
    // whose top left corner lies at `origin`; `visual` is the window's (Visual*).
    void readWindow(QImage &picture, QPoint origin, const X11LiveArea::StackedWindow &window,
                    void *visual, const QRect &part);
    // Paints the desktop's background of `area` (root device pixels) into `picture`.
    void readBackground(QImage &picture, const QRect &area);
    // The picture of the key press, its top left corner at `origin` in root device pixels.
    void setBackdrop(const QPixmap &picture, QPoint origin);
    // The property that names the desktop's background picture.
    unsigned long rootPixmapAtom() const { return m_rootPixmapAtom; }
    // The desktop may publish another background picture: it is asked for again when next
    // needed.
    void forgetRootPixmap();
    // Asks the server now which pixmap the desktop publishes, so that the first picture takes
    // the answer with those of other requests rather than waiting for it alone.
    void askRootPixmap();

private:
    bool readRootPixmap(QImage &picture, const QRect &area);
    // The desktop's background picture (_XROOTPMAP_ID) and its size; 0 without one.
    unsigned long findRootPixmap(QSize *size);

    _XDisplay *m_display = nullptr;
    unsigned long m_root = 0;
    unsigned int m_rootPixmapAsked = 0; // the request's sequence number; 0: none under way
    unsigned long m_rootPixmapAtom = 0;
    unsigned long m_rootPixmap = 0;
    QSize m_rootPixmapSize;
    bool m_rootPixmapKnown = false;
    bool m_shmOffered = false;
    bool m_shmAllowed = true;
    int m_shmId = -1;
    void *m_shmAddress = nullptr;
    int m_shmBytes = 0;
    void *m_shmInfo = nullptr; // XShmSegmentInfo, kept out of this header with Xlib
    QPixmap m_backdrop;
    QPoint m_backdropOrigin;
};
