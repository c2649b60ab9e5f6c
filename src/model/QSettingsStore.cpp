#include "QSettingsStore.h"

#include "IniText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QSaveFile>
#include <QSettings>
#include <QVariant>

namespace corvalle {

namespace {

QString nativeFilePath() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(QSettingsStore::kOrganisation),
                     QString::fromLatin1(QSettingsStore::kApplication))
        .fileName();
}

// The file system's own word is often vague ("Permission denied" for a folder in
// the file's place); say what stands in the way where it can be seen.
QString describeWriteFailure(const QString& filePath, const QString& systemError) {
    const QFileInfo file(filePath);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir()) {
        return QStringLiteral("%1 is a folder, not a file").arg(filePath);
    }
    if (folder.exists() && !folder.isDir()) {
        return QStringLiteral("%1 is a file, not a folder").arg(folder.filePath());
    }
    if (file.exists() && !file.isWritable()) {
        return QStringLiteral("%1 is read-only").arg(filePath);
    }
    if (folder.exists() && !folder.isWritable()) {
        return QStringLiteral("the folder %1 is read-only").arg(folder.filePath());
    }
    return QStringLiteral("%1 could not be written (%2)").arg(filePath, systemError);
}

} // namespace

QSettingsStore::QSettingsStore() : QSettingsStore(nativeFilePath()) {}

QSettingsStore::QSettingsStore(const QString& filePath)
    : filePath_(filePath), settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

QSettingsStore::~QSettingsStore() = default;

std::optional<QByteArray> QSettingsStore::data(const QString& key) const {
    if (const auto it = written_.find(key); it != written_.end()) {
        return it->second;
    }
    const QVariant value = settings_->value(key);
    if (!value.isValid() || value.metaType().id() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    return value.toByteArray();
}

std::optional<QByteArray> QSettingsStore::foreignData(const QString& key) const {
    if (written_.contains(key)) {
        return std::nullopt;
    }
    const QVariant value = settings_->value(key);
    if (!value.isValid() || value.metaType().id() == QMetaType::QByteArray) {
        return std::nullopt;
    }
    QFile file(filePath_);
    if (file.open(QIODevice::ReadOnly)) {
        if (auto raw = IniText::rawValue(file.readAll(), key.toUtf8())) {
            return raw;
        }
    }
    return value.toStringList().join(QStringLiteral(", ")).toUtf8();
}

StoreWrite QSettingsStore::setData(const QString& key, const QByteArray& bytes) {
    // Read afresh, so that whatever else the file holds now is kept.
    QByteArray text;
    QFile current(filePath_);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly)) {
            return StoreWrite::failed(describeWriteFailure(filePath_, current.errorString()));
        }
        text = current.readAll();
        current.close();
    }
    text = IniText::withValue(text, key.toUtf8(), IniText::byteArrayValue(bytes));

    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    QSaveFile file(filePath_);
    // A short write (a full disk) must fail the whole write, which QIODevice
    // reports only as a count.
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        const QString systemError = file.errorString();
        file.cancelWriting();
        return StoreWrite::failed(describeWriteFailure(filePath_, systemError));
    }
    written_.insert_or_assign(key, bytes);
    return {};
}

} // namespace corvalle
