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
    // A picture of `screen` in its device pixels, its pixel ratio set; a null pixmap when it
    // cannot be taken.
    using Grabber = std::function<QPixmap(QScreen *screen)>;

    // The default reads the whole screen through Qt (QScreen::grabWindow of the root).
    explicit ScreenGrabCapture(Grabber grabber = Grabber());

    void setGrabber(Grabber grabber);

    QString name() const override { return QStringLiteral("screen"); }
    void capture(QScreen *screen) override;
    void cancel() override;
    bool answersAtOnce() const override { return true; }

private:
    void grab();

    Grabber m_grabber;
    QPointer<QScreen> m_screen;
    QTimer m_answer;
};
