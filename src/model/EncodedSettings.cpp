#include "EncodedSettings.h"

#include "SettingsCodec.h"

#include <algorithm>

namespace corvalle {

void EncodedSettings::assign(const std::map<QString, AppSetting>& settings) {
    // About what an entry takes, so that a long map is not copied as it grows.
    constexpr qsizetype kEntryEstimate = 96;
    entries_.clear();
    entries_.reserve(settings.size());
    text_.clear();
    text_.reserve(static_cast<qsizetype>(settings.size()) * kEntryEstimate + 2);
    text_.append('{');
    for (const auto& [key, setting] : settings) {
        if (!entries_.empty()) {
            text_.append(',');
        }
        const qsizetype start = text_.size();
        SettingsCodec::appendEntry(text_, key, setting);
        entries_.push_back({key, start, text_.size() - start});
    }
    text_.append('}');
}

void EncodedSettings::update(const std::map<QString, AppSetting>& settings,
                             const std::set<QString>& keys) {
    for (const QString& key : keys) {
        const auto at = std::ranges::lower_bound(entries_, key, {}, &Entry::key);
        const auto index = static_cast<std::size_t>(at - entries_.begin());
        const bool stored = at != entries_.end() && at->key == key;
        const auto setting = settings.find(key);
        QByteArray encoded;
        if (setting != settings.end()) {
            SettingsCodec::appendEntry(encoded, key, setting->second);
        }
        if (stored && setting != settings.end()) {
            text_.replace(at->start, at->size, encoded);
            const qsizetype by = encoded.size() - at->size;
            at->size = encoded.size();
            shiftEntriesAfter(index, by);
        } else if (stored) {
            // The entry goes with the comma before it, or after it for the first.
            const qsizetype size = at->size + (entries_.size() > 1 ? 1 : 0);
            text_.remove(index == 0 ? at->start : at->start - 1, size);
            entries_.erase(at);
            if (index > 0) {
                shiftEntriesAfter(index - 1, -size);
            } else {
                for (Entry& entry : entries_) {
                    entry.start -= size;
                }
            }
        } else if (setting != settings.end()) {
            Entry entry{key, 0, encoded.size()};
            if (at != entries_.end()) {
                entry.start = at->start;
                encoded.append(',');
            } else {
                // Before the closing brace, after a comma if there are entries.
                entry.start = text_.size() - 1;
                if (!entries_.empty()) {
                    encoded.prepend(',');
                    ++entry.start;
                }
            }
            text_.insert(entries_.empty() || at != entries_.end() ? entry.start : text_.size() - 1,
                         encoded);
            const auto inserted = entries_.insert(at, std::move(entry));
            shiftEntriesAfter(static_cast<std::size_t>(inserted - entries_.begin()),
                              encoded.size());
        }
    }
}

void EncodedSettings::shiftEntriesAfter(std::size_t index, qsizetype by) {
    for (auto entry = entries_.begin() + static_cast<std::ptrdiff_t>(index) + 1;
         entry != entries_.end(); ++entry) {
        entry->start += by;
    }
}

} // namespace corvalle
