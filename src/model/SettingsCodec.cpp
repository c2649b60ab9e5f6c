#include "SettingsCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <cmath>

namespace corvalle::SettingsCodec {

namespace {

// QJsonObject orders members by name, so the entries are laid out here and only
// each scalar is written by QJsonDocument (escaping, shortest round-trip numbers).
void appendScalar(QByteArray& out, const QJsonValue& value) {
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    out.append(wrapped.mid(1, wrapped.size() - 2)); // drop the enclosing [ ]
}

// JSON has no NaN or infinity; such a volume would be written as null and make the
// whole stored value unreadable. Write the level a tap would actually play instead.
double storableVolume(const AppSetting& setting) {
    if (std::isfinite(setting.volume)) {
        return setting.volume;
    }
    AppSetting unmuted = setting;
    unmuted.muted = false;
    return static_cast<double>(unmuted.effectiveGain());
}

std::optional<AppSetting> decodeEntry(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject entry = value.toObject();
    const QJsonValue volume = entry.value(QLatin1String("volume"));
    const QJsonValue muted = entry.value(QLatin1String("muted"));
    const QJsonValue name = entry.value(QLatin1String("name"));
    if (!volume.isDouble() || !muted.isBool()) {
        return std::nullopt;
    }
    AppSetting setting{volume.toDouble(), muted.toBool(), std::nullopt};
    if (name.isString()) {
        setting.name = name.toString();
    } else if (!name.isUndefined() && !name.isNull()) {
        return std::nullopt;
    }
    return setting;
}

} // namespace

QByteArray encode(const std::map<QString, AppSetting>& settings) {
    QByteArray out("{");
    bool first = true;
    for (const auto& [key, setting] : settings) {
        if (!first) {
            out.append(',');
        }
        first = false;
        appendScalar(out, key);
        out.append(":{\"volume\":");
        appendScalar(out, storableVolume(setting));
        out.append(",\"muted\":");
        out.append(setting.muted ? "true" : "false");
        if (setting.name) {
            out.append(",\"name\":");
            appendScalar(out, *setting.name);
        }
        out.append('}');
    }
    out.append('}');
    return out;
}

std::optional<std::map<QString, AppSetting>> decode(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    std::map<QString, AppSetting> settings;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        auto setting = decodeEntry(it.value());
        if (!setting) {
            return std::nullopt;
        }
        settings.insert_or_assign(it.key(), std::move(*setting));
    }
    return settings;
}

} // namespace corvalle::SettingsCodec
