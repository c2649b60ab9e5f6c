#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvalle {

// The parts of a desktop entry's [Desktop Entry] group that identify and name an
// application.
struct DesktopEntry {
    QString id;                  // desktop file id without ".desktop"
    std::optional<QString> name; // Name, localised where a translation fits
    std::optional<QString> icon; // theme icon name or absolute path
    QString program;             // basename of the program Exec starts
    QStringList arguments;       // Exec arguments after the program, field codes removed
    QString tryExec;             // basename of TryExec
    QString wmClass;             // StartupWMClass
    QString flatpakID;           // X-Flatpak, or the app id of "flatpak run <id>"
    bool hidden = false;
    bool noDisplay = false;
};

// Locale keys to try for localised values, best first: "de_DE.UTF-8@euro" gives
// de_DE@euro, de_DE, de@euro, de. "C" and "POSIX" give none.
QStringList localeKeysFor(const QStringList& locales);

// Parses the [Desktop Entry] group of a desktop file. Empty when the file has no
// such group or describes something other than an application (Type=Link,
// Type=Directory). `id` is left empty for the caller.
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents,
                                              const QStringList& localeKeys);

// Splits an Exec value (already string-unescaped) into arguments by the quoting
// rules of desktop entries: double quotes group, and inside them a backslash
// escapes ", `, $ and itself. An unterminated quote ends at the end of the value.
QStringList splitExec(const QString& exec);

} // namespace corvalle
