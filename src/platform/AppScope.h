#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvalle {

// The application ids that a process's control group names.
struct ScopeAppIDs {
    QString sandboxID;   // app-flatpak-<id>-<n>.scope
    QStringList unitIDs; // of the systemd app unit, most likely first
};

// Reads /proc/<pid>/cgroup contents: the ids of the unit process::applicationUnit
// picks. Understands app-[<launcher>-]<id>-<random>.scope,
// app-[<launcher>-]<id>[@<random>].service (ids escaped the systemd way, "\x2d"
// for '-'), flatpak-<id>-<random>.scope and snap.<snap>.<app>… units.
ScopeAppIDs appIDsFromCgroup(const QByteArray& cgroup);

// The [Application] name of a .flatpak-info file; empty when absent or implausible.
QString flatpakAppID(const QByteArray& info);

// Undoes systemd's "\xNN" escaping of unit names.
QString unescapeUnitName(const QByteArray& name);

} // namespace corvalle
