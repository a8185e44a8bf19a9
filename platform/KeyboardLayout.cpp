#include "platform/KeyboardLayout.h"

namespace {

class NoKeyboardLayout final : public KeyboardLayout {
public:
    std::optional<QString> text(std::int64_t) const override { return std::nullopt; }
    std::optional<std::int64_t> virtualKeyCode(const QKeyEvent&) const override {
        return std::nullopt;
    }
};

} // namespace

const KeyboardLayout& KeyboardLayout::none() {
    static const NoKeyboardLayout layout;
    return layout;
}
