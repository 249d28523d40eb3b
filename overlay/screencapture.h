#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QString>

// A way to take a picture of a screen that answers later: through the compositor's
// screencopy protocol, the desktop portal or a screen cast. The magnifier asks for one
// picture each time it starts; the picture must show what lies beneath the overlay, so the
// overlay shows nothing when it asks.
class ScreenCapture : public QObject
{
    Q_OBJECT

public:
    ~ScreenCapture() override = default;

    // A short name for the route ("wlr-screencopy", "portal", ...), for the start-up line.
    virtual QString name() const = 0;

    // Asks for a picture of `screen`. Exactly one of captured() or failed() follows, never
    // from within this call. A new request replaces one still under way.
    virtual void capture(QScreen *screen) = 0;

    // The picture asked for is no longer wanted (the lens is gone, the key let go): the
    // request under way ends now, with whatever it holds open (a screen-cast session, a
    // portal request), and neither captured() nor failed() follows for it. A route that
    // holds nothing open between the request and its answer need not do anything.
    virtual void cancel() {}

    // True for a route that reads the screen itself and answers on the event loop's next
    // turn. Without its picture the lens still shows its ring there; the lens of a route that
    // answers later draws nothing until its picture has come.
    virtual bool answersAtOnce() const { return false; }

signals:
    // The whole screen in its device pixels, its pixel ratio set.
    void captured(QPointer<QScreen> screen, QPixmap picture);
    // No picture: `why` says so in a line for standard error. After a failure a route may
    // still work the next time (a refused portal dialog, say); `lasting` says it never will.
    void failed(const QString &why, bool lasting);
};
