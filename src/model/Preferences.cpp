// The preferences that hold for every application: whether loud sound is
// limited smoothly or clipped, and how low a call takes the others. Each is
// stored beside the applications' settings under its own key, as text, so that
// a version that does not know it reads the rest unchanged, and it may be
// written by hand.
#include "AppTap.h"
#include "MixerModel.h"
#include "SettingsStore.h"

#include <cmath>

namespace corvalle {

namespace {

const QString kLimiterKey = QStringLiteral("limiter");
const QByteArray kOff = QByteArrayLiteral("off");
const QByteArray kOn = QByteArrayLiteral("on");
const QString kLoweredLevelKey = QStringLiteral("loweredLevel");

} // namespace

std::optional<QByteArray> MixerModel::storedPreference(const QString& key) const {
    if (env_.store == nullptr) {
        return std::nullopt;
    }
    std::optional<QByteArray> stored = env_.store->data(key);
    if (!stored) {
        stored = env_.store->foreignData(key);
    }
    return stored ? std::optional(stored->trimmed()) : std::nullopt;
}

void MixerModel::storePreference(const QString& key, const QByteArray& text) {
    if (env_.store != nullptr) {
        tellSave(env_.store->setData(key, text));
    }
}

void MixerModel::loadPreferences() {
    // Off only when it says so: anything else keeps the limiter, the safer of the two.
    const std::optional<QByteArray> limiter = storedPreference(kLimiterKey);
    limiterOn_ = !limiter || limiter->toLower() != kOff;

    // A percentage; anything else leaves the default, and a level past 100 the
    // nearest end: never above the applications' own.
    if (const std::optional<QByteArray> level = storedPreference(kLoweredLevelKey)) {
        bool ok = false;
        const double percent = QString::fromUtf8(*level).toDouble(&ok);
        if (ok && std::isfinite(percent)) {
            lowering_.setLevel(percent / 100.0, env_.clock());
        }
    }
    loadShortcutKeys();
}

void MixerModel::setLimiterOn(bool on) {
    if (on != limiterOn_) {
        limiterOn_ = on;
        for (const auto& [key, tap] : taps_) {
            tap->setLimiterOn(on);
        }
        emit limiterChanged();
    }
    storePreference(kLimiterKey, on ? kOn : kOff);
}

void MixerModel::setLoweredLevel(double level) {
    if (std::isnan(level)) {
        return;
    }
    const double before = lowering_.level();
    lowering_.setLevel(level, env_.clock());
    if (lowering_.level() != before) {
        emit loweredLevelChanged();
        reconcile();
    }
    storePreference(kLoweredLevelKey,
                    QByteArray::number(std::round(lowering_.level() * 1000.0) / 10.0));
}

} // namespace corvalle
