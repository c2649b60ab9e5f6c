#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvalle {

// A per-user key-value store of byte strings that survives restarts.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The bytes under `key`, or nothing when the key is absent or not a byte string.
    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    virtual void setData(const QString& key, const QByteArray& bytes) = 0;
};

} // namespace corvalle
