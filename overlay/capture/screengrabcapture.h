#pragma once

#include "overlay/screencapture.h"

#include <QTimer>

#include <functional>

// The screen read by the program itself (X11, where the root window can be read): the
// answer needs no one else, so it comes from the event loop's next turn. A failed read
// leaves the lens its ring (answersAtOnce()).
class ScreenGrabCapture final : public ScreenCapture
{
    Q_OBJECT

public:
    // A picture of `part` of `screen` (its logical coordinates, relative to the screen; null
    // for the whole screen) in its device pixels, its pixel ratio set; a null pixmap when it
    // cannot be taken.
    using Grabber = std::function<QPixmap(QScreen *screen, const QRect &part)>;

    // The default reads the screen through Qt (QScreen::grabWindow of the root).
    explicit ScreenGrabCapture(Grabber grabber = Grabber());

    void setGrabber(Grabber grabber);

    // The next capture() reads only `part` of the screen (as above, cut to the screen), the
    // one after it the whole screen again. The picture's top left corner then lies at
    // partOrigin() in the screen's device pixels.
    void readPartOnce(const QRect &part) { m_part = part; }
    static QPoint partOrigin(const QRect &part, double ratio);

    QString name() const override { return QStringLiteral("screen"); }
    void capture(QScreen *screen) override;
    void cancel() override;
    bool answersAtOnce() const override { return true; }

private:
    void grab();

    Grabber m_grabber;
    QPointer<QScreen> m_screen;
    QRect m_part;
    QRect m_asked;
    QTimer m_answer;
};
