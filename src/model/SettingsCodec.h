#pragma once

#include "AppSetting.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>

namespace corvalle::SettingsCodec {

// Compact UTF-8 JSON: one member per group key, each an object with "volume",
// "muted" and, when there are, "name" and "output", in that order, then the
// members this version does not know exactly as they were read (older versions
// keep "output" that way). An empty map is "{}".
QByteArray encode(const std::map<QString, AppSetting>& settings);

// One member of that object, `"key":{...}`, appended to `out`.
void appendEntry(QByteArray& out, const QString& key, const AppSetting& setting);

// The whole map, or nothing when the bytes are not such an object in UTF-8 JSON:
// an entry that is not an object, lacks "volume" or "muted", has a known member
// of the wrong type or twice, or a group key that comes twice. Member order does
// not matter; a null "name" is no name, a null "output" no output; other members
// are kept as written.
std::optional<std::map<QString, AppSetting>> decode(const QByteArray& bytes);

} // namespace corvalle::SettingsCodec
