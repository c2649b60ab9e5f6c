#include "QSettingsStore.h"

#include "IniText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QSaveFile>
#include <QSettings>
#include <QVariant>
#include <sys/stat.h>

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

std::optional<QSettingsStore::FileState> QSettingsStore::fileState(const QString& filePath) {
    struct stat status {};
    if (::stat(QFile::encodeName(filePath).constData(), &status) != 0) {
        return std::nullopt;
    }
    constexpr std::int64_t kNsPerSecond = 1'000'000'000;
    return FileState{status.st_dev, status.st_ino, status.st_size,
                     status.st_mtim.tv_sec * kNsPerSecond + status.st_mtim.tv_nsec};
}

std::optional<QByteArray> QSettingsStore::splicedText(const QString& key,
                                                      const QByteArray& value) const {
    if (!writtenText_ || writtenText_->key != key || fileState(filePath_) != writtenText_->file) {
        return std::nullopt;
    }
    const QByteArrayView text(writtenText_->text);
    const IniText::Span& old = writtenText_->value;
    // A file's time moves only once per clock tick, and anyone can set it, so a
    // change could go unseen: what lies around the value is read again.
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly) || file.read(old.start) != text.first(old.start) ||
        !file.seek(old.end) || file.readAll() != text.sliced(old.end)) {
        return std::nullopt;
    }
    QByteArray spliced;
    spliced.reserve(text.size() - (old.end - old.start) + value.size());
    spliced.append(text.first(old.start));
    spliced.append(value);
    spliced.append(text.sliced(old.end));
    return spliced;
}

StoreWrite QSettingsStore::setData(const QString& key, const QByteArray& bytes) {
    const QByteArray value = IniText::byteArrayValue(bytes);
    std::optional<QByteArray> text = splicedText(key, value);
    std::optional<IniText::Span> span;
    if (text) {
        span = IniText::Span{writtenText_->value.start, writtenText_->value.start + value.size()};
    } else {
        // Read afresh, so that whatever else the file holds now is kept.
        QByteArray current;
        QFile file(filePath_);
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly)) {
                return StoreWrite::failed(describeWriteFailure(filePath_, file.errorString()));
            }
            current = file.readAll();
        }
        text = IniText::withValue(current, key.toUtf8(), value);
        span = IniText::valueSpan(*text, key.toUtf8());
    }
    writtenText_.reset();

    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    QSaveFile file(filePath_);
    // A short write (a full disk) must fail the whole write, which QIODevice
    // reports only as a count.
    if (!file.open(QIODevice::WriteOnly) || file.write(*text) != text->size() || !file.commit()) {
        const QString systemError = file.errorString();
        file.cancelWriting();
        return StoreWrite::failed(describeWriteFailure(filePath_, systemError));
    }
    written_.insert_or_assign(key, bytes);
    if (const auto written = fileState(filePath_); written && span) {
        writtenText_ = WrittenText{*written, std::move(*text), key, *span};
    }
    return {};
}

} // namespace corvalle
