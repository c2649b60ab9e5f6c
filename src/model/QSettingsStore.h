#pragma once

#include "SettingsStore.h"

#include <memory>

class QSettings;

namespace corvalle {

// The per-user store: QSettings in the native format under organisation and
// application "Corvalle".
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    // An INI file at `filePath`, for tests that must not touch the user's settings.
    explicit QSettingsStore(const QString& filePath);
    ~QSettingsStore() override;
    QSettingsStore(const QSettingsStore&) = delete;
    QSettingsStore& operator=(const QSettingsStore&) = delete;

    std::optional<QByteArray> data(const QString& key) const override;
    // Written through to disk at once, so a crash loses nothing.
    void setData(const QString& key, const QByteArray& bytes) override;

    static constexpr const char* kOrganisation = "Corvalle";
    static constexpr const char* kApplication = "Corvalle";

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace corvalle
