#include "overlay/x11/x11imagereader.h"

#include "overlay/x11/x11connection.h"
#include "overlay/x11/x11liveblend.h"

#include <QPainter>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

namespace {

// Only 32 bits per pixel in the machine's byte order, red-green-blue from the top byte down,
// which is what 24- and 32-bit TrueColor windows are on every X server in use.
bool readable(const XImage *image)
{
    const int hostOrder = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? LSBFirst : MSBFirst;
    return image->bits_per_pixel == 32 && image->byte_order == hostOrder &&
           image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff;
}

void paintImage(QImage &picture, const XImage *image, QPoint at, bool blend)
{
    X11LiveBlend::paint(picture, reinterpret_cast<const uchar *>(image->data),
                        image->bytes_per_line, QSize(image->width, image->height), at, blend);
}

} // namespace

X11ImageReader::X11ImageReader(Display *display, unsigned long root, bool sharedMemoryOffered)
    : m_display(display), m_root(root),
      m_rootPixmapAtom(XInternAtom(display, "_XROOTPMAP_ID", False)),
      m_shmOffered(sharedMemoryOffered)
{
}

X11ImageReader::~X11ImageReader()
{
    release();
}

void X11ImageReader::readWindow(QImage &picture, QPoint origin,
                                const X11LiveArea::StackedWindow &window, void *visual,
                                const QRect &part)
{
    if (part.isEmpty() || !visual)
        return;
    const QPoint inWindow = part.topLeft() - window.geometry.topLeft();
    const QPoint inPicture = part.topLeft() - origin;
    const bool blend = window.depth == 32;
    if (m_shmInfo) {
        auto *info = static_cast<XShmSegmentInfo *>(m_shmInfo);
        XImage *image = XShmCreateImage(m_display, static_cast<Visual *>(visual),
                                        static_cast<unsigned int>(window.depth), ZPixmap, nullptr,
                                        info, static_cast<unsigned int>(part.width()),
                                        static_cast<unsigned int>(part.height()));
        if (!image)
            return;
        image->data = info->shmaddr;
        if (image->bytes_per_line * image->height <= m_shmBytes &&
            XShmGetImage(m_display, window.id, image, inWindow.x(), inWindow.y(), AllPlanes) &&
            readable(image))
            paintImage(picture, image, inPicture, blend);
        image->data = nullptr; // the segment is not XImage's to free
        XDestroyImage(image);
        return;
    }
    // Fails (null) when the window went or shrank since it was listed.
    XImage *image = XGetImage(m_display, window.id, inWindow.x(), inWindow.y(),
                              static_cast<unsigned int>(part.width()),
                              static_cast<unsigned int>(part.height()), AllPlanes, ZPixmap);
    if (!image)
        return;
    if (readable(image))
        paintImage(picture, image, inPicture, blend);
    XDestroyImage(image);
}

void X11ImageReader::setBackdrop(const QPixmap &picture, QPoint origin)
{
    m_backdrop = picture;
    m_backdropOrigin = origin;
}

void X11ImageReader::readBackground(QImage &picture, const QRect &area)
{
    if (readRootPixmap(picture, area) || m_backdrop.isNull())
        return;
    const QRect part = QRect(m_backdropOrigin, m_backdrop.size()).intersected(area);
    if (part.isEmpty())
        return;
    // Pixel for pixel: the piece's own ratio would shrink it on the picture.
    QPixmap piece = m_backdrop.copy(part.translated(-m_backdropOrigin));
    piece.setDevicePixelRatio(1.0);
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(part.topLeft() - area.topLeft(), piece);
}

bool X11ImageReader::readRootPixmap(QImage &picture, const QRect &area)
{
    // Asked once while the lens runs, and again when the desktop publishes another.
    if (!m_rootPixmapKnown) {
        m_rootPixmapKnown = true;
        m_rootPixmap = findRootPixmap(&m_rootPixmapSize);
    }
    const QRect part = QRect(QPoint(0, 0), m_rootPixmapSize).intersected(area);
    if (m_rootPixmap == 0)
        return false;
    if (part.isEmpty())
        return true;
    XImage *image = XGetImage(m_display, m_rootPixmap, part.x(), part.y(),
                              static_cast<unsigned int>(part.width()),
                              static_cast<unsigned int>(part.height()), AllPlanes, ZPixmap);
    if (!image) {
        m_rootPixmapKnown = false; // freed since: asked again next time
        return false;
    }
    if (readable(image))
        paintImage(picture, image, part.topLeft() - area.topLeft(), false);
    XDestroyImage(image);
    return true;
}

void X11ImageReader::askRootPixmap()
{
    if (m_rootPixmapKnown || m_rootPixmapAsked)
        return;
    xcb_connection_t *connection = XGetXCBConnection(m_display);
    m_rootPixmapAsked =
        xcb_get_property(connection, 0, static_cast<xcb_window_t>(m_root),
                         static_cast<xcb_atom_t>(m_rootPixmapAtom), XCB_ATOM_PIXMAP, 0, 1)
            .sequence;
    xcb_flush(connection);
}

void X11ImageReader::forgetRootPixmap()
{
    m_rootPixmapKnown = false;
    if (m_rootPixmapAsked)
        xcb_discard_reply(XGetXCBConnection(m_display), m_rootPixmapAsked);
    m_rootPixmapAsked = 0;
}

unsigned long X11ImageReader::findRootPixmap(QSize *size)
{
    askRootPixmap();
    xcb_get_property_cookie_t asked;
    asked.sequence = m_rootPixmapAsked;
    m_rootPixmapAsked = 0;
    xcb_generic_error_t *error = nullptr;
    xcb_get_property_reply_t *reply =
        xcb_get_property_reply(XGetXCBConnection(m_display), asked, &error);
    std::free(error);
    Pixmap pixmap = 0;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_PIXMAP &&
        xcb_get_property_value_length(reply) == 4)
        pixmap = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    std::free(reply);
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned int width = 0;
    unsigned int height = 0;
    unsigned int border = 0;
    unsigned int depth = 0;
    if (pixmap == 0 ||
        !XGetGeometry(m_display, pixmap, &root, &x, &y, &width, &height, &border, &depth))
        return 0;
    *size = QSize(static_cast<int>(width), static_cast<int>(height));
    return pixmap;
}

bool X11ImageReader::prepare(int bytes)
{
    if (!m_shmOffered || !m_shmAllowed || bytes <= 0)
        return false;
    if (m_shmInfo && bytes <= m_shmBytes)
        return true;
    release();
    const int id = shmget(IPC_PRIVATE, static_cast<size_t>(bytes), IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void *address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    auto *info = new XShmSegmentInfo{};
    info->shmid = id;
    info->shmaddr = static_cast<char *>(address);
    info->readOnly = False;
    // A server on another machine, or one that may not attach this user's memory, refuses:
    // then the pictures come through the connection.
    XSync(m_display, False);
    bool refused = false;
    {
        X11ErrorTrap trap(m_display);
        XShmAttach(m_display, info);
        refused = trap.caught();
    }
    // Removed as soon as both sides hold it: it goes with this process, however that ends.
    shmctl(id, IPC_RMID, nullptr);
    if (refused) {
        shmdt(address);
        delete info;
        m_shmOffered = false;
        return false;
    }
    m_shmInfo = info;
    m_shmAddress = address;
    m_shmId = id;
    m_shmBytes = bytes;
    return true;
}

void X11ImageReader::release()
{
    if (!m_shmInfo)
        return;
    auto *info = static_cast<XShmSegmentInfo *>(m_shmInfo);
    XShmDetach(m_display, info);
    XSync(m_display, False);
    shmdt(m_shmAddress);
    delete info;
    m_shmInfo = nullptr;
    m_shmAddress = nullptr;
    m_shmId = -1;
    m_shmBytes = 0;
}
