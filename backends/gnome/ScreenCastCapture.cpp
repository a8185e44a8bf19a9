#include "backends/gnome/ScreenCastCapture.h"

#include "backends/linux/PortalRequest.h"
#include "backends/linux/PortalScreenshot.h"
#include "backends/linux/PrimaryFirstScreens.h"
#include "platform/Logger.h"
#include "platform/ScreenGeometry.h"
#include "platform/ScreenIdentity.h"
#include "platform/UserDefaults.h"

#include <QColorSpace>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QMetaObject>
#include <QProcess>
#include <QScreen>
#include <cstring>
#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr auto screenCastInterface = "org.freedesktop.portal.ScreenCast";
constexpr std::uint32_t monitorSources = 1;
constexpr std::uint32_t cursorHidden = 1;
constexpr std::uint32_t persistUntilRevoked = 2;

const Logger& logger() {
    static const Logger instance("Picker");
    return instance;
}

// The frames of one cast, read over the PipeWire remote the portal opened.
struct FrameRead {
    std::vector<QImage> images; // one per node, in order
    QString error;
};

struct NodeReader;

struct Reader {
    pw_main_loop* loop = nullptr;
    std::vector<std::unique_ptr<NodeReader>> nodes;
    std::size_t remaining = 0;
    QString error;

    void fail(const QString& why) {
        if (error.isEmpty())
            error = why;
        pw_main_loop_quit(loop);
    }
};

struct NodeReader {
    Reader* reader = nullptr;
    std::uint32_t node = 0;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    spa_video_info_raw format{};
    bool negotiated = false;
    QImage image;
};

std::optional<ScreenCastCapture::PixelFormat> pixelFormat(spa_video_format format) {
    using F = ScreenCastCapture::PixelFormat;
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
        return F::BGRx;
    case SPA_VIDEO_FORMAT_BGRA:
        return F::BGRA;
    case SPA_VIDEO_FORMAT_RGBx:
        return F::RGBx;
    case SPA_VIDEO_FORMAT_RGBA:
        return F::RGBA;
    default:
        return std::nullopt;
    }
}

void onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    auto* node = static_cast<NodeReader*>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    if (spa_format_video_raw_parse(param, &node->format) < 0 || !pixelFormat(node->format.format)) {
        node->reader->fail(QStringLiteral("the screen cast offers no format we read"));
        return;
    }
    node->negotiated = true;
    // Two buffers in memory we can map (never DMA-BUF), and the crop the compositor may
    // set: one frame is wanted, and the Shell would otherwise fill sixteen, 8 MB each at
    // 1920 x 1080, before the stream starts.
    std::uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(2, 1, 2), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    pw_stream_update_params(node->stream, params, 2);
}

void onProcess(void* data) {
    auto* node = static_cast<NodeReader*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(node->stream);
    if (!buffer)
        return;
    const spa_buffer* frame = buffer->buffer;
    const auto* header = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(frame, SPA_META_Header, sizeof(spa_meta_header)));
    const spa_data& plane = frame->datas[0];
    // A buffer may carry only a cursor update, or nothing yet: wait for pixels.
    const bool pixels = node->negotiated && node->image.isNull() && frame->n_datas > 0 &&
                        plane.data && plane.chunk && plane.chunk->size > 0 &&
                        !(header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED));
    if (pixels) {
        std::optional<QRect> crop;
        const auto* region = static_cast<const spa_meta_region*>(
            spa_buffer_find_meta_data(frame, SPA_META_VideoCrop, sizeof(spa_meta_region)));
        if (region && spa_meta_region_is_valid(region))
            crop = QRect(region->region.position.x, region->region.position.y,
                         int(region->region.size.width), int(region->region.size.height));
        const std::uint32_t offset =
            plane.chunk->offset % std::max<std::uint32_t>(plane.maxsize, 1);
        node->image = ScreenCastCapture::imageFromFrame(
            static_cast<const std::uint8_t*>(plane.data) + offset, plane.chunk->size,
            plane.chunk->stride, QSize(int(node->format.size.width), int(node->format.size.height)),
            *pixelFormat(node->format.format), crop);
    }
    pw_stream_queue_buffer(node->stream, buffer);
    if (!pixels)
        return;
    if (node->image.isNull()) {
        node->reader->fail(QStringLiteral("a screen cast frame does not fit its format"));
        return;
    }
    if (--node->reader->remaining == 0)
        pw_main_loop_quit(node->reader->loop);
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* node = static_cast<NodeReader*>(data);
    if (state == PW_STREAM_STATE_ERROR)
        node->reader->fail(QStringLiteral("the screen cast stream failed: %1")
                               .arg(QString::fromUtf8(error ? error : "no reason given")));
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        node->reader->fail(QStringLiteral("the screen cast stream was disconnected"));
}

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    return events;
}();

void onTimeout(void* data, std::uint64_t) {
    static_cast<Reader*>(data)->fail(QStringLiteral("no screen cast frame came in time"));
}

void onCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
    if (id == PW_ID_CORE)
        static_cast<Reader*>(data)->fail(QStringLiteral("PipeWire failed: %1 (%2)")
                                             .arg(QString::fromUtf8(message ? message : ""),
                                                  QString::fromUtf8(spa_strerror(res))));
}

// One frame of each node, on the calling thread. Takes `fd`.
FrameRead readNodes(int fd, const std::vector<std::uint32_t>& nodeIds,
                    std::chrono::milliseconds timeout) {
    static const bool initialised = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    (void)initialised;

    FrameRead result;
    Reader reader;
    reader.loop = pw_main_loop_new(nullptr);
    pw_context* context =
        reader.loop ? pw_context_new(pw_main_loop_get_loop(reader.loop), nullptr, 0) : nullptr;
    pw_core* core = context ? pw_context_connect_fd(context, fd, nullptr, 0) : nullptr;
    if (!context)
        ::close(fd);
    spa_hook coreListener{};
    spa_source* timer = nullptr;
    if (!core) {
        result.error = QStringLiteral("could not connect to the screen cast's PipeWire remote");
    } else {
        pw_core_events coreEvents{};
        coreEvents.version = PW_VERSION_CORE_EVENTS;
        coreEvents.error = onCoreError;
        pw_core_add_listener(core, &coreListener, &coreEvents, &reader);

        std::uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
        const spa_rectangle minSize = SPA_RECTANGLE(1, 1);
        const spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
        const spa_fraction defaultRate = SPA_FRACTION(30, 1);
        const spa_fraction minRate = SPA_FRACTION(0, 1);
        const spa_fraction maxRate = SPA_FRACTION(1000, 1);
        // Memory formats only: offered without modifiers, the compositor never sends
        // DMA-BUFs.
        const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                   SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx,
                                   SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));

        for (const std::uint32_t id : nodeIds) {
            auto node = std::make_unique<NodeReader>();
            node->reader = &reader;
            node->node = id;
            node->stream =
                pw_stream_new(core, "daubly-pick",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
            if (!node->stream) {
                reader.fail(QStringLiteral("could not make a PipeWire stream"));
                break;
            }
            pw_stream_add_listener(node->stream, &node->listener, &streamEvents, node.get());
            const spa_pod* params[] = {format};
            if (pw_stream_connect(
                    node->stream, PW_DIRECTION_INPUT, id,
                    pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                    params, 1) < 0) {
                reader.fail(QStringLiteral("could not connect to screen cast node %1").arg(id));
                reader.nodes.push_back(std::move(node));
                break;
            }
            reader.nodes.push_back(std::move(node));
        }
        reader.remaining = reader.nodes.size();
        if (reader.error.isEmpty() && reader.remaining > 0) {
            pw_loop* loop = pw_main_loop_get_loop(reader.loop);
            timer = pw_loop_add_timer(loop, onTimeout, &reader);
            timespec deadline{};
            deadline.tv_sec = timeout.count() / 1000;
            deadline.tv_nsec = (timeout.count() % 1000) * 1000000;
            pw_loop_update_timer(loop, timer, &deadline, nullptr, false);
            pw_main_loop_run(reader.loop);
        }
        result.error = reader.error;
    }
    if (result.error.isEmpty()) {
        for (const auto& node : reader.nodes)
            result.images.push_back(std::move(node->image));
    }
    // Undone in reverse order.
    for (auto& node : reader.nodes) {
        if (node->stream) {
            spa_hook_remove(&node->listener);
            pw_stream_destroy(node->stream);
        }
    }
    if (timer)
        pw_loop_destroy_source(pw_main_loop_get_loop(reader.loop), timer);
    if (core) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
    }
    if (context)
        pw_context_destroy(context);
    if (reader.loop)
        pw_main_loop_destroy(reader.loop);
    return result;
}

struct Pixels {
    void* address = nullptr;
    std::size_t length = 0;
};

void unmapPixels(void* info) {
    const auto* pixels = static_cast<Pixels*>(info);
    munmap(pixels->address, pixels->length);
    delete pixels;
}

// An image over memory of its own mapping, given back to the system with the image's last
// copy: from the heap, a frame's megabytes would stay with the process after the pick.
QImage mappedImage(QSize size, QImage::Format format) {
    const std::size_t length = std::size_t(size.width()) * 4 * std::size_t(size.height());
    void* address =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        return {};
    return QImage(static_cast<uchar*>(address), size.width(), size.height(),
                  qsizetype(size.width()) * 4, format, unmapPixels, new Pixels{address, length});
}

} // namespace

struct ScreenCastCapture::Cast {
    std::function<void(CaptureResult)> completion;
    std::vector<ScreenDescription> screens;
    bool framesWanted = true; // false: only the user's answer matters
    QString session;          // the portal's session object, once made
    std::vector<Stream> streams;
    bool tokenRefused = false; // the kept choice was refused: ask without it
    bool finished = false;
};

ScreenCastCapture::ScreenCastCapture(UserDefaults& defaults, QDBusConnection bus)
    : ScreenCastCapture(defaults, std::move(bus), Options()) {}

ScreenCastCapture::ScreenCastCapture(UserDefaults& defaults, QDBusConnection bus, Options options)
    : m_defaults(defaults)
    , m_bus(std::move(bus))
    , m_options(options)
    , m_context(std::make_unique<QObject>()) {
    m_pool.setMaxThreadCount(1);
}

ScreenCastCapture::~ScreenCastCapture() {
    m_pool.waitForDone();
    m_context.reset();
}

bool ScreenCastCapture::available(const QDBusConnection& bus) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(PortalRequest::serviceName),
        QString::fromLatin1(PortalRequest::objectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    get.setArguments({QString::fromLatin1(screenCastInterface)});
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    return properties.value(QStringLiteral("version")).toUInt() >= 4 &&
           (properties.value(QStringLiteral("AvailableCursorModes")).toUInt() & cursorHidden);
}

std::vector<ScreenCastCapture::Stream> ScreenCastCapture::parseStreams(const QVariant& value) {
    std::vector<Stream> streams;
    if (!value.canConvert<QDBusArgument>())
        return streams;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::ArrayType)
        return streams;
    argument.beginArray();
    while (!argument.atEnd()) {
        Stream stream;
        QVariantMap properties;
        argument.beginStructure();
        argument >> stream.node >> properties;
        argument.endStructure();
        // (ii) pairs arrive as structures of two integers.
        const auto pair = [&](const char* key) -> std::optional<QPoint> {
            const QVariant v = properties.value(QString::fromLatin1(key));
            if (!v.canConvert<QDBusArgument>())
                return std::nullopt;
            const QDBusArgument inner = v.value<QDBusArgument>();
            if (inner.currentType() != QDBusArgument::StructureType)
                return std::nullopt;
            int a = 0, b = 0;
            inner.beginStructure();
            inner >> a >> b;
            inner.endStructure();
            return QPoint(a, b);
        };
        stream.position = pair("position");
        if (const auto size = pair("size"))
            stream.size = QSize(size->x(), size->y());
        streams.push_back(stream);
    }
    argument.endArray();
    return streams;
}

std::vector<ScreenCastCapture::ScreenDescription> ScreenCastCapture::describeScreens() {
    std::vector<ScreenDescription> descriptions;
    const QList<QScreen*> screens = primaryFirstScreens();
    if (screens.isEmpty())
        return descriptions;
    const QRectF primaryGeometry = screens.first()->geometry();
    for (QScreen* screen : screens)
        descriptions.push_back({screen->name(), screen->geometry(),
                                ScreenGeometry::designFrame(screen->geometry(), primaryGeometry)});
    return descriptions;
}

std::vector<std::optional<std::size_t>>
ScreenCastCapture::matchStreams(const std::vector<ScreenDescription>& screens,
                                const std::vector<Stream>& streams) {
    std::vector<std::optional<std::size_t>> matches(screens.size());
    const bool positioned = std::any_of(streams.begin(), streams.end(),
                                        [](const Stream& s) { return s.position.has_value(); });
    for (std::size_t i = 0; i < screens.size(); ++i) {
        if (!positioned) {
            if (i < streams.size())
                matches[i] = i;
            continue;
        }
        for (std::size_t j = 0; j < streams.size(); ++j) {
            if (streams[j].position == screens[i].geometry.topLeft()) {
                matches[i] = j;
                break;
            }
        }
    }
    return matches;
}

QImage ScreenCastCapture::imageFromFrame(const void* data, std::size_t bytes, int stride,
                                         QSize size, PixelFormat format,
                                         std::optional<QRect> crop) {
    if (!data || size.isEmpty() || stride < size.width() * 4)
        return {};
    const std::size_t needed =
        std::size_t(stride) * std::size_t(size.height() - 1) + std::size_t(size.width()) * 4;
    if (bytes < needed)
        return {};
    const QRect area =
        crop ? crop->intersected(QRect(QPoint(0, 0), size)) : QRect(QPoint(0, 0), size);
    if (area.isEmpty())
        return {};
    // The byte orders match Qt's little-endian formats; the padding byte of the x formats
    // sits where Qt keeps an alpha that must be opaque.
    QImage::Format imageFormat = QImage::Format_RGB32;
    bool opaque = true;
    switch (format) {
    case PixelFormat::BGRx:
        imageFormat = QImage::Format_RGB32;
        break;
    case PixelFormat::BGRA:
        imageFormat = QImage::Format_ARGB32;
        opaque = false;
        break;
    case PixelFormat::RGBx:
        imageFormat = QImage::Format_RGBX8888;
        break;
    case PixelFormat::RGBA:
        imageFormat = QImage::Format_RGBA8888;
        opaque = false;
        break;
    }
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the frame formats are read as little-endian");
    QImage image = mappedImage(area.size(), imageFormat);
    if (image.isNull())
        return {};
    const auto* source = static_cast<const std::uint8_t*>(data);
    for (int y = 0; y < area.height(); ++y) {
        const std::uint8_t* row =
            source + std::size_t(area.y() + y) * std::size_t(stride) + std::size_t(area.x()) * 4;
        std::uint8_t* target = image.scanLine(y);
        std::memcpy(target, row, std::size_t(area.width()) * 4);
        if (opaque) {
            for (int x = 0; x < area.width(); ++x)
                target[x * 4 + 3] = 0xff;
        }
    }
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

void ScreenCastCapture::captureAllDisplays(std::function<void(CaptureResult)> completion) {
    auto cast = std::make_shared<Cast>();
    cast->completion = std::move(completion);
    cast->screens = describeScreens();
    begin(std::move(cast));
}

bool ScreenCastCapture::requestAccess() {
    auto cast = std::make_shared<Cast>();
    cast->completion = [](const CaptureResult&) {};
    cast->framesWanted = false;
    begin(std::move(cast));
    return true;
}

bool ScreenCastCapture::openPermissionSettings() {
    const auto command =
        PortalScreenshot::privacySettingsCommand(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (!command)
        return false;
    if (!QProcess::startDetached(command->first(), command->mid(1))) {
        logger().error("Could not open the privacy settings with %{public}s", command->join(u' '));
        return false;
    }
    return true;
}

void ScreenCastCapture::call(const std::shared_ptr<Cast>& cast, const QString& method,
                             QVariantList arguments, std::chrono::milliseconds timeout,
                             std::function<void(const QVariantMap&)> next,
                             std::function<bool(const QString&)> callFailed) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequest::serviceName),
                                       QString::fromLatin1(PortalRequest::objectPath),
                                       QString::fromLatin1(screenCastInterface), method);
    const int optionsIndex = int(arguments.size()) - 1;
    message.setArguments(arguments);
    const auto answered = [this, cast, method, next, callFailed](const PortalAnswer& answer) {
        if (cast->finished)
            return;
        if (!answer.response) {
            if (!callFailed || !callFailed(answer.error))
                finish(cast, {{}, answer.error});
        } else if (*answer.response == 1) {
            // The user closed the chooser.
            m_allowed = false;
            finish(cast, {{}, QStringLiteral("the desktop refused the screen cast")});
        } else if (*answer.response != 0) {
            finish(cast, {{},
                          QStringLiteral("the screen cast portal failed at %1 (response %2)")
                              .arg(method)
                              .arg(*answer.response)});
        } else {
            next(answer.results);
        }
    };
    // A session made after its deadline is closed at once.
    const auto late = [this](const PortalAnswer& answer) {
        const QString session = answer.results.value(QStringLiteral("session_handle")).toString();
        if (!session.isEmpty())
            m_bus.send(QDBusMessage::createMethodCall(
                QString::fromLatin1(PortalRequest::serviceName), session,
                QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
    };
    PortalRequest::start(m_bus, message, optionsIndex, timeout, m_context.get(), answered, late);
}

void ScreenCastCapture::begin(std::shared_ptr<Cast> cast) {
    const QVariantMap options{{QStringLiteral("session_handle_token"), PortalRequest::newToken()}};
    call(cast, QStringLiteral("CreateSession"), {options}, m_options.stepTimeout,
         [this, cast](const QVariantMap& results) {
             cast->session = results.value(QStringLiteral("session_handle")).toString();
             if (cast->session.isEmpty())
                 finish(cast, {{}, QStringLiteral("the screen cast portal made no session")});
             else
                 selectSources(cast);
         });
}

void ScreenCastCapture::selectSources(const std::shared_ptr<Cast>& cast) {
    QVariantMap options{{QStringLiteral("types"), monitorSources},
                        {QStringLiteral("multiple"), true},
                        {QStringLiteral("cursor_mode"), cursorHidden},
                        {QStringLiteral("persist_mode"), persistUntilRevoked}};
    const auto token = cast->tokenRefused
                           ? std::nullopt
                           : m_defaults.stringValue(QString::fromLatin1(restoreTokenKey));
    if (token)
        options.insert(QStringLiteral("restore_token"), *token);
    call(
        cast, QStringLiteral("SelectSources"),
        {QVariant::fromValue(QDBusObjectPath(cast->session)), options}, m_options.stepTimeout,
        [this, cast](const QVariantMap&) { startCast(cast); },
        // A token the portal cannot read (edited, or from another version) would fail
        // every pick: it goes, and the user chooses again.
        token ? std::function<bool(const QString&)>([this, cast](const QString& error) {
            logger().error("The screen cast refused the kept monitor choice: %{public}s", error);
            m_defaults.removeValue(QString::fromLatin1(restoreTokenKey));
            cast->tokenRefused = true;
            selectSources(cast);
            return true;
        })
              : std::function<bool(const QString&)>());
}

void ScreenCastCapture::startCast(const std::shared_ptr<Cast>& cast) {
    // Without a restore token that still holds, the desktop shows its monitor chooser now.
    call(cast, QStringLiteral("Start"),
         {QVariant::fromValue(QDBusObjectPath(cast->session)), QString(), QVariantMap()},
         m_options.chooserTimeout, [this, cast](const QVariantMap& results) {
             m_allowed = true;
             // Each token serves once; every cast answers with the next one.
             const QString token = results.value(QStringLiteral("restore_token")).toString();
             if (!token.isEmpty())
                 m_defaults.setValue(QString::fromLatin1(restoreTokenKey), token);
             cast->streams = parseStreams(results.value(QStringLiteral("streams")));
             if (!cast->framesWanted)
                 finish(cast, {});
             else if (cast->streams.empty())
                 finish(cast, {{}, QStringLiteral("the screen cast has no stream")});
             else
                 openRemote(cast);
         });
}

void ScreenCastCapture::openRemote(const std::shared_ptr<Cast>& cast) {
    QDBusMessage open = QDBusMessage::createMethodCall(
        QString::fromLatin1(PortalRequest::serviceName),
        QString::fromLatin1(PortalRequest::objectPath), QString::fromLatin1(screenCastInterface),
        QStringLiteral("OpenPipeWireRemote"));
    open.setArguments({QVariant::fromValue(QDBusObjectPath(cast->session)), QVariantMap()});
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(open, int(m_options.stepTimeout.count())), m_context.get());
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, m_context.get(), [this, cast, watcher] {
            watcher->deleteLater();
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
            if (reply.isError() || !reply.value().isValid()) {
                finish(cast, {{},
                              QStringLiteral("the screen cast portal opened no "
                                             "PipeWire remote: %1")
                                  .arg(reply.error().message())});
                return;
            }
            // The reply closes its descriptor: PipeWire gets one of its own.
            const int fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
            if (fd < 0)
                finish(cast, {{}, QStringLiteral("could not keep the PipeWire remote")});
            else
                readFrames(cast, fd);
        });
}

void ScreenCastCapture::readFrames(std::shared_ptr<Cast> cast, int fd) {
    std::vector<std::uint32_t> nodes;
    for (const Stream& stream : cast->streams)
        nodes.push_back(stream.node);
    QObject* context = m_context.get();
    m_pool.start([this, context, cast, fd, nodes, timeout = m_options.stepTimeout] {
        auto read = std::make_shared<FrameRead>(readNodes(fd, nodes, timeout));
        QMetaObject::invokeMethod(
            context,
            [this, cast, read] {
                if (!read->error.isEmpty()) {
                    finish(cast, {{}, read->error});
                    return;
                }
                CaptureResult result;
                const auto matches = matchStreams(cast->screens, cast->streams);
                for (std::size_t i = 0; i < cast->screens.size(); ++i) {
                    if (!matches[i])
                        continue; // a screen the user did not share
                    const ScreenDescription& screen = cast->screens[i];
                    result.snapshots.push_back({displayIDForScreenName(screen.name),
                                                std::move(read->images[*matches[i]]), screen.frame,
                                                screen.name});
                }
                finish(cast, std::move(result));
            },
            Qt::QueuedConnection);
    });
}

void ScreenCastCapture::finish(const std::shared_ptr<Cast>& cast, CaptureResult result) {
    if (cast->finished)
        return;
    cast->finished = true;
    // Ending the session ends the cast and the desktop's sharing mark.
    if (!cast->session.isEmpty())
        m_bus.send(QDBusMessage::createMethodCall(
            QString::fromLatin1(PortalRequest::serviceName), cast->session,
            QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
    cast->completion(std::move(result));
}
