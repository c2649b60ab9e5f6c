#include "AppScope.h"

#include "ProcessIdentity.h"

namespace corvalle {

namespace {

constexpr qsizetype kMaxAppIDLength = 255;

bool isPlausibleAppID(const QString& id) {
    if (id.isEmpty() || id.size() > kMaxAppIDLength) {
        return false;
    }
    for (const QChar c : id) {
        if (c.unicode() < 0x20 || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c.unicode() == 0x7f) {
            return false;
        }
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void addCandidate(QStringList& ids, const QByteArray& escaped) {
    const QString id = unescapeUnitName(escaped);
    if (isPlausibleAppID(id) && !ids.contains(id)) {
        ids.append(id);
    }
}

// An application unit (process::isApplicationUnit), e.g. "app-gnome-firefox-4711.scope".
void readUnit(const QByteArray& unit, ScopeAppIDs& result) {
    QByteArray body;
    if (unit.startsWith("snap.")) {
        // snap.<snap>.<app>-<uuid>.scope or snap.<snap>.<app>.service; the desktop
        // file of a snap app is <snap>_<app>.desktop.
        QByteArray rest = unit.mid(5);
        if (rest.endsWith(".scope")) {
            rest.chop(6);
            const qsizetype dash = rest.indexOf('-');
            if (dash > 0) {
                rest.truncate(dash);
            }
        } else if (rest.endsWith(".service")) {
            rest.chop(8);
        }
        const qsizetype dot = rest.indexOf('.');
        if (dot > 0) {
            addCandidate(result.unitIDs, rest.left(dot) + '_' + rest.mid(dot + 1));
        }
        return;
    }
    if (unit.startsWith("flatpak-")) {
        // flatpak-<id>-<n>.scope, from flatpak before it named its units app-flatpak-….
        QByteArray id = unit.mid(8, unit.size() - 8 - 6);
        const qsizetype dash = id.lastIndexOf('-');
        if (dash > 0) {
            id.truncate(dash);
            const QString sandboxID = unescapeUnitName(id);
            if (isPlausibleAppID(sandboxID)) {
                result.sandboxID = sandboxID;
            }
        }
        return;
    }
    if (unit.endsWith(".scope")) {
        body = unit.mid(4, unit.size() - 4 - 6);
        const qsizetype dash = body.lastIndexOf('-');
        if (dash <= 0) {
            return;
        }
        body.truncate(dash);
    } else if (unit.endsWith(".service")) {
        body = unit.mid(4, unit.size() - 4 - 8);
        const qsizetype at = body.indexOf('@');
        if (at >= 0) {
            body.truncate(at);
        }
    }
    if (body.isEmpty()) {
        return;
    }
    if (body.startsWith("flatpak-")) {
        const QString id = unescapeUnitName(body.mid(8));
        if (isPlausibleAppID(id)) {
            result.sandboxID = id;
        }
    }
    addCandidate(result.unitIDs, body);
    // A launcher name ("gnome", "kde", "flatpak") may precede the id.
    const qsizetype dash = body.indexOf('-');
    if (dash > 0) {
        addCandidate(result.unitIDs, body.mid(dash + 1));
    }
}

} // namespace

QString unescapeUnitName(const QByteArray& name) {
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            const int high = hexValue(name[i + 2]);
            const int low = hexValue(name[i + 3]);
            if (high >= 0 && low >= 0) {
                out.append(static_cast<char>(high * 16 + low));
                i += 3;
                continue;
            }
        }
        out.append(name[i]);
    }
    return QString::fromUtf8(out);
}

ScopeAppIDs appIDsFromCgroup(const QByteArray& cgroup) {
    ScopeAppIDs result;
    const std::string unit = process::applicationUnit(
        std::string_view(cgroup.constData(), static_cast<std::size_t>(cgroup.size())));
    if (!unit.empty()) {
        readUnit(QByteArray::fromStdString(unit), result);
    }
    return result;
}

QString flatpakAppID(const QByteArray& info) {
    bool inApplication = false;
    for (const QByteArray& rawLine : info.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inApplication = line == "[Application]";
            continue;
        }
        if (inApplication && line.startsWith("name")) {
            const qsizetype equals = line.indexOf('=');
            if (equals < 0 || line.left(equals).trimmed() != "name") {
                continue;
            }
            const QString id = QString::fromUtf8(line.mid(equals + 1).trimmed());
            return isPlausibleAppID(id) ? id : QString();
        }
    }
    return {};
}

} // namespace corvalle
