#include "DesktopEntry.h"

#include <QByteArrayView>
#include <QStringView>

namespace corvalle {

namespace {

constexpr qsizetype kMaxNameLength = 256;
constexpr qsizetype kMaxValueLength = qsizetype{16} * 1024;

QString unescapeValue(QByteArrayView raw) {
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\\' || i + 1 == raw.size()) {
            out.append(c);
            continue;
        }
        const char next = raw[++i];
        switch (next) {
        case 's':
            out.append(' ');
            break;
        case 'n':
            out.append('\n');
            break;
        case 't':
            out.append('\t');
            break;
        case 'r':
            out.append('\r');
            break;
        case '\\':
            out.append('\\');
            break;
        default:
            // Escapes of list separators and unknown ones stay as written.
            out.append('\\');
            out.append(next);
            break;
        }
    }
    return QString::fromUtf8(out);
}

// Display text from a file may hold anything: no control characters, one line,
// bounded length.
std::optional<QString> displayText(QString text, qsizetype maxLength) {
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            c = QLatin1Char(' ');
        }
    }
    text = text.simplified();
    if (text.size() > maxLength) {
        text.truncate(maxLength);
        if (text.back().isHighSurrogate()) {
            text.chop(1);
        }
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return text;
}

bool isTrue(const QString& value) {
    return value == QLatin1String("true") || value == QLatin1String("1");
}

QString baseName(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

bool isFieldCode(const QString& arg) {
    static const QString codes = QStringLiteral("fFuUdDnNickvm");
    return arg.size() == 2 && arg[0] == QLatin1Char('%') && codes.contains(arg[1]);
}

void applyExec(const QString& exec, DesktopEntry& entry) {
    QStringList args;
    for (QString& arg : splitExec(exec)) {
        if (!isFieldCode(arg)) {
            args.append(arg.replace(QStringLiteral("%%"), QStringLiteral("%")));
        }
    }
    qsizetype i = 0;
    // "env [-u NAME] VAR=value … program" starts the program, not env.
    if (!args.isEmpty() && baseName(args[0]) == QLatin1String("env")) {
        i = 1;
        while (i < args.size()) {
            const QString& arg = args[i];
            if (arg == QLatin1String("-u") || arg == QLatin1String("--unset") ||
                arg == QLatin1String("-C") || arg == QLatin1String("--chdir")) {
                i += 2;
            } else if (arg.startsWith(QLatin1Char('-')) || arg.contains(QLatin1Char('='))) {
                ++i;
            } else {
                break;
            }
        }
    }
    if (i >= args.size()) {
        return;
    }
    entry.program = baseName(args[i]);
    entry.arguments = args.mid(i + 1);
    if (entry.program == QLatin1String("flatpak") && entry.flatpakID.isEmpty()) {
        const qsizetype run = entry.arguments.indexOf(QStringLiteral("run"));
        for (qsizetype k = run + 1; run >= 0 && k < entry.arguments.size(); ++k) {
            if (!entry.arguments[k].startsWith(QLatin1Char('-'))) {
                entry.flatpakID = entry.arguments[k];
                break;
            }
        }
    }
}

} // namespace

QStringList localeKeysFor(const QStringList& locales) {
    QStringList keys;
    const auto add = [&keys](const QString& key) {
        if (!key.isEmpty() && !keys.contains(key)) {
            keys.append(key);
        }
    };
    for (const QString& locale : locales) {
        if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX") ||
            locale.startsWith(QLatin1String("C."))) {
            continue;
        }
        QString rest = locale;
        QString modifier;
        const qsizetype at = rest.indexOf(QLatin1Char('@'));
        if (at >= 0) {
            modifier = rest.mid(at + 1);
            rest.truncate(at);
        }
        const qsizetype dot = rest.indexOf(QLatin1Char('.'));
        if (dot >= 0) {
            rest.truncate(dot);
        }
        const qsizetype underscore = rest.indexOf(QLatin1Char('_'));
        const QString language = underscore >= 0 ? rest.left(underscore) : rest;
        const QString country = underscore >= 0 ? rest.mid(underscore + 1) : QString();
        if (language.isEmpty()) {
            continue;
        }
        if (!country.isEmpty() && !modifier.isEmpty()) {
            add(language + QLatin1Char('_') + country + QLatin1Char('@') + modifier);
        }
        if (!country.isEmpty()) {
            add(language + QLatin1Char('_') + country);
        }
        if (!modifier.isEmpty()) {
            add(language + QLatin1Char('@') + modifier);
        }
        add(language);
    }
    return keys;
}

QStringList splitExec(const QString& exec) {
    QStringList args;
    QString current;
    bool inArg = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size() &&
                QStringView(u"\"`$\\").contains(exec[i + 1])) {
                current.append(exec[++i]);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                current.append(c);
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inArg) {
                args.append(current);
                current.clear();
                inArg = false;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inArg = true;
        } else {
            current.append(c);
            inArg = true;
        }
    }
    if (inArg) {
        args.append(current);
    }
    return args;
}

std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents,
                                              const QStringList& localeKeys) {
    DesktopEntry entry;
    bool inGroup = false;
    bool sawGroup = false;
    qsizetype nameRank = -1; // index in localeKeys, localeKeys.size() for plain Name
    bool haveExec = false;
    bool haveTryExec = false;
    bool haveIcon = false;
    bool haveWMClass = false;
    bool haveFlatpak = false;
    QString exec;

    qsizetype start = 0;
    while (start < contents.size()) {
        qsizetype end = contents.indexOf('\n', start);
        if (end < 0) {
            end = contents.size();
        }
        QByteArrayView line(contents.constData() + start, end - start);
        start = end + 1;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith('[')) {
            if (inGroup) {
                break;
            }
            inGroup = line == QByteArrayView("[Desktop Entry]");
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup) {
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0 || line.size() - equals > kMaxValueLength) {
            continue;
        }
        const QByteArrayView key = line.first(equals).trimmed();
        const QByteArrayView rawValue = line.sliced(equals + 1).trimmed();

        if (key == QByteArrayView("Name")) {
            if (nameRank < 0 || nameRank > localeKeys.size()) {
                entry.name = displayText(unescapeValue(rawValue), kMaxNameLength);
                nameRank = entry.name ? localeKeys.size() : -1;
            }
        } else if (key.startsWith("Name[") && key.endsWith(']')) {
            const QString locale = QString::fromUtf8(key.sliced(5, key.size() - 6));
            const qsizetype rank = localeKeys.indexOf(locale);
            if (rank >= 0 && (nameRank < 0 || rank < nameRank)) {
                if (auto name = displayText(unescapeValue(rawValue), kMaxNameLength)) {
                    entry.name = std::move(name);
                    nameRank = rank;
                }
            }
        } else if (key == QByteArrayView("Type")) {
            if (rawValue != QByteArrayView("Application")) {
                return std::nullopt;
            }
        } else if (key == QByteArrayView("Icon") && !haveIcon) {
            haveIcon = true;
            entry.icon = displayText(unescapeValue(rawValue), kMaxValueLength);
        } else if (key == QByteArrayView("Exec") && !haveExec) {
            haveExec = true;
            exec = unescapeValue(rawValue);
        } else if (key == QByteArrayView("TryExec") && !haveTryExec) {
            haveTryExec = true;
            entry.tryExec = baseName(unescapeValue(rawValue));
        } else if (key == QByteArrayView("StartupWMClass") && !haveWMClass) {
            haveWMClass = true;
            entry.wmClass = unescapeValue(rawValue);
        } else if (key == QByteArrayView("X-Flatpak") && !haveFlatpak) {
            haveFlatpak = true;
            entry.flatpakID = unescapeValue(rawValue);
        } else if (key == QByteArrayView("Hidden")) {
            entry.hidden = isTrue(unescapeValue(rawValue));
        } else if (key == QByteArrayView("NoDisplay")) {
            entry.noDisplay = isTrue(unescapeValue(rawValue));
        }
    }
    if (!sawGroup) {
        return std::nullopt;
    }
    applyExec(exec, entry);
    return entry;
}

} // namespace corvalle
