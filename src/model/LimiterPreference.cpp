// Whether loud sound is limited smoothly or clipped: one preference for every
// tap, stored beside the applications' settings under its own key, so that a
// version that does not know it reads the rest unchanged.
#include "AppTap.h"
#include "MixerModel.h"
#include "SettingsStore.h"

namespace corvalle {

namespace {

const QString kLimiterKey = QStringLiteral("limiter");
const QByteArray kOff = QByteArrayLiteral("off");
const QByteArray kOn = QByteArrayLiteral("on");

} // namespace

void MixerModel::loadLimiter() {
    if (env_.store == nullptr) {
        return;
    }
    // Off only when it says so, also as text written by hand: anything else
    // keeps the limiter, the safer of the two.
    std::optional<QByteArray> stored = env_.store->data(kLimiterKey);
    if (!stored) {
        stored = env_.store->foreignData(kLimiterKey);
    }
    limiterOn_ = !stored || stored->trimmed().toLower() != kOff;
}

void MixerModel::setLimiterOn(bool on) {
    if (on != limiterOn_) {
        limiterOn_ = on;
        for (const auto& [key, tap] : taps_) {
            tap->setLimiterOn(on);
        }
        emit limiterChanged();
    }
    if (env_.store == nullptr) {
        return;
    }
    tellSave(env_.store->setData(kLimiterKey, on ? kOn : kOff));
}

std::optional<float> MixerModel::takeTapLimit(const QString& key) {
    AppTap* tap = findTap(key);
    return tap != nullptr ? std::optional(tap->takeLimit()) : std::nullopt;
}

} // namespace corvalle
