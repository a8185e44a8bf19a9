// The captured frames' memory, found again from an image: only an image that shows all of
// a frame as it lies in memory finds it, with an fd of its own to the same pixels, and
// nothing is found nor left open once the frame's mapping goes.

#include "backends/wayland/WaylandFrameMemory.h"

#include <QImage>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client-protocol.h>

namespace {

bool isOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

TEST(WaylandFrameMemory, AnImageOfAWholeFrameFindsItsMemory) {
    const QSize size(64, 48);
    const qsizetype stride = 64 * 4 + 32; // rows padded, as a compositor may ask
    const std::size_t length = std::size_t(stride) * 48;
    const int fd = memfd_create("frame-memory-test", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t(length)), 0);
    auto* pixels =
        static_cast<uchar*>(mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    ASSERT_NE(pixels, MAP_FAILED);
    QImage frame(pixels, 64, 48, stride, QImage::Format_RGB32);
    frame.fill(qRgb(10, 20, 30));
    frame.setPixel(5, 7, qRgb(200, 100, 50));

    WaylandFrameMemory memory;
    memory.add(pixels, {fd, size, stride, WL_SHM_FORMAT_XRGB8888});

    const auto found = memory.find(frame);
    ASSERT_TRUE(found);
    EXPECT_NE(found->fd, fd);
    EXPECT_EQ(found->size, size);
    EXPECT_EQ(found->stride, stride);
    EXPECT_EQ(found->format, std::uint32_t(WL_SHM_FORMAT_XRGB8888));
    std::uint32_t pixel = 0;
    ASSERT_EQ(pread(found->fd, &pixel, 4, off_t(7 * stride + 5 * 4)), 4);
    EXPECT_EQ(pixel & 0xffffff, 0xc86432u);
    close(found->fd);

    // Other memory with the same pixels, part of the frame, the frame read another way.
    const QImage copy = frame.copy();
    const QImage top(pixels, 64, 24, stride, QImage::Format_RGB32);
    const QImage inside(pixels + 4, 63, 48, stride, QImage::Format_RGB32);
    const QImage narrow(pixels, 64, 48, stride, QImage::Format_Grayscale16);
    for (const QImage* other : {&copy, &top, &inside, &narrow}) {
        EXPECT_FALSE(memory.find(*other));
    }
    EXPECT_FALSE(memory.find(QImage()));

    memory.remove(pixels);
    EXPECT_FALSE(memory.find(frame));
    EXPECT_FALSE(isOpen(fd));
    munmap(pixels, length);
}

// Frames never removed (the program quits mid-pick) are closed with the registry.
TEST(WaylandFrameMemory, ClosesWhatIsLeftWhenItGoes) {
    const int fd = memfd_create("frame-memory-test", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::uint32_t pixels = 0;
    {
        WaylandFrameMemory memory;
        memory.add(&pixels, {fd, QSize(1, 1), 4, WL_SHM_FORMAT_XRGB8888});
        EXPECT_TRUE(isOpen(fd));
    }
    EXPECT_FALSE(isOpen(fd));
}

} // namespace
