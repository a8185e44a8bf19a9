#include "platform/HotKeyService.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace {

class UnavailableHotKeyService final : public HotKeyService {
public:
    Registration registerHotKey(const Request&) override {
        return {std::nullopt, std::nullopt,
                QStringLiteral("this desktop offers no global shortcuts (the display is %1). %2")
                    .arg(QGuiApplication::platformName(), bindCommandAdvice())};
    }
    void unregisterHotKey(Handle) override {}
    bool installEventHandler(std::function<bool(const Event&)>) override { return true; }
    std::vector<SymbolicHotKey> symbolicHotKeys() const override { return {}; }
    KeyRepeat keyRepeat() const override { return {}; }
    bool isAvailable() const override { return false; }
    std::optional<bool> isTriggerTaken(const Trigger&) override { return std::nullopt; }
};

} // namespace

std::optional<bool> HotKeyService::isTriggerTaken(const Trigger& trigger) {
    // 'SSKT': never one of the hot key center's own ids.
    constexpr HotKeyID probeID{0x53534B54, 0};
    const Registration registration =
        registerHotKey({probeID, QStringLiteral("Conflict check"), trigger});
    if (!registration.handle)
        return true;
    unregisterHotKey(*registration.handle);
    return false;
}

QString HotKeyService::bindCommandAdvice() {
    return QCoreApplication::translate(
        "HotKeyService", "Bind the command daubly --pick to a key in your desktop's keyboard "
                         "settings to pick from any app.");
}

HotKeyService& HotKeyService::unavailable() {
    static UnavailableHotKeyService service;
    return service;
}
