#pragma once

#include "model/QVFolder.h"

#include <QByteArray>
#include <QVariant>

/// A tree as JSON, keys in a fixed order so output can be compared and scripted:
/// folder {"kind","name","type","source","metadata","children"}, bookmark {"kind","name","address",
/// "source","comments","keyword","addDate","lastVisit","lastUpdate","schedule","wordCount",
/// "brokenStatus","metadata"}, divider {"kind","source"}. Absent texts and dates are null; dates are
/// seconds since 1970 UTC; data is base64 text.
namespace TreeJson {

QByteArray toJson(const QVItem& item, bool indented = true);
/// One value as JSON (exposed for metadata and tests).
QByteArray valueToJson(const QVariant& value);
QByteArray stringToJson(const QString& text);

} // namespace TreeJson
