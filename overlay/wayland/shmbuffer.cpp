#include "overlay/wayland/shmbuffer.h"

#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

namespace {

void handleRelease(void *data, wl_buffer *)
{
    auto *self = static_cast<ShmBuffer *>(data);
    self->busy = false;
    if (self->onRelease)
        self->onRelease();
}

const wl_buffer_listener BufferListener = {handleRelease};

} // namespace

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm *shm, QSize size, uint32_t format, int stride)
{
    if (!shm || size.isEmpty())
        return nullptr;
    if (stride <= 0)
        stride = size.width() * 4;
    const size_t bytes = size_t(stride) * size_t(size.height());
    const int fd = memfd_create("kavri-overlay", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (ftruncate(fd, off_t(bytes)) < 0) {
        close(fd);
        return nullptr;
    }
    void *data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool *pool = wl_shm_create_pool(shm, fd, int32_t(bytes));
    wl_buffer *buffer =
        wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(), stride, format);
    // The buffer keeps the memory: the pool and the descriptor are not needed any more.
    wl_shm_pool_destroy(pool);
    close(fd);

    std::unique_ptr<ShmBuffer> self(new ShmBuffer);
    self->m_buffer = buffer;
    self->m_data = static_cast<uchar *>(data);
    self->m_bytes = bytes;
    self->m_size = size;
    self->m_stride = stride;
    self->m_image = QImage(self->m_data, size.width(), size.height(), stride,
                           QImage::Format_ARGB32_Premultiplied);
    wl_buffer_add_listener(buffer, &BufferListener, self.get());
    return self;
}

ShmBuffer::~ShmBuffer()
{
    m_image = QImage();
    if (m_buffer)
        wl_buffer_destroy(m_buffer);
    if (m_data)
        munmap(m_data, m_bytes);
}
