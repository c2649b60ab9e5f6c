#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace corvalle {

// Error names of the mixer interface, beside the standard org.freedesktop.DBus ones.
namespace dbus {
inline constexpr const char* kErrorUnknownApplication =
    "org.corvalle.Corvalle.Mixer.Error.UnknownApplication";
inline constexpr const char* kErrorUnknownOutput =
    "org.corvalle.Corvalle.Mixer.Error.UnknownOutput";
inline constexpr const char* kErrorInvalidVolume =
    "org.corvalle.Corvalle.Mixer.Error.InvalidVolume";
inline constexpr const char* kErrorOutputRefused =
    "org.corvalle.Corvalle.Mixer.Error.OutputRefused";
// The change is in force but could not be saved.
inline constexpr const char* kErrorNotSaved = "org.corvalle.Corvalle.Mixer.Error.NotSaved";
} // namespace dbus

// One application as the mixer interface describes it (an a{sv} on the bus).
struct ApplicationState {
    QString key;
    QString name;
    bool playing = false;
    double volume = 1.0; // the level that plays, mute aside: 0.0 to 4.0
    bool muted = false;
    // The remembered volume lay outside 0.0 to 4.0 (a hand-edited or corrupt
    // file); `volume` is the level it was brought to.
    bool volumeOutOfRange = false;
    bool hasProcesses = false;
    bool hasSetting = false;
    bool listed = false;
    // The output chosen for it in Corvalle (a device UID) and that device's name
    // (the UID while the device is away); both empty when it has none.
    QString output;
    QString outputName;
    // Marked to lower the others while it plays; whether a call of its own lowers
    // the others now, and whether another's call lowers it now.
    bool lowersOthers = false;
    bool calling = false;
    bool lowered = false;
    // Remembers a volume and mute for each output device it is heard on.
    bool levelPerOutput = false;
    // Has keyboard shortcuts of its own.
    bool shortcuts = false;

    friend bool operator==(const ApplicationState&, const ApplicationState&) = default;
};

QVariantMap toVariantMap(const ApplicationState& application);
// Nothing when "key" or "name" is missing or not a string; other entries that are
// missing or of another type keep their defaults.
std::optional<ApplicationState> applicationStateFromMap(const QVariantMap& map);

// One output device on the bus: the (us) struct of ListOutputs.
struct BusOutput {
    uint id = 0;
    QString name;

    friend bool operator==(const BusOutput&, const BusOutput&) = default;
};

QDBusArgument& operator<<(QDBusArgument& argument, const BusOutput& output);
const QDBusArgument& operator>>(const QDBusArgument& argument, BusOutput& output);

// Makes the types above known to QtDBus; safe to call more than once.
void registerMixerBusTypes();

} // namespace corvalle

Q_DECLARE_METATYPE(corvalle::BusOutput)
