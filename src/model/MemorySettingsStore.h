#pragma once

#include "SettingsStore.h"

#include <QHash>

namespace corvalle {

// A store that lives as long as the object: tests and the simulated demo.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<QByteArray> data(const QString& key) const override;
    void setData(const QString& key, const QByteArray& bytes) override;

    // How many times setData has been called, for tests of save behaviour.
    int writeCount() const { return writeCount_; }

private:
    QHash<QString, QByteArray> values_;
    int writeCount_ = 0;
};

} // namespace corvalle
