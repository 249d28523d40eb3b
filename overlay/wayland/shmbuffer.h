#pragma once

#include <QImage>
#include <QRegion>

#include <cstdint>
#include <functional>
#include <memory>

struct wl_buffer;
struct wl_shm;

// A wl_buffer in shared memory with a QImage over the same bytes. The compositor holds it
// from the commit that attaches it until it releases it; meanwhile it must not be drawn into.
class ShmBuffer final
{
public:
    // A buffer of `size` device pixels in `format` (a wl_shm format) with `stride` bytes a
    // line (0: four bytes a pixel); null when the memory cannot be had.
    static std::unique_ptr<ShmBuffer> create(wl_shm *shm, QSize size, uint32_t format,
                                             int stride = 0);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer &) = delete;
    ShmBuffer &operator=(const ShmBuffer &) = delete;

    wl_buffer *buffer() const { return m_buffer; }
    QSize size() const { return m_size; }
    int stride() const { return m_stride; }
    const uchar *bytes() const { return m_data; }
    // The pixels as premultiplied ARGB32 (WL_SHM_FORMAT_ARGB8888 on little endian).
    QImage &image() { return m_image; }

    // Held by the compositor (between attach and release).
    bool busy = false;
    // What this buffer shows that differs from the newest picture (logical pixels).
    QRegion stale;
    // Called when the compositor releases the buffer.
    std::function<void()> onRelease;

private:
    ShmBuffer() = default;

    wl_buffer *m_buffer = nullptr;
    uchar *m_data = nullptr;
    size_t m_bytes = 0;
    QSize m_size;
    int m_stride = 0;
    QImage m_image;
};
