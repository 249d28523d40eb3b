#include "overlay/capture/framepicture.h"

#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace FramePicture {

QImage fromRaw(const uchar *data, qsizetype bytes, QSize size, int stride, PixelLayout layout,
               QImage *reuse)
{
    if (!data || size.isEmpty())
        return QImage();
    const qsizetype rowBytes = qsizetype(size.width()) * 4;
    const qsizetype step = std::abs(qsizetype(stride));
    if (step < rowBytes || step * (size.height() - 1) + rowBytes > bytes)
        return QImage();

    // The picture handed back last time is written again once nobody else holds it: a frame
    // of a stream is megabytes, fresh pages for each would cost more than the copy.
    QImage image;
    if (reuse && reuse->size() == size && reuse->format() == QImage::Format_RGB32 &&
        reuse->isDetached())
        image = std::move(*reuse);
    else
        image = QImage(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    // In memory, a little-endian RGB32 pixel is BGRx: those rows are copied as words.
    const bool words = Q_BYTE_ORDER == Q_LITTLE_ENDIAN &&
                       (layout == PixelLayout::BGRx || layout == PixelLayout::BGRA);
    const bool redFirst = layout == PixelLayout::RGBx || layout == PixelLayout::RGBA;
    for (int y = 0; y < size.height(); ++y) {
        const int sourceRow = stride < 0 ? size.height() - 1 - y : y;
        const uchar *in = data + step * sourceRow;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        if (words) {
            std::memcpy(out, in, size_t(rowBytes));
            for (int x = 0; x < size.width(); ++x)
                out[x] |= 0xff000000u;
            continue;
        }
        for (int x = 0; x < size.width(); ++x, in += 4) {
            out[x] = redFirst ? qRgb(in[0], in[1], in[2]) : qRgb(in[2], in[1], in[0]);
        }
    }
    if (reuse)
        *reuse = image;
    return image;
}

QRect screenPart(QSize picture, const QVector<QRect> &screens, const QRect &screen)
{
    QRect desktop;
    for (const QRect &r : screens)
        desktop |= r;
    desktop |= screen;
    if (picture.isEmpty() || desktop.isEmpty())
        return QRect();

    const double sx = double(picture.width()) / desktop.width();
    const double sy = double(picture.height()) / desktop.height();
    const int left = int(std::lround((screen.left() - desktop.left()) * sx));
    const int top = int(std::lround((screen.top() - desktop.top()) * sy));
    const int right = int(std::lround((screen.left() + screen.width() - desktop.left()) * sx));
    const int bottom = int(std::lround((screen.top() + screen.height() - desktop.top()) * sy));
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & QRect(QPoint(), picture);
}

bool isAboutSize(QSize picture, QSize desktop)
{
    if (picture.isEmpty() || desktop.isEmpty())
        return false;
    const double sx = double(picture.width()) / desktop.width();
    const double sy = double(picture.height()) / desktop.height();
    // 1 % either way for the rounding of scaled sides.
    const double slack = 0.01;
    return std::abs(sx - sy) <= slack * std::max(sx, sy) &&
           std::max(sx, sy) <= MaxPictureScale * (1 + slack) &&
           std::min(sx, sy) >= (1 - slack) / MaxPictureScale;
}

QRect deviceRect(const QRect &geometry, double ratio)
{
    return QRect(geometry.topLeft(), QSize(int(std::lround(geometry.width() * ratio)),
                                           int(std::lround(geometry.height() * ratio))));
}

QRect deviceRect(const QScreen *screen)
{
    return screen ? deviceRect(screen->geometry(), screen->devicePixelRatio()) : QRect();
}

Desktop desktopOf(const QScreen *screen)
{
    Desktop desktop;
    if (!screen)
        return desktop;
    for (const QScreen *s : screen->virtualSiblings()) {
        desktop.screens << deviceRect(s);
        desktop.bounds |= desktop.screens.last();
    }
    desktop.screen = deviceRect(screen);
    desktop.bounds |= desktop.screen;
    return desktop;
}

Desktop screenAlone(const QScreen *screen)
{
    Desktop desktop;
    desktop.screen = desktop.bounds = deviceRect(screen);
    desktop.screens << desktop.screen;
    return desktop;
}

QString sizeMismatch(QSize picture, const Desktop &desktop)
{
    if (isAboutSize(picture, desktop.bounds.size()))
        return QString();
    return QStringLiteral("is a picture of %1x%2 pixels, not one of the %3x%4 desktop")
        .arg(picture.width())
        .arg(picture.height())
        .arg(desktop.bounds.width())
        .arg(desktop.bounds.height());
}

QPixmap screenPicture(const QImage &picture, const Desktop &desktop, int logicalWidth, QString *why)
{
    QString mismatch = sizeMismatch(picture.size(), desktop);
    if (!mismatch.isEmpty()) {
        *why = mismatch;
        return QPixmap();
    }
    const QRect part = screenPart(picture.size(), desktop.screens, desktop.screen);
    if (part.isEmpty() || logicalWidth <= 0) {
        *why = QStringLiteral("does not show the screen");
        return QPixmap();
    }
    QPixmap shot = QPixmap::fromImage(part == picture.rect() ? picture : picture.copy(part));
    shot.setDevicePixelRatio(double(part.width()) / logicalWidth);
    return shot;
}

} // namespace FramePicture
