#include "AppDirectory.h"
#include "CA.h"
#include "MixerModel.h"

#include <algorithm>
#include <unordered_map>

namespace corvalle {

namespace {

const QString kPIDKeys = QLatin1String(kPIDKeyPrefix);
// The first key after every key that starts with "pid:" (';' follows ':').
const QString kPIDKeyRangeEnd = QStringLiteral("pid;");

// An application id from the audio server is whatever the client says; one
// shaped like our own program or PID keys would take over another program's
// setting.
bool isReservedKey(const QString& key) {
    return key.startsWith(QLatin1String(kProgramKeyPrefix)) ||
           key.startsWith(QLatin1String(kPIDKeyPrefix));
}

// "exe:/home/ana/bin/game.py" gives "game.py", "exe:/usr/bin/python3 -m pkg"
// gives "python3 -m pkg".
QString programName(const QString& key) {
    const QString path = key.mid(QLatin1String(kProgramKeyPrefix).size());
    const qsizetype space = path.indexOf(QLatin1Char(' '));
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), space < 0 ? -1 : space);
    return path.mid(slash + 1);
}

// An empty string from the audio server or a desktop entry identifies nothing.
std::optional<QString> nonEmpty(std::optional<QString> text) {
    if (text && text->isEmpty()) {
        return std::nullopt;
    }
    return text;
}

std::optional<QString> nonEmpty(const std::optional<std::string>& text) {
    if (!text || text->empty()) {
        return std::nullopt;
    }
    return QString::fromStdString(*text);
}

// "org.example.Player" gives "Player"; empty components are ignored.
QString lastComponent(const QString& bundleID) {
    const QStringList parts = bundleID.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    return parts.isEmpty() ? bundleID : parts.last();
}

} // namespace

std::map<QString, AudioApp> MixerModel::buildGroups() {
    AudioHardware& hardware = *env_.hardware;
    // Helpers share their application's PID: ask the directory once per PID and refresh.
    std::unordered_map<pid_t, std::optional<RunningApplication>> answers;
    const auto runningApplication =
        [&](pid_t lookedUp) -> const std::optional<RunningApplication>& {
        auto [it, isNew] = answers.try_emplace(lookedUp);
        if (isNew && env_.directory != nullptr) {
            it->second = env_.directory->runningApplication(lookedUp);
        }
        return it->second;
    };
    std::map<QString, AudioApp> groups;
    for (const AudioObjectID object :
         CA::objectList(hardware, CA::system, kAudioHardwarePropertyProcessObjectList)) {
        const auto pid = CA::get<std::int32_t>(hardware, object, kAudioProcessPropertyPID, -1);
        if (pid < 1 || pid == ownPID_) {
            continue;
        }
        const pid_t responsible = env_.responsiblePID(pid);
        if (responsible == ownPID_) {
            continue;
        }

        std::optional<RunningApplication> running = runningApplication(responsible);
        if (!running && responsible != pid) {
            running = runningApplication(pid);
        }
        std::optional<QString> bundleID = running ? nonEmpty(running->bundleID) : std::nullopt;
        if (!bundleID) {
            bundleID = nonEmpty(CA::string(hardware, object, kAudioProcessPropertyBundleID));
            if (bundleID && isReservedKey(*bundleID)) {
                bundleID.reset();
            }
        }
        // Without a bundle identifier, the program's key follows the application
        // across restarts; the PID, only as long as this one process runs.
        const std::optional<QString> programKey =
            bundleID || !running ? std::nullopt : nonEmpty(running->programKey);
        const QString key = bundleID     ? *bundleID
                            : programKey ? *programKey
                                         : kPIDKeys + QString::number(responsible);
        const bool playing =
            CA::get<std::uint32_t>(hardware, object, kAudioProcessPropertyIsRunningOutput, 0) != 0;
        const bool calling =
            playing &&
            CA::get<std::uint32_t>(hardware, object, kAudioProcessPropertyIsRunningCall, 0) != 0;

        if (const auto existing = groups.find(key); existing != groups.end()) {
            existing->second.processObjects.push_back(object);
            existing->second.isPlaying = existing->second.isPlaying || playing;
            existing->second.isCalling = existing->second.isCalling || calling;
            continue;
        }

        // A desktop entry names the application best. Without one, what the
        // application told the audio server beats the bare process name.
        const bool hasEntry = running && nonEmpty(running->bundleID);
        std::optional<QString> icon = running ? running->icon : std::nullopt;
        std::optional<QString> hintName;
        if (!hasEntry) {
            hintName = nonEmpty(CA::string(hardware, object, kAudioObjectPropertyName));
            if (!icon) {
                icon = nonEmpty(CA::string(hardware, object, kAudioProcessPropertyIconHint));
            }
        }
        QString name;
        if (hintName) {
            name = std::move(*hintName);
        } else if (auto runningName = running ? nonEmpty(running->name) : std::nullopt) {
            name = std::move(*runningName);
        } else if (bundleID) {
            name = lastComponent(*bundleID);
        } else {
            name = tr("PID %1").arg(responsible);
        }
        if (name == QLatin1String("systemsoundserverd")) {
            name = tr("System Sounds");
        }
        groups.emplace(key,
                       AudioApp{key, std::move(name), std::move(icon), {object}, playing, calling});
    }
    return groups;
}

std::vector<AudioApp> MixerModel::settingOnlyRows(const std::map<QString, AudioApp>& groups) const {
    std::vector<AudioApp> rows;
    // "pid:" keys are never listed without their process. They sort next to each
    // other, so they are stepped over as one range: a refresh costs nothing for
    // each of them, however many are stored.
    const auto pidBegin = settings_.lower_bound(kPIDKeys);
    const auto pidEnd = settings_.lower_bound(kPIDKeyRangeEnd);
    for (auto it = settings_.begin(); it != settings_.end(); ++it) {
        if (it == pidBegin) {
            it = pidEnd;
            if (it == settings_.end()) {
                break;
            }
        }
        const auto& [key, setting] = *it;
        if (groups.contains(key)) {
            continue;
        }
        std::optional<InstalledApplication> installed;
        if (env_.directory != nullptr) {
            installed = env_.directory->installedApplication(key);
        }
        QString name;
        if (setting.name) {
            name = *setting.name;
        } else if (installed) {
            name = installed->displayName;
            name.remove(QStringLiteral(".app"));
        } else if (key.startsWith(QLatin1String(kProgramKeyPrefix))) {
            name = programName(key);
        } else {
            name = key;
        }
        rows.push_back(
            AudioApp{key, std::move(name), installed ? installed->icon : std::nullopt, {}, false});
    }
    return rows;
}

bool MixerModel::collatesBefore(const AudioApp& a, const AudioApp& b) const {
    return collator_.compare(a.name, b.name) < 0;
}

// Stable, so rows whose names collate the same keep the order they were collected in.
void MixerModel::sortByName(std::vector<AudioApp>& rows) const {
    std::ranges::stable_sort(
        rows, [this](const AudioApp& a, const AudioApp& b) { return collatesBefore(a, b); });
}

// Running groups first, then settings alone, each sorted by name: merged, that
// is the order a stable sort of all of them gives. A refresh that finds the same
// groups and settings touches only the few rows of running groups, however
// many settings are stored.
void MixerModel::listRows(std::vector<AudioApp> rows, const std::map<QString, AudioApp>& groups) {
    sortByName(rows);
    std::vector<QString> groupKeys;
    groupKeys.reserve(groups.size());
    for (const auto& [key, group] : groups) {
        groupKeys.push_back(key);
    }
    const QDateTime now = env_.now();
    const bool settingRowsHold =
        settingRows_.valid && settingRows_.revision == settingRowsRevision_ &&
        settingRows_.groupKeys == groupKeys && settingRows_.madeAt.msecsTo(now) >= 0 &&
        settingRows_.madeAt.msecsTo(now) < kSettingRowsLifetime.count();
    if (settingRowsHold && rows.size() == groupRows_.size() &&
        std::ranges::equal(rows, groupRows_, [](const AudioApp& a, const AudioApp& b) {
            return a.id == b.id && a.name == b.name;
        })) {
        // The same rows in the same places: at most what they show changed.
        bool changed = false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i] != groupRows_[i]) {
                apps_[groupRowPositions_[i]] = rows[i];
                changed = true;
            }
        }
        groupRows_ = std::move(rows);
        if (changed) {
            ++appsRevision_;
            emit appsChanged();
        }
        return;
    }
    if (!settingRowsHold) {
        settingRows_.rows = settingOnlyRows(groups);
        sortByName(settingRows_.rows);
        settingRows_.revision = settingRowsRevision_;
        settingRows_.groupKeys = std::move(groupKeys);
        settingRows_.madeAt = now;
        settingRows_.valid = true;
    }
    std::vector<AudioApp> merged;
    merged.reserve(rows.size() + settingRows_.rows.size());
    groupRowPositions_.clear();
    auto settingRow = settingRows_.rows.begin();
    for (const AudioApp& row : rows) {
        while (settingRow != settingRows_.rows.end() && collatesBefore(*settingRow, row)) {
            merged.push_back(*settingRow++);
        }
        groupRowPositions_.push_back(merged.size());
        merged.push_back(row);
    }
    merged.insert(merged.end(), settingRow, settingRows_.rows.end());
    groupRows_ = std::move(rows);
    // The poll finds the same rows nearly always; views, the tray and the bus
    // hear only of a change.
    if (merged != apps_) {
        apps_ = std::move(merged);
        ++appsRevision_;
        emit appsChanged();
    }
}

} // namespace corvalle
