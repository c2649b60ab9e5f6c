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

bool QSettingsStore::isAsWritten(const QString& key) const {
    if (!writtenText_ || writtenText_->key != key || fileState(filePath_) != writtenText_->file) {
        return false;
    }
    // A file's time moves only once per clock tick, and anyone can set it, so a
    // change could go unseen: what lies around the value is read again.
    const WrittenText& written = *writtenText_;
    QFile file(filePath_);
    return file.open(QIODevice::ReadOnly) && file.read(written.before.size()) == written.before &&
           file.seek(written.file.size - written.after.size()) && file.readAll() == written.after;
}

StoreWrite QSettingsStore::setData(const QString& key, const QByteArray& bytes) {
    const QByteArray value = IniText::byteArrayValue(bytes);
    // The file is written as what comes before the value, the value and what
    // comes after it; the settings may be megabytes, the rest a few lines.
    QByteArray before;
    QByteArray after;
    bool valueApart = true; // otherwise `before` is the whole new text
    if (isAsWritten(key)) {
        before = writtenText_->before;
        after = writtenText_->after;
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
        const QByteArray text = IniText::withValue(current, key.toUtf8(), value);
        const auto span = IniText::valueSpan(text, key.toUtf8());
        if (span) {
            before = text.first(span->start);
            after = text.sliced(span->end);
        } else {
            // The key is there more than once, and every entry got the value.
            before = text;
            valueApart = false;
        }
    }
    writtenText_.reset();

    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    QSaveFile file(filePath_);
    const auto writeAll = [&file](const QByteArray& part) {
        // A short write (a full disk) must fail the whole write, which QIODevice
        // reports only as a count.
        return file.write(part) == part.size();
    };
    if (!file.open(QIODevice::WriteOnly) || !writeAll(before) || (valueApart && !writeAll(value)) ||
        !writeAll(after) || !file.commit()) {
        const QString systemError = file.errorString();
        file.cancelWriting();
        return StoreWrite::failed(describeWriteFailure(filePath_, systemError));
    }
    written_.insert_or_assign(key, bytes);
    if (const auto written = fileState(filePath_); written && valueApart) {
        writtenText_ = WrittenText{*written, std::move(before), std::move(after), key};
    }
    return {};
}

} // namespace corvalle
