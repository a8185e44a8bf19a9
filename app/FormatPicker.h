#pragma once

// The copy-format choice of the setup page: one tile per format, four to a row, in the
// formats' order, and a preview of the sample colour in the chosen format. The choice
// is stored at once under "copyFormat"; a change made elsewhere (Settings) shows here.

#include "colors/ColorFormat.h"

#include <QAbstractButton>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QVariantAnimation;
class UserDefaults;

class FormatTile : public QAbstractButton {
    Q_OBJECT

public:
    // `select` runs when the user chooses the tile: a click, or a screen reader's toggle.
    FormatTile(ColorFormat format, bool isSelected, std::function<void()> select,
               QWidget* parent = nullptr);

    ColorFormat format() const { return m_format; }
    bool isSelected() const { return m_isSelected; }
    void setSelected(bool selected);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override;

private:
    ColorFormat m_format;
    bool m_isSelected;
    // 0 = plain, 1 = selected; springs between the two.
    double m_selection;
    QVariantAnimation* m_animation;
};

class FormatPicker : public QWidget {
    Q_OBJECT

public:
    explicit FormatPicker(UserDefaults& defaults, QWidget* parent = nullptr);

    const std::vector<FormatTile*>& tiles() const { return m_tiles; }
    QString previewText() const;
    // The preview row, one accessible element: "Copies " and the text.
    QWidget* preview() const { return m_preview; }

private:
    void update(ColorFormat format);

    UserDefaults& m_defaults;
    std::vector<FormatTile*> m_tiles;
    QWidget* m_preview;
    QLabel* m_previewText;
};
