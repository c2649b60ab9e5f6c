#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvalle {

// The outcome of one write to a settings store.
struct StoreWrite {
    bool stored = true;
    QString failure; // why not, in words for the user; empty when stored

    static StoreWrite failed(QString why) { return {false, std::move(why)}; }
};

// A per-user key-value store of byte strings that survives restarts.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The bytes under `key`, or nothing when the key is absent or not a byte string.
    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    // The value under `key` when it is there but not a byte string (a plain string
    // written by hand or by another tool), as its stored text; otherwise nothing.
    virtual std::optional<QByteArray> foreignData(const QString& key) const = 0;
    // Stores `bytes` under `key`, replacing what was there. A failed write leaves
    // the old value in place, never part of the new one.
    virtual StoreWrite setData(const QString& key, const QByteArray& bytes) = 0;
};

} // namespace corvalle
