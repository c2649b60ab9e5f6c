#pragma once

#include "SettingsStore.h"

#include <QHash>

namespace corvalle {

// A store that lives as long as the object: tests and the simulated demo.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<QByteArray> data(const QString& key) const override;
    std::optional<QByteArray> foreignData(const QString& key) const override;
    StoreWrite setData(const QString& key, const QByteArray& bytes) override;

    // A value of another type than a byte string under `key`, shown as `text`.
    void setForeignData(const QString& key, const QByteArray& text);
    // Every later write fails with `why` until this is called with nothing.
    void failWrites(std::optional<QString> why) { failure_ = std::move(why); }

    // How many times setData has been called, for tests of save behaviour.
    int writeCount() const { return writeCount_; }

private:
    QHash<QString, QByteArray> values_;
    QHash<QString, QByteArray> foreign_;
    std::optional<QString> failure_;
    int writeCount_ = 0;
};

} // namespace corvalle
