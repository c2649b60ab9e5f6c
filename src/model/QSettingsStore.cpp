#include "QSettingsStore.h"

#include <QMetaType>
#include <QSettings>
#include <QVariant>

namespace corvalle {

QSettingsStore::QSettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QString::fromLatin1(kOrganisation),
                                            QString::fromLatin1(kApplication))) {}

QSettingsStore::QSettingsStore(const QString& filePath)
    : settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

QSettingsStore::~QSettingsStore() = default;

std::optional<QByteArray> QSettingsStore::data(const QString& key) const {
    const QVariant value = settings_->value(key);
    if (!value.isValid() || value.metaType().id() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    return value.toByteArray();
}

void QSettingsStore::setData(const QString& key, const QByteArray& bytes) {
    settings_->setValue(key, bytes);
    settings_->sync();
}

} // namespace corvalle
