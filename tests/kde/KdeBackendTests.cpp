// The KDE backend's own arithmetic, without a KWin: kglobalaccel's key numbers of stored
// shortcuts and back, and the image made of what KWin writes into its pipe.

#include "backends/kde/KGlobalAccelHotKeys.h"
#include "backends/kde/KWinScreenShot.h"
#include "backends/wayland/WaylandFrameMemory.h"
#include "platform/VirtualKeys.h"
#include "support/ShortcutFakes.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QKeySequence>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using Trigger = HotKeyService::Trigger;

struct KeyCase {
    const char* name;
    Trigger trigger;
    std::optional<QKeyCombination> expected;
    bool german = false; // Y and Z change places
};

class KGlobalAccelKeyCode : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KGlobalAccelKeyCode, NamesTheKeyAsQtDoesAndBack) {
    const KeyCase& c = GetParam();
    FakeKeyboardLayout layout = usLayout();
    if (c.german)
        std::swap(layout.keys[VirtualKey::y], layout.keys[VirtualKey::z]);
    const std::optional<int> code = KGlobalAccelHotKeys::keyCode(c.trigger, layout);
    if (!c.expected) {
        EXPECT_FALSE(code) << QKeySequence(code.value_or(0)).toString().toStdString();
        return;
    }
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, c.expected->toCombined()) << QKeySequence(*code).toString().toStdString();
    // Plasma's answer in the same numbers reads back as the same trigger.
    EXPECT_EQ(KGlobalAccelHotKeys::trigger(*code, layout), c.trigger);
}

using namespace VirtualKey;
constexpr auto alt = std::uint32_t(CarbonModifier::option);
constexpr auto ctrl = std::uint32_t(CarbonModifier::control);
constexpr auto shiftKey = std::uint32_t(CarbonModifier::shift);
constexpr auto super = std::uint32_t(CarbonModifier::command);

INSTANTIATE_TEST_SUITE_P(
    Keys, KGlobalAccelKeyCode,
    ::testing::Values(
        KeyCase{"AltC", {c, alt}, QKeyCombination(Qt::AltModifier, Qt::Key_C)},
        KeyCase{
            "CtrlShiftSuperA",
            {a, ctrl | shiftKey | super},
            QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier, Qt::Key_A)},
        // The character of the layout, not the key's place: Y on a German keyboard is Z.
        KeyCase{"LayoutCharacter", {y, alt}, QKeyCombination(Qt::AltModifier, Qt::Key_Z), true},
        KeyCase{"Punctuation", {slash, ctrl}, QKeyCombination(Qt::ControlModifier, Qt::Key_Slash)},
        KeyCase{"F5", {f5, 0}, QKeyCombination(Qt::NoModifier, Qt::Key_F5)},
        KeyCase{
            "SuperReturn", {returnKey, super}, QKeyCombination(Qt::MetaModifier, Qt::Key_Return)},
        KeyCase{"Space", {space, alt}, QKeyCombination(Qt::AltModifier, Qt::Key_Space)},
        // The layout gives the keypad's 5 the main 5's character: binding that would take
        // the main key.
        KeyCase{"Keypad", {keypad5, alt}, std::nullopt},
        // A key the layout gives no character.
        KeyCase{"NoCharacter", {b, alt}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KGlobalAccelTrigger, KeysNoKeyOfTheLayoutGivesAreNone) {
    const FakeKeyboardLayout layout = usLayout();
    EXPECT_FALSE(KGlobalAccelHotKeys::trigger(
        QKeyCombination(Qt::AltModifier, Qt::Key_Q).toCombined(), layout));
    EXPECT_FALSE(KGlobalAccelHotKeys::trigger(0, layout));
}

// What KWin wrote, in a memfd mapped as drain() leaves it.
KWinScreenShot::Pixels written(const QByteArray& bytes) {
    KWinScreenShot::Pixels pixels;
    pixels.fd = memfd_create("test-frame", MFD_CLOEXEC);
    EXPECT_EQ(::write(pixels.fd, bytes.constData(), std::size_t(bytes.size())), bytes.size());
    pixels.length = std::size_t(bytes.size());
    pixels.pixels = mmap(nullptr, pixels.length, PROT_READ, MAP_SHARED, pixels.fd, 0);
    return pixels;
}

QVariantMap description(int width, int height, int stride, int format) {
    return {{"type", "raw"},          {"width", uint(width)},   {"height", uint(height)},
            {"stride", uint(stride)}, {"format", uint(format)}, {"scale", 1.0}};
}

TEST(KWinRawImage, RowsFollowTheStrideAndTheOverlayMayShowThePages) {
    // 2 x 2 pixels, B G R X order, rows 12 bytes apart (4 bytes of padding each).
    QByteArray bytes(24, '\0');
    const quint32 rows[2][2] = {{0xff102030, 0xff405060}, {0xff708090, 0xffa0b0c0}};
    std::memcpy(bytes.data(), rows[0], 8);
    std::memcpy(bytes.data() + 12, rows[1], 8);
    auto memory = std::make_shared<WaylandFrameMemory>();
    KWinScreenShot::RawImage raw = KWinScreenShot::rawImage(
        description(2, 2, 12, QImage::Format_ARGB32_Premultiplied), written(bytes), memory);
    ASSERT_TRUE(raw.error.isEmpty()) << raw.error.toStdString();
    EXPECT_EQ(raw.image.size(), QSize(2, 2));
    EXPECT_EQ(raw.image.pixel(1, 0), 0xff405060u);
    EXPECT_EQ(raw.image.pixel(0, 1), 0xff708090u);
    EXPECT_EQ(raw.image.colorSpace(), QColorSpace(QColorSpace::SRgb));
    const auto frame = memory->find(raw.image);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->stride, 12);
    ::close(frame->fd);
    // The last copy takes the frame out of the memory again.
    raw.image = QImage();
    EXPECT_FALSE(memory->find(raw.image));
}

TEST(KWinRawImage, DescriptionsThatDoNotFitTheBytesAreErrors) {
    const struct {
        const char* name;
        QVariantMap results;
        int bytes;
    } cases[] = {
        {"too few bytes", description(4, 4, 16, QImage::Format_RGB32), 63},
        {"stride under a row", description(4, 4, 12, QImage::Format_RGB32), 64},
        {"no width", description(0, 4, 16, QImage::Format_RGB32), 64},
        {"unknown format", description(4, 4, 16, 999), 64},
        {"not raw",
         [] {
             QVariantMap results = description(4, 4, 16, QImage::Format_RGB32);
             results["type"] = "png";
             return results;
         }(),
         64},
    };
    for (const auto& c : cases) {
        const KWinScreenShot::RawImage raw =
            KWinScreenShot::rawImage(c.results, written(QByteArray(c.bytes, '\0')), nullptr);
        EXPECT_TRUE(raw.image.isNull()) << c.name;
        EXPECT_FALSE(raw.error.isEmpty()) << c.name;
    }
    // The last row needs its pixels only, not its padding.
    EXPECT_TRUE(KWinScreenShot::rawImage(description(4, 4, 20, QImage::Format_RGB32),
                                         written(QByteArray(76, '\0')), nullptr)
                    .error.isEmpty());
}

TEST(KWinScreenShotRefusal, OnlyARefusalOfTheServiceFallsBack) {
    const auto named = [](const char* name) {
        return QDBusError(QDBusMessage::createError(QLatin1String(name), QString()));
    };
    EXPECT_TRUE(KWinScreenShot::isRefusal(named("org.kde.KWin.ScreenShot2.Error.NoAuthorized")));
    EXPECT_TRUE(KWinScreenShot::isRefusal(QDBusError(QDBusError::ServiceUnknown, QString())));
    EXPECT_FALSE(KWinScreenShot::isRefusal(named("org.kde.KWin.ScreenShot2.Error.InvalidScreen")));
    EXPECT_FALSE(KWinScreenShot::isRefusal(QDBusError(QDBusError::NoReply, QString())));
}

} // namespace
