#pragma once

#include "overlay/livesource.h"

#include <QPointer>
#include <QRect>

#include <memory>
#include <vector>

class X11Connection;
class X11LiveLens;
class X11PartReader;

// The live picture on X11 under a compositing manager (X11LiveLens), for the lens: turns the
// lens's screen, pointer and size into the area of the root window to follow, and the
// overlay's windows into the X windows to leave out. The X11LiveLens is opened on the first
// follow(); XWayland has none.
class X11LiveSource final : public LiveSource
{
    Q_OBJECT

public:
    explicit X11LiveSource(std::shared_ptr<X11Connection> connection);
    ~X11LiveSource() override;

    bool follow(QScreen *screen, const QWidget *screenWindow,
                const std::vector<const QWidget *> &ownWindows, QPoint pointer, int radius,
                double scale) override;
    void stop() override;
    QImage picture() const override { return m_live; }
    QPoint origin() const override { return m_liveOrigin; }
    bool willDraw() override;
    void setPressPicture(QScreen *screen, const QPixmap &picture, QPoint origin) override;
    bool readPart(QScreen *screen, const QWidget *screenWindow, const QRect &part) override;
    void cancelPart() override;

private:
    void openLive();
    void useBackdrop();
    void takeLivePicture();
    void liveEnded();
    void dropLive();
    void takePart(const QImage &picture, unsigned long window, QPoint windowOrigin);
    // Where the overlay window `window` lies on the root window, as last heard while its
    // screen had `geometry`; null when not known.
    const QPoint *knownOrigin(unsigned long window, const QRect &geometry) const;

    std::shared_ptr<X11Connection> m_connection;
    std::unique_ptr<X11LiveLens> m_liveLens;
    bool m_liveOpened = false;
    // start() refused (no compositing manager): not asked again until the lens is hidden.
    bool m_liveRefused = false;
    bool m_following = false; // inside follow(): the caller reads the picture itself
    QPointer<QScreen> m_liveScreen;
    QRect m_liveScreenGeometry;
    unsigned long m_liveScreenWindow = 0;
    std::vector<unsigned long> m_liveOwn;
    QPoint m_liveScreenOrigin; // the screen's top left corner in root device pixels
    QImage m_live;
    QPoint m_liveOrigin;
    QPointer<QScreen> m_pressScreen;
    QPixmap m_pressPicture;
    QPoint m_pressOrigin; // in the device pixels of its screen
    std::unique_ptr<X11PartReader> m_partReader;
    QPointer<QScreen> m_partScreen;
    double m_partRatio = 1.0;
    struct Origin
    {
        unsigned long window = 0;
        QRect geometry; // of its screen, logical
        QPoint origin;
    };
    std::vector<Origin> m_origins;
};
