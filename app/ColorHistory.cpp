#include "app/ColorHistory.h"

#include "platform/UserDefaults.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {

const QString key = QStringLiteral("recentColors");

// An array of exactly three finite numbers; anything else is skipped.
std::optional<PickedColor> colorFrom(const QJsonValue& element) {
    if (!element.isArray())
        return std::nullopt;
    const QJsonArray components = element.toArray();
    if (components.size() != 3)
        return std::nullopt;
    double values[3];
    for (int i = 0; i < 3; ++i) {
        const QJsonValue component = components.at(i);
        if (!component.isDouble() || !std::isfinite(component.toDouble()))
            return std::nullopt;
        values[i] = component.toDouble();
    }
    return PickedColor{{values[0], values[1], values[2]}};
}

} // namespace

const QString& ColorHistory::storageKey() {
    return key;
}

ColorHistory::ColorHistory(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults) {
    load();
    connect(&m_defaults, &UserDefaults::valueChanged, this, [this](const QString& changed) {
        if (changed == key && !m_writing)
            load();
    });
}

ColorHistory& ColorHistory::shared() {
    // Lives until the process exits, like the store it reads.
    static ColorHistory* history = new ColorHistory(UserDefaults::standard());
    return *history;
}

// A malformed store is read around, not repaired: the next add() or clear() rewrites it.
void ColorHistory::load() {
    std::vector<PickedColor> loaded;
    const QJsonValue stored = m_defaults.value(key);
    if (stored.isArray()) {
        for (const QJsonValue& element : stored.toArray()) {
            if (loaded.size() == capacity)
                break;
            if (const auto color = colorFrom(element))
                loaded.push_back(*color);
        }
    }
    setColors(std::move(loaded));
}

void ColorHistory::add(const PickedColor& color) {
    // The new colour first, then the others in their order. Duplicates a damaged store
    // brought in are dropped too, so that no two entries are equal after an add.
    std::vector<PickedColor> updated{color};
    for (const PickedColor& existing : m_colors)
        if (updated.size() < capacity &&
            std::find(updated.begin(), updated.end(), existing) == updated.end())
            updated.push_back(existing);
    setColors(std::move(updated));

    QJsonArray array;
    for (const PickedColor& c : m_colors)
        array.append(QJsonArray{c.linear.red, c.linear.green, c.linear.blue});
    m_writing = true;
    m_defaults.setValue(key, array);
    m_writing = false;
}

void ColorHistory::clear() {
    setColors({});
    m_writing = true;
    m_defaults.removeValue(key);
    m_writing = false;
}

void ColorHistory::setColors(std::vector<PickedColor> colors) {
    if (colors == m_colors)
        return;
    m_colors = std::move(colors);
    Q_EMIT colorsChanged();
}
