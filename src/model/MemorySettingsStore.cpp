#include "MemorySettingsStore.h"

namespace corvalle {

namespace {

std::optional<QByteArray> find(const QHash<QString, QByteArray>& values, const QString& key) {
    const auto it = values.constFind(key);
    if (it == values.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

} // namespace

std::optional<QByteArray> MemorySettingsStore::data(const QString& key) const {
    return find(values_, key);
}

std::optional<QByteArray> MemorySettingsStore::foreignData(const QString& key) const {
    return find(foreign_, key);
}

StoreWrite MemorySettingsStore::setData(const QString& key, const QByteArray& bytes) {
    ++writeCount_;
    if (failure_) {
        return StoreWrite::failed(*failure_);
    }
    foreign_.remove(key);
    values_.insert(key, bytes);
    return {};
}

void MemorySettingsStore::setForeignData(const QString& key, const QByteArray& text) {
    values_.remove(key);
    foreign_.insert(key, text);
}

} // namespace corvalle
