#pragma once

// The five colours copied most recently, newest first, kept across launches in the
// settings store under "recentColors" as arrays of three linear components.

#include "colors/PickedColor.h"

#include <QObject>
#include <vector>

class UserDefaults;

class ColorHistory : public QObject {
    Q_OBJECT

public:
    static constexpr std::size_t capacity = 5;
    // The settings key the list is stored under.
    static const QString& storageKey();

    // Loads the stored list. Follows later changes of the key made by other writers
    // of the same store.
    explicit ColorHistory(UserDefaults& defaults, QObject* parent = nullptr);

    // The application's history over UserDefaults::standard(), created on first use.
    static ColorHistory& shared();

    // Newest first, at most `capacity`. No two equal after add(); a loaded list is
    // taken as stored.
    const std::vector<PickedColor>& colors() const { return m_colors; }

    // Moves or inserts `color` at the front, keeps `capacity`, and stores the list.
    void add(const PickedColor& color);
    // Empties the list and removes the key (no empty array is stored).
    void clear();

Q_SIGNALS:
    // Only when the list really changes (exact equality, element by element).
    void colorsChanged();

private:
    void load();
    void setColors(std::vector<PickedColor> colors);

    UserDefaults& m_defaults;
    std::vector<PickedColor> m_colors;
    bool m_writing = false;
};
