#include "app/ColorFormatSetting.h"

#include "platform/UserDefaults.h"

ColorFormat storedCopyFormat(const UserDefaults& defaults) {
    std::optional<std::string> raw;
    if (const std::optional<QString> stored = defaults.stringValue(copyFormatKey))
        raw = stored->toStdString();
    return colorFormatFromSetting(raw);
}
