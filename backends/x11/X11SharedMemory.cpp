#include "backends/x11/X11SharedMemory.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

namespace {

X11Error systemError(const char* what) {
    return {QStringLiteral("Could not %1 shared memory: %2")
                .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)))};
}

} // namespace

namespace X11SharedMemory {

std::variant<X11Segment, X11Error> attach(X11Connection& connection, std::size_t size,
                                          bool populate) {
    xcb_connection_t* c = connection.get();
    X11Segment segment;
    segment.size = size;
    segment.id = xcb_generate_id(c);
    xcb_void_cookie_t cookie;
    int shmId = -1;
    if (connection.hasShmFd()) {
        const int fd = memfd_create("daubly-capture", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
            X11Error error = systemError("create");
            if (fd >= 0) {
                close(fd);
            }
            return error;
        }
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                          MAP_SHARED | (populate ? MAP_POPULATE : 0), fd, 0);
        if (data == MAP_FAILED) {
            X11Error error = systemError("map");
            close(fd);
            return error;
        }
        segment.data = static_cast<std::uint8_t*>(data);
        cookie = xcb_shm_attach_fd_checked(c, segment.id, fd, 0); // xcb closes fd
    } else {
        shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (shmId < 0) {
            return systemError("create");
        }
        void* data = shmat(shmId, nullptr, 0);
        if (data == reinterpret_cast<void*>(-1)) {
            X11Error error = systemError("map");
            shmctl(shmId, IPC_RMID, nullptr);
            return error;
        }
        segment.data = static_cast<std::uint8_t*>(data);
        segment.sysV = true;
        cookie = xcb_shm_attach_checked(c, segment.id, static_cast<std::uint32_t>(shmId), 0);
    }
    xcb_generic_error_t* failure = xcb_request_check(c, cookie);
    if (shmId >= 0) {
        shmctl(shmId, IPC_RMID, nullptr);
    }
    if (failure) {
        std::free(failure);
        unmap(segment);
        return X11Error::refusal();
    }
    return segment;
}

void detach(X11Connection& connection, X11Segment& segment) {
    xcb_connection_t* c = connection.get();
    xcb_discard_reply(c, xcb_shm_detach_checked(c, segment.id).sequence);
    unmap(segment);
}

void unmap(X11Segment& segment) {
    if (segment.sysV) {
        shmdt(segment.data);
    } else if (segment.data) {
        munmap(segment.data, segment.size);
    }
    segment.data = nullptr;
}

} // namespace X11SharedMemory

std::optional<X11Error> X11Strips::ensure(X11Connection& connection, std::size_t bytes) {
    for (X11Segment& strip : m_strips) {
        if (strip.data && strip.size < bytes) {
            X11SharedMemory::detach(connection, strip);
        }
        if (!strip.data) {
            auto segment =
                X11SharedMemory::attach(connection, std::max(bytes, m_minimumBytes), true);
            if (auto* error = std::get_if<X11Error>(&segment)) {
                release(connection);
                return std::move(*error);
            }
            strip = std::get<X11Segment>(segment);
        }
    }
    return std::nullopt;
}

void X11Strips::clear(X11Connection& connection) {
    if (!m_keep) {
        release(connection);
        return;
    }
    for (X11Segment& strip : m_strips) {
        if (strip.data) {
            std::memset(strip.data, 0, strip.size);
        }
    }
}

void X11Strips::freePages() {
    for (X11Segment& strip : m_strips) {
        // For the server's mapping too. They were zeroed after use, so a kernel that
        // cannot free them here loses only memory.
        if (strip.data) {
            madvise(strip.data, strip.size, MADV_REMOVE);
        }
    }
}

void X11Strips::release(X11Connection& connection) {
    for (X11Segment& strip : m_strips) {
        if (strip.data) {
            if (connection.get()) {
                X11SharedMemory::detach(connection, strip);
            } else {
                X11SharedMemory::unmap(strip);
            }
        }
    }
}
