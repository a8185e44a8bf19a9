#include "platform/KeyboardLayout.h"

#include "platform/VirtualKeys.h"

namespace {

class USKeyboardLayout final : public KeyboardLayout {
public:
    std::optional<QString> text(std::int64_t virtualKeyCode) const override {
        return VirtualKey::usLayoutText(virtualKeyCode);
    }
    std::optional<std::int64_t> virtualKeyCode(const QKeyEvent&) const override {
        return std::nullopt;
    }
};

} // namespace

const KeyboardLayout& KeyboardLayout::us() {
    static const USKeyboardLayout layout;
    return layout;
}
