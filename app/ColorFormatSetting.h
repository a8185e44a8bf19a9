#pragma once

// The copy format the user chose, stored under "copyFormat" as a raw value.

#include "colors/ColorFormat.h"

#include <QString>

class UserDefaults;

inline const QString copyFormatKey = QStringLiteral("copyFormat");

// Anything missing or unknown (a wrong case, an empty string, another type) is oklch.
ColorFormat storedCopyFormat(const UserDefaults& defaults);
