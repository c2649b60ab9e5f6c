#include "MixerBusTypes.h"

#include <QDBusMetaType>
#include <mutex>

namespace corvalle {

namespace {

const QString kKey = QStringLiteral("key");
const QString kName = QStringLiteral("name");
const QString kPlaying = QStringLiteral("playing");
const QString kVolume = QStringLiteral("volume");
const QString kMuted = QStringLiteral("muted");
const QString kHasProcesses = QStringLiteral("hasProcesses");
const QString kHasSetting = QStringLiteral("hasSetting");
const QString kListed = QStringLiteral("listed");
const QString kVolumeOutOfRange = QStringLiteral("volumeOutOfRange");
const QString kOutput = QStringLiteral("output");
const QString kOutputName = QStringLiteral("outputName");
const QString kLowersOthers = QStringLiteral("lowersOthers");
const QString kCalling = QStringLiteral("calling");
const QString kLowered = QStringLiteral("lowered");
const QString kLevelPerOutput = QStringLiteral("levelPerOutput");
const QString kShortcuts = QStringLiteral("shortcuts");

void readString(const QVariantMap& map, const QString& name, QString& into) {
    const auto value = map.value(name);
    if (value.metaType() == QMetaType::fromType<QString>()) {
        into = value.toString();
    }
}

void readBool(const QVariantMap& map, const QString& name, bool& into) {
    const auto value = map.value(name);
    if (value.metaType() == QMetaType::fromType<bool>()) {
        into = value.toBool();
    }
}

} // namespace

QVariantMap toVariantMap(const ApplicationState& application) {
    return {
        {kKey, application.key},
        {kName, application.name},
        {kPlaying, application.playing},
        {kVolume, application.volume},
        {kMuted, application.muted},
        {kHasProcesses, application.hasProcesses},
        {kHasSetting, application.hasSetting},
        {kListed, application.listed},
        {kVolumeOutOfRange, application.volumeOutOfRange},
        {kOutput, application.output},
        {kOutputName, application.outputName},
        {kLowersOthers, application.lowersOthers},
        {kCalling, application.calling},
        {kLowered, application.lowered},
        {kLevelPerOutput, application.levelPerOutput},
        {kShortcuts, application.shortcuts},
    };
}

std::optional<ApplicationState> applicationStateFromMap(const QVariantMap& map) {
    const auto key = map.value(kKey);
    const auto name = map.value(kName);
    if (key.metaType() != QMetaType::fromType<QString>() ||
        name.metaType() != QMetaType::fromType<QString>()) {
        return std::nullopt;
    }
    ApplicationState application;
    application.key = key.toString();
    application.name = name.toString();
    readBool(map, kPlaying, application.playing);
    readBool(map, kMuted, application.muted);
    readBool(map, kHasProcesses, application.hasProcesses);
    readBool(map, kHasSetting, application.hasSetting);
    readBool(map, kListed, application.listed);
    readBool(map, kVolumeOutOfRange, application.volumeOutOfRange);
    readBool(map, kLowersOthers, application.lowersOthers);
    readBool(map, kCalling, application.calling);
    readBool(map, kLowered, application.lowered);
    readBool(map, kLevelPerOutput, application.levelPerOutput);
    readBool(map, kShortcuts, application.shortcuts);
    readString(map, kOutput, application.output);
    readString(map, kOutputName, application.outputName);
    const auto volume = map.value(kVolume);
    if (volume.metaType() == QMetaType::fromType<double>()) {
        application.volume = volume.toDouble();
    }
    return application;
}

QDBusArgument& operator<<(QDBusArgument& argument, const BusOutput& output) {
    argument.beginStructure();
    argument << output.id << output.name;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, BusOutput& output) {
    argument.beginStructure();
    argument >> output.id >> output.name;
    argument.endStructure();
    return argument;
}

void registerMixerBusTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<BusOutput>();
        qDBusRegisterMetaType<QList<BusOutput>>();
        qDBusRegisterMetaType<QList<QVariantMap>>();
    });
}

} // namespace corvalle
