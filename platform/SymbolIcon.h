#pragma once

// The design's symbols: from the desktop's icon theme by freedesktop name, with an SVG
// of our own (resources/icons/NAME.svg) where the theme has none.

#include <QIcon>
#include <QString>

QIcon symbolIcon(const QString& freedesktopName);
