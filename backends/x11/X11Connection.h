#pragma once

// The capture's own connection to the X server: opened on first use and again after the
// server closed it, with what the capture needs to know of the server (root window and
// depth, pixel format, shared memory and RandR).

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <xcb/xcb.h>

// Why a request to the server did not work. `refused`: the server would not attach our
// shared memory (a remote display, another IPC namespace); the caller takes the path
// without it rather than failing.
struct X11Error {
    QString message;
    bool refused = false;

    static X11Error refusal() {
        return {QStringLiteral("the X server refused shared memory"), true};
    }
    // From the error of a reply that did not come (freed here): the server's error, or a
    // lost connection when there is none. `context`, if any, introduces the server's error.
    static X11Error fromReply(xcb_generic_error_t* failure, const QString& context = {});
};

// How the root window's pixels are laid out, from its visual: the QImage format that holds
// them as the server sends them (so a 10-bit screen keeps its 10 bits), or none for a
// layout Daubly cannot read (colour maps, another byte order, 24 bits a pixel, ...).
struct X11VisualLayout {
    std::uint8_t depth = 0;
    std::uint8_t bitsPerPixel = 0;
    std::uint32_t redMask = 0;
    std::uint32_t greenMask = 0;
    std::uint32_t blueMask = 0;
    bool serverLittleEndian = true;
};
X11VisualLayout rootLayoutOf(const xcb_setup_t* setup, const xcb_screen_t& screen);
std::optional<QImage::Format> imageFormatOf(const X11VisualLayout& layout);

class X11Connection {
public:
    // `displayName` empty: $DISPLAY.
    explicit X11Connection(QByteArray displayName);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // Connects unless connected and well; the error says why not.
    std::optional<X11Error> open();
    void close();

    xcb_connection_t* get() const { return m_connection; }
    xcb_window_t root() const { return m_root; }
    std::uint8_t rootDepth() const { return m_rootDepth; }
    // The root window's pixels: how captures hold them, and their size in bytes.
    QImage::Format imageFormat() const { return m_imageFormat; }
    std::size_t bytesPerPixel() const { return m_bytesPerPixel; }
    bool hasShm() const { return m_shm; }
    bool hasShmFd() const { return m_shmFd; }
    bool hasRandr() const { return m_randr; }
    // After the server refused shared memory once: the slow path from now on.
    void giveUpShm() { m_shm = false; }

    // Returns once the server has handled every request sent so far.
    void sync();
    // Errors of requests nobody waits on end up in the event queue; keep it empty.
    void dropQueuedEvents();

private:
    void queryExtensions();

    const QByteArray m_displayName;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::uint8_t m_rootDepth = 0;
    QImage::Format m_imageFormat = QImage::Format_RGB32;
    std::size_t m_bytesPerPixel = 4;
    bool m_shm = false;
    bool m_shmFd = false;
    bool m_randr = false;
};
