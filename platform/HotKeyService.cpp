#include "platform/HotKeyService.h"

#include <QGuiApplication>

namespace {

class UnavailableHotKeyService final : public HotKeyService {
public:
    Registration registerHotKey(const Request&) override {
        return {std::nullopt, std::nullopt,
                QStringLiteral("this desktop offers no global shortcuts (the display is %1)")
                    .arg(QGuiApplication::platformName())};
    }
    void unregisterHotKey(Handle) override {}
    bool installEventHandler(std::function<bool(const Event&)>) override { return true; }
    std::vector<SymbolicHotKey> symbolicHotKeys() const override { return {}; }
    KeyRepeat keyRepeat() const override { return {}; }
};

} // namespace

HotKeyService& HotKeyService::unavailable() {
    static UnavailableHotKeyService service;
    return service;
}
