#pragma once

#include <QList>

class QScreen;

// Qt's screens with the primary one first, the order captures describe them in; empty when
// there is no primary screen.
QList<QScreen*> primaryFirstScreens();
