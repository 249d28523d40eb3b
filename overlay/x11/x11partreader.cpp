#include "overlay/x11/x11partreader.h"

#include <cstdlib>
#include <cstring>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace {

constexpr int PollMs = 4;

bool hostIsLittleEndian()
{
    const quint32 one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

} // namespace

X11PartReader::X11PartReader(std::shared_ptr<X11Connection> connection)
    : m_connection(std::move(connection))
{
    m_connection->addClient(this);
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, [this] { takeAnswers(false); });
}

X11PartReader::~X11PartReader()
{
    cancel();
    m_connection->removeClient(this);
}

void X11PartReader::read(unsigned long screenWindow, const QRect &part, const QPoint *knownOrigin)
{
    cancel();
    m_window = screenWindow;
    m_part = part;
    if (knownOrigin) {
        m_windowOrigin = *knownOrigin;
        askPicture();
        return;
    }
    xcb_connection_t *connection = XGetXCBConnection(m_connection->display());
    m_sequence = xcb_translate_coordinates(connection, static_cast<xcb_window_t>(screenWindow),
                                           static_cast<xcb_window_t>(m_connection->root()), 0, 0)
                     .sequence;
    xcb_flush(connection);
    m_step = Step::Position;
    m_poll.start();
}

void X11PartReader::askPicture()
{
    xcb_connection_t *connection = XGetXCBConnection(m_connection->display());
    const QRect onRoot = m_part.translated(m_windowOrigin);
    m_sequence = xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP,
                               static_cast<xcb_window_t>(m_connection->root()),
                               static_cast<int16_t>(onRoot.x()), static_cast<int16_t>(onRoot.y()),
                               static_cast<uint16_t>(onRoot.width()),
                               static_cast<uint16_t>(onRoot.height()), ~0u)
                     .sequence;
    xcb_flush(connection);
    m_step = Step::Picture;
    m_poll.start();
}

void X11PartReader::cancel()
{
    if (m_step == Step::Idle)
        return;
    // The answer still comes; nobody waits for it any more.
    xcb_discard_reply(XGetXCBConnection(m_connection->display()), m_sequence);
    m_step = Step::Idle;
    m_poll.stop();
}

void X11PartReader::eventsHandled(bool)
{
    takeAnswers(true);
}

void X11PartReader::takeAnswers(bool inDrain)
{
    if (m_step == Step::Idle || m_taking)
        return;
    xcb_connection_t *connection = XGetXCBConnection(m_connection->display());
    void *answer = nullptr;
    xcb_generic_error_t *error = nullptr;
    // Reads the socket when nothing is queued yet. Events read along with it are handed to
    // the connection's clients (the socket will not report them again), once the answer is
    // taken: they may ask for this reader's answers themselves.
    m_taking = true;
    const int came = xcb_poll_for_reply(connection, m_sequence, &answer, &error);
    m_taking = false;
    std::free(error);
    QImage picture;
    bool failed = false;
    if (came && !answer) {
        failed = true;
    } else if (came && m_step == Step::Position) {
        const auto *position = static_cast<xcb_translate_coordinates_reply_t *>(answer);
        m_windowOrigin = QPoint(position->dst_x, position->dst_y);
        std::free(answer);
        askPicture();
    } else if (came) {
        picture = takePicture(static_cast<xcb_get_image_reply_t *>(answer));
        std::free(answer);
        failed = picture.isNull();
    }
    if (!inDrain)
        m_connection->handleEvents();
    if (failed) {
        fail();
    } else if (!picture.isNull()) {
        m_step = Step::Idle;
        m_poll.stop();
        emit partRead(picture, m_window, m_windowOrigin);
    }
}

QImage X11PartReader::takePicture(const xcb_get_image_reply_t *image) const
{
    xcb_connection_t *connection = XGetXCBConnection(m_connection->display());
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const Visual *visual =
        DefaultVisual(m_connection->display(), DefaultScreen(m_connection->display()));
    const qsizetype bytes = qsizetype(m_part.width()) * m_part.height() * 4;
    // Only what QImage takes as it is: 32 bits a pixel, 8 bits a colour, the host's order.
    const bool readable =
        (image->depth == 24 || image->depth == 32) && visual && visual->red_mask == 0xff0000 &&
        visual->green_mask == 0xff00 && visual->blue_mask == 0xff &&
        xcb_get_image_data_length(image) == bytes &&
        (setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST) == hostIsLittleEndian();
    if (!readable)
        return QImage();
    QImage picture(m_part.width(), m_part.height(), QImage::Format_RGB32);
    std::memcpy(picture.bits(), xcb_get_image_data(image), size_t(bytes));
    return picture;
}

void X11PartReader::fail()
{
    m_step = Step::Idle;
    m_poll.stop();
    emit failed();
}
