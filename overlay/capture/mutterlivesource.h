#pragma once

#include "overlay/capture/mutterwindowcast.h"
#include "overlay/livesource.h"

#include <QPointer>
#include <QRect>

#include <optional>

// The live picture on GNOME, where the overlay is an XWayland window the compositor's screen
// casts cannot leave out: while the lens is shown, the focused window (the presentation) is
// cast (MutterWindowCast) and its frames are placed on the screen (CastPlacement). Where the
// window cannot be placed, or the lens reaches beyond it, the lens shows the picture of the
// key press. The cast runs only from the first follow() until stop(); a cast that fails is
// said once on standard error and not tried again until the lens is shown anew.
class MutterLiveSource final : public LiveSource
{
    Q_OBJECT

public:
    MutterLiveSource();
    ~MutterLiveSource() override;

    bool follow(QScreen *screen, const QWidget *screenWindow,
                const std::vector<const QWidget *> &ownWindows, QPoint pointer, int radius,
                double scale) override;
    void stop() override;
    QImage picture() const override { return m_live; }
    QPoint origin() const override { return m_area.topLeft(); }
    // The lens needs the whole screen's picture at the key press (the window is looked for in
    // it), which is what is read when this says no.
    bool willDraw() override { return false; }
    void setPressPicture(QScreen *screen, const QPixmap &picture, QPoint origin) override;

    // How long the cast may take to its first frame.
    void setTimeout(int milliseconds) { m_cast.setTimeout(milliseconds); }

private:
    void takeFrame(const QImage &frame);
    void castFailed(const QString &why, bool missing);
    bool compose();
    void drop();

    MutterWindowCast m_cast;
    bool m_refused = false; // the cast failed: not tried again until stop()
    QPointer<QScreen> m_screen;
    QRect m_area; // what the lens magnifies, in the screen's device pixels
    QImage m_frame;
    bool m_placed = false; // m_place was found for this frame size and press picture
    std::optional<QPoint> m_place;
    QImage m_live;
    QPointer<QScreen> m_pressScreen;
    QImage m_press;
    QPoint m_pressOrigin;
};
