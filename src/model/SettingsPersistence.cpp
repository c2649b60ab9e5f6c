// Settings persistence: the stored settings are loaded at start and the whole map
// is saved after every change; a stored value that cannot be read is kept aside
// rather than lost.
#include "Log.h"
#include "MixerModel.h"
#include "SettingsCodec.h"
#include "SettingsStore.h"

#include <limits>
#include <utility>

namespace corvalle {

namespace {

// Where unreadable stored settings are kept before the first save replaces them.
const QString kUnreadableSuffix = QStringLiteral(".unreadable");

} // namespace

void MixerModel::loadSettings() {
    if (env_.store == nullptr) {
        return;
    }
    const std::optional<QByteArray> bytes = env_.store->data(defaultsKey_);
    if (!bytes) {
        // Another kind of value (a plain string written by hand) is not ours to
        // read, but it is the user's: keep it like unreadable bytes.
        unreadableSettings_ = env_.store->foreignData(defaultsKey_);
        return;
    }
    if (auto decoded = SettingsCodec::decode(*bytes)) {
        forgetEndedProcesses(*decoded);
        settings_ = std::move(*decoded);
        ++settingsRevision_;
        ++settingRowsRevision_;
        settingChanges_.clear();
        settingChangesFrom_ = settingsRevision_;
        emit settingsChanged();
        return;
    }
    unreadableSettings_ = *bytes;
}

// A "pid:" key names one process. Once that process has ended the setting can
// never apply again, and the PID may already belong to another program that must
// not inherit it. The stored text keeps them until the next save.
void MixerModel::forgetEndedProcesses(std::map<QString, AppSetting>& settings) const {
    const QString prefix = QLatin1String(kPIDKeyPrefix);
    auto it = settings.lower_bound(prefix);
    while (it != settings.end() && it->first.startsWith(prefix)) {
        // Only the form discovery writes ("pid:812", not "pid:0812") can ever match.
        const QString digits = it->first.mid(prefix.size());
        bool isNumber = false;
        const qlonglong pid = digits.toLongLong(&isNumber);
        const bool ended = !isNumber || pid < 1 || pid > std::numeric_limits<pid_t>::max() ||
                           QString::number(pid) != digits ||
                           !env_.processExists(static_cast<pid_t>(pid));
        if (ended) {
            qCInfo(lcModel) << "forgetting the setting of ended process" << it->first;
            it = settings.erase(it);
        } else {
            ++it;
        }
    }
}

// Copies a stored value that could not be read to "<key>.unreadable" (or
// ".unreadable.2", ".3", ... when an earlier, different copy is there) so that
// saving over it loses nothing.
StoreWrite MixerModel::keepUnreadableSettings() {
    if (!unreadableSettings_) {
        return {};
    }
    const QString base = defaultsKey_ + kUnreadableSuffix;
    for (int attempt = 1;; ++attempt) {
        const QString key =
            attempt == 1 ? base : base + QLatin1Char('.') + QString::number(attempt);
        const auto kept = env_.store->data(key);
        if (kept == unreadableSettings_) {
            break;
        }
        if (!kept && !env_.store->foreignData(key)) {
            if (StoreWrite write = env_.store->setData(key, *unreadableSettings_); !write.stored) {
                return write;
            }
            break;
        }
    }
    unreadableSettings_.reset();
    return {};
}

void MixerModel::saveSettings() {
    if (env_.store == nullptr) {
        return;
    }
    // The value in the store is replaced only once any unreadable one is safe.
    StoreWrite write = keepUnreadableSettings();
    if (write.stored) {
        const auto changed =
            encodedRevision_ ? settingsChangedSince(*encodedRevision_) : std::nullopt;
        if (changed) {
            encodedSettings_.update(settings_, *changed);
        } else {
            encodedSettings_.assign(settings_);
        }
        encodedRevision_ = settingsRevision_;
        write = env_.store->setData(defaultsKey_, encodedSettings_.text());
    }
    tellSave(write);
}

void MixerModel::tellSave(const StoreWrite& write) {
    if (write.stored) {
        setSaveFailure(std::nullopt);
        return;
    }
    setSaveFailure(tr("Settings could not be saved: %1. Changes apply until Corvalle quits.")
                       .arg(write.failure));
}

} // namespace corvalle
