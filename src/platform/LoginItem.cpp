#include "LoginItem.h"

#include "Log.h"
#include "ProcFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringView>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace corvalle {

namespace {

constexpr qsizetype kMaxEntrySize = qsizetype{64} * 1024;

// Quotes one argument by the Exec rules: reserved characters need double quotes,
// and inside them ", `, $ and \ take a backslash.
QString quoteArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool needsQuotes =
        argument.isEmpty() ||
        std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); });
    QString text = argument;
    text.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (!needsQuotes) {
        return text;
    }
    QString quoted = QStringLiteral("\"");
    for (const QChar c : std::as_const(text)) {
        if (QStringView(u"\"`$\\").contains(c)) {
            quoted.append(QLatin1Char('\\'));
        }
        quoted.append(c);
    }
    quoted.append(QLatin1Char('"'));
    return quoted;
}

// The string escapes of desktop file values, applied after the Exec quoting.
QString escapeValue(const QString& value) {
    QString escaped;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\')) {
            escaped.append(QStringLiteral("\\\\"));
        } else if (c == QLatin1Char('\n')) {
            escaped.append(QStringLiteral("\\n"));
        } else if (c == QLatin1Char('\t')) {
            escaped.append(QStringLiteral("\\t"));
        } else if (c == QLatin1Char('\r')) {
            escaped.append(QStringLiteral("\\r"));
        } else {
            escaped.append(c);
        }
    }
    return escaped;
}

QString defaultConfigHome() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    return QDir::isAbsolutePath(configured) ? configured
                                            : QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

AutostartLoginItem::AutostartLoginItem(const QString& configHome, const QString& executable)
    : autostartDir_((configHome.isEmpty() ? defaultConfigHome() : configHome) +
                    QStringLiteral("/autostart")),
      entryPath_(autostartDir_ + QStringLiteral("/corvalle.desktop")),
      executable_(executable.isEmpty() ? QCoreApplication::applicationFilePath() : executable) {}

QString AutostartLoginItem::execLine(const QString& executable) {
    return escapeValue(quoteArgument(executable) + QStringLiteral(" --login-item"));
}

int AutostartLoginItem::status() const {
    const auto contents = proc::readFile(QFile::encodeName(entryPath_), kMaxEntrySize);
    if (!contents) {
        return 0;
    }
    bool inGroup = false;
    bool sawGroup = false;
    for (const QByteArray& rawLine : contents->split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inGroup = line == "[Desktop Entry]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inGroup || equals <= 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden" && value == "true") {
            return 0;
        }
        if (key == "X-GNOME-Autostart-enabled" && value == "false") {
            return 0;
        }
    }
    return sawGroup ? 1 : 0;
}

bool AutostartLoginItem::registerItem() {
    if (!QDir().mkpath(autostartDir_)) {
        return false;
    }
    // The icon is the installed one's name; TryExec lets the desktop pass over
    // an entry whose program was uninstalled, as no package may remove it.
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Corvalle\n"
                                        "Icon=org.corvalle.Corvalle\n"
                                        "TryExec=%1\n"
                                        "Exec=%2\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(escapeValue(executable_), execLine(executable_));
    QSaveFile file(entryPath_);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qCWarning(lcPlatform) << "could not write the autostart entry:" << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcPlatform) << "could not write the autostart entry:" << file.errorString();
        return false;
    }
    return true;
}

bool AutostartLoginItem::unregisterItem() {
    // A missing entry, or one whose folder cannot exist, is what was asked for.
    return ::unlink(QFile::encodeName(entryPath_).constData()) == 0 || errno == ENOENT ||
           errno == ENOTDIR;
}

} // namespace corvalle
