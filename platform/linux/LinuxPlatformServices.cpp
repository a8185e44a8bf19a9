#include "app/ScreenCapture.h"
#include "platform/PlatformServices.h"

#include <QTimer>

namespace {

class UnavailableScreenCapture final : public ScreenCapture {
public:
    void captureAllDisplays(std::function<void(CaptureResult)> completion) override {
        QTimer::singleShot(0, [completion = std::move(completion)] {
            completion({{}, QStringLiteral("screen capture is not available in this build")});
        });
    }
};

class LinuxPlatformServices final : public PlatformServices {
public:
    ScreenCapture& screenCapture() override { return m_capture; }

private:
    UnavailableScreenCapture m_capture;
};

} // namespace

PlatformServices& PlatformServices::current() {
    static LinuxPlatformServices services;
    return services;
}
