#include "MemorySettingsStore.h"

namespace corvalle {

std::optional<QByteArray> MemorySettingsStore::data(const QString& key) const {
    const auto it = values_.constFind(key);
    if (it == values_.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void MemorySettingsStore::setData(const QString& key, const QByteArray& bytes) {
    values_.insert(key, bytes);
    ++writeCount_;
}

} // namespace corvalle
