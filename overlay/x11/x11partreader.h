#pragma once

#include "overlay/x11/x11connection.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QTimer>

#include <memory>

// Reads a part of a screen as it shows now, without waiting for the server: the requests go
// out at once and their answers are taken when the connection's events are read, one after the
// other (where the screen's window lies on the root window, then the part). A server busy
// compositing a 4K screen may take tens of milliseconds to answer; the program goes on drawing
// meanwhile.
class X11PartReader final : public QObject, public X11EventClient
{
    Q_OBJECT

public:
    explicit X11PartReader(std::shared_ptr<X11Connection> connection);
    ~X11PartReader() override;

    // Reads `part` (device pixels, relative to the window's top left corner) of the root
    // window beneath `screenWindow`. One read at a time: a new one replaces the one under way.
    // `knownOrigin`: where the window lies, when the caller knows it (spares one answer).
    void read(unsigned long screenWindow, const QRect &part, const QPoint *knownOrigin = nullptr);
    void cancel();
    bool isReading() const { return m_step != Step::Idle; }

    void handleEvent(const _XEvent &) override {}
    void eventsHandled(bool fromSocket) override;

signals:
    // The part, and where `window`'s top left corner lies on the root window.
    void partRead(const QImage &picture, unsigned long window, QPoint windowOrigin);
    // The part could not be read (a window gone, a depth this does not read).
    void failed();

private:
    enum class Step { Idle, Position, Picture };
    void takeAnswers(bool inDrain);
    QImage takePicture(const struct xcb_get_image_reply_t *image) const;
    void askPicture();
    void fail();

    std::shared_ptr<X11Connection> m_connection;
    Step m_step = Step::Idle;
    unsigned long m_window = 0;
    QRect m_part;
    QPoint m_windowOrigin;
    unsigned int m_sequence = 0;
    bool m_taking = false;
    // Answers read along with another request's are not announced by the socket again.
    QTimer m_poll;
};
