#pragma once

#include "AppSetting.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <set>
#include <vector>

namespace corvalle {

// The stored form of the settings, kept as one text with where each entry lies
// in it, so that saving after a change encodes and moves only what changed. With
// tens of thousands of remembered applications, encoding them all took most of a
// change's time.
class EncodedSettings {
public:
    // Encodes every entry of `settings` afresh.
    void assign(const std::map<QString, AppSetting>& settings);
    // Encodes the entries of `keys` again as `settings` has them now, or drops
    // those it no longer has.
    void update(const std::map<QString, AppSetting>& settings, const std::set<QString>& keys);
    // Byte for byte what SettingsCodec::encode gives for those settings.
    const QByteArray& text() const { return text_; }

private:
    struct Entry {
        QString key;
        qsizetype start = 0; // in text_
        qsizetype size = 0;
    };
    void shiftEntriesAfter(std::size_t index, qsizetype by);

    QByteArray text_ = QByteArrayLiteral("{}");
    std::vector<Entry> entries_; // in the order of the map's keys
};

} // namespace corvalle
