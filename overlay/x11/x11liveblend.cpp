#include "overlay/x11/x11liveblend.h"

#include <algorithm>
#include <cstdint>

namespace X11LiveBlend {

void paint(QImage &picture, const uchar *rows, int bytesPerLine, QSize size, QPoint at, bool blend)
{
    for (int y = 0; y < size.height(); ++y) {
        const auto *src = reinterpret_cast<const uint32_t *>(rows + y * bytesPerLine);
        auto *dst = reinterpret_cast<uint32_t *>(picture.scanLine(at.y() + y)) + at.x();
        if (!blend) {
            for (int x = 0; x < size.width(); ++x)
                dst[x] = src[x] | 0xff000000u;
            continue;
        }
        for (int x = 0; x < size.width(); ++x) {
            const uint32_t s = src[x];
            const uint32_t a = s >> 24;
            if (a == 0xff) {
                dst[x] = s;
            } else if (a != 0) {
                const uint32_t d = dst[x];
                uint32_t out = 0xff000000u;
                for (int shift = 0; shift < 24; shift += 8) {
                    const uint32_t sc = (s >> shift) & 0xff;
                    const uint32_t dc = (d >> shift) & 0xff;
                    out |= std::min<uint32_t>(255, sc + (dc * (255 - a) + 127) / 255) << shift;
                }
                dst[x] = out;
            }
        }
    }
}

} // namespace X11LiveBlend
