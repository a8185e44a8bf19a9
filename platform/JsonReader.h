#pragma once

// Reads the settings file's JSON. Unlike QJsonDocument it lets one unreadable value
// cost only itself: a number out of range (1e999), NaN, Infinity, a stray word or a
// string with a broken escape is dropped and reported by its path, and the rest of the
// document loads. Only a broken structure (a missing bracket, a truncated file, a top
// level that is not an object) fails the whole document.
//
// Arrays under chosen top-level keys keep only their first elements while reading, so
// a runaway list costs neither memory nor time beyond one pass over its text.

#include <QByteArrayView>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

struct JsonReadResult {
    // None when the document as a whole cannot be read; `error` says why.
    std::optional<QJsonObject> object;
    QString error;
    // Where values were dropped, as paths ("recentColors[2][1]") with the reason.
    QStringList dropped;
    // Top-level keys whose value lost something (a dropped value inside it).
    QStringList damagedKeys;
    // Top-level keys whose array was cut to its limit, with the length found.
    QHash<QString, qsizetype> trimmed;
};

// `arrayLimits`: top-level key -> the most elements its array keeps.
JsonReadResult readJsonObject(QByteArrayView text,
                              const QHash<QString, qsizetype>& arrayLimits = {});
