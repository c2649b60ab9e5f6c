#pragma once

#include "SettingsStore.h"

#include <cstdint>
#include <map>
#include <memory>

class QSettings;

namespace corvalle {

// The per-user store: the INI file of QSettings' native format under
// organisation and application "Corvalle". QSettings reads it; writes replace
// the one entry in the file's text and put the whole file in place with a
// rename, after every byte of it has reached the disk. (QSettings itself would
// put a short-written file in place when the disk is full.) Only the file is
// ever replaced, so it always holds either the old or the new settings.
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    // An INI file at `filePath`, for tests that must not touch the user's settings.
    explicit QSettingsStore(const QString& filePath);
    ~QSettingsStore() override;
    QSettingsStore(const QSettingsStore&) = delete;
    QSettingsStore& operator=(const QSettingsStore&) = delete;

    std::optional<QByteArray> data(const QString& key) const override;
    // The text after "key=" in the file, as it stands there.
    std::optional<QByteArray> foreignData(const QString& key) const override;
    // Written through to disk at once, so a crash loses nothing. `key` is plain:
    // letters, digits, '.', '_' and '-'.
    StoreWrite setData(const QString& key, const QByteArray& bytes) override;

    const QString& filePath() const { return filePath_; }

    static constexpr const char* kOrganisation = "Corvalle";
    static constexpr const char* kApplication = "Corvalle";

private:
    // What identifies one state of the file: a write by anyone else changes it.
    struct FileState {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modifiedNs = 0;
        bool operator==(const FileState&) const = default;
    };
    static std::optional<FileState> fileState(const QString& filePath);
    // What the file held around the value this store last wrote, so that the
    // next write of that key replaces just the value while the rest of the file
    // is as it was. The settings may be megabytes, the rest a few lines.
    struct WrittenText {
        FileState file;
        QByteArray before;
        QByteArray after;
        QString key;
    };
    bool isAsWritten(const QString& key) const;

    QString filePath_;
    std::unique_ptr<QSettings> settings_;   // what the file held when it was opened
    std::map<QString, QByteArray> written_; // what has been written since
    std::optional<WrittenText> writtenText_;
};

} // namespace corvalle
