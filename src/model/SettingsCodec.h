#pragma once

#include "AppSetting.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>

namespace corvalle::SettingsCodec {

// Compact UTF-8 JSON: one member per group key, each an object with "volume",
// "muted" and, when there is one, "name", in that order. An empty map is "{}".
QByteArray encode(const std::map<QString, AppSetting>& settings);

// The whole map, or nothing when the bytes are not such an object or any one entry
// lacks "volume" or "muted" or has a member of the wrong type. Member order and
// unknown members do not matter; a null "name" is no name.
std::optional<std::map<QString, AppSetting>> decode(const QByteArray& bytes);

} // namespace corvalle::SettingsCodec
