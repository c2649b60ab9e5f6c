#include "SettingsCodec.h"

#include "JsonReader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace corvalle::SettingsCodec {

namespace {

const QString kVolume = QStringLiteral("volume");
const QString kMuted = QStringLiteral("muted");
const QString kName = QStringLiteral("name");
const QString kOutput = QStringLiteral("output");
const QString kLowersOthers = QStringLiteral("lowersOthers");
const QString kLevelPerOutput = QStringLiteral("levelPerOutput");
const QString kLevelOutput = QStringLiteral("levelOutput");
const QString kOutputLevels = QStringLiteral("outputLevels");

// A string member that may also be null (read as nothing); false when the member
// comes twice or is of another type.
bool readOptionalString(JsonReader& reader, bool& seen, std::optional<QString>& out) {
    if (seen) {
        return false;
    }
    seen = true;
    QString value;
    if (reader.readString(value)) {
        out = std::move(value);
        return true;
    }
    return reader.takeNull();
}

void appendEscape(QByteArray& out, char16_t unit) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::array<char, 6> escape{'\\',
                                     'u',
                                     kHex[(unit >> 12) & 0xF],
                                     kHex[(unit >> 8) & 0xF],
                                     kHex[(unit >> 4) & 0xF],
                                     kHex[unit & 0xF]};
    out.append(escape.data(), escape.size());
}

// A JSON string that reads back to exactly `text`: a lone surrogate, which has no
// UTF-8 form, is written as an escape.
void appendString(QByteArray& out, const QString& text) {
    // Printable ASCII without quote or backslash, nearly every key and name, is
    // written as it is, without a conversion.
    const bool plainASCII = std::ranges::all_of(text, [](QChar c) {
        const char16_t unit = c.unicode();
        return unit >= 0x20 && unit < 0x80 && unit != '"' && unit != '\\';
    });
    if (plainASCII) {
        const qsizetype at = out.size();
        out.resize(at + text.size() + 2);
        char* to = out.data() + at;
        *to++ = '"';
        for (const QChar c : text) {
            *to++ = static_cast<char>(c.unicode());
        }
        *to = '"';
        return;
    }
    out.append('"');
    qsizetype run = 0;
    const auto flush = [&](qsizetype end) {
        if (end > run) {
            out.append(QStringView(text).sliced(run, end - run).toUtf8());
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const bool pairStart = QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                               QChar::isLowSurrogate(text[i + 1].unicode());
        if (pairStart) {
            ++i;
            continue;
        }
        const bool plain = unit >= 0x20 && unit != '"' && unit != '\\' && !QChar::isSurrogate(unit);
        if (plain) {
            continue;
        }
        flush(i);
        run = i + 1;
        switch (unit) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            appendEscape(out, unit);
            break;
        }
    }
    flush(text.size());
    out.append('"');
}

// JSON has no NaN or infinity; such a volume would make the whole stored value
// unreadable. Write the level a tap would actually play instead. Finite numbers
// are written in their shortest form that reads back to the same double.
void appendVolume(QByteArray& out, double stored) {
    const double volume = std::isfinite(stored) ? stored : Volume::clamped(stored);
    std::array<char, 32> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), volume);
    out.append(digits.data(), result.ptr - digits.data());
}

// Reads the value of `member` when it is "volume" or "muted", each at most once;
// false on anything wrong there. `known` tells whether it was one of the two.
bool readLevelMember(JsonReader& reader, const QString& member, std::optional<double>& volume,
                     std::optional<bool>& muted, bool& known) {
    known = member == kVolume || member == kMuted;
    if (member == kVolume) {
        double value = 0.0;
        if (volume || !reader.readNumber(value)) {
            return false;
        }
        volume = value;
    } else if (member == kMuted) {
        bool value = false;
        if (muted || !reader.readBool(value)) {
            return false;
        }
        muted = value;
    }
    return true;
}

// The levels of the other outputs, {"UID":{"volume":1,"muted":false},...}. Both
// members are required and nothing else is taken, as in the entry itself.
bool readOutputLevels(JsonReader& reader, std::map<QString, OutputLevel>& levels) {
    if (!reader.take('{')) {
        return false;
    }
    if (reader.take('}')) {
        return true;
    }
    QString uid;
    QString member;
    do {
        if (!reader.readString(uid) || !reader.take(':') || !reader.take('{')) {
            return false;
        }
        std::optional<double> volume;
        std::optional<bool> muted;
        do {
            bool known = false;
            if (!reader.readString(member) || !reader.take(':') ||
                !readLevelMember(reader, member, volume, muted, known) || !known) {
                return false;
            }
        } while (reader.take(','));
        if (!reader.take('}') || !volume || !muted ||
            !levels.try_emplace(uid, OutputLevel{*volume, *muted}).second) {
            return false;
        }
    } while (reader.take(','));
    return reader.take('}');
}

// One entry's object; its members are read in any order.
std::optional<AppSetting> readEntry(JsonReader& reader) {
    if (!reader.take('{')) {
        return std::nullopt;
    }
    std::optional<double> volume;
    std::optional<bool> muted;
    std::optional<QString> name;
    bool nameSeen = false;
    std::optional<QString> output;
    bool outputSeen = false;
    std::optional<bool> lowersOthers;
    std::optional<bool> levelPerOutput;
    std::optional<QString> levelOutput;
    bool levelOutputSeen = false;
    std::optional<std::map<QString, OutputLevel>> outputLevels;
    QByteArray otherMembers;
    if (!reader.take('}')) {
        QString member;
        do {
            const qsizetype memberStart = reader.position();
            if (!reader.readString(member) || !reader.take(':')) {
                return std::nullopt;
            }
            bool known = false;
            if (!readLevelMember(reader, member, volume, muted, known)) {
                return std::nullopt;
            }
            if (known) {
                continue;
            }
            if (member == kLowersOthers || member == kLevelPerOutput) {
                std::optional<bool>& flag = member == kLowersOthers ? lowersOthers : levelPerOutput;
                bool value = false;
                if (flag || !reader.readBool(value)) {
                    return std::nullopt;
                }
                flag = value;
            } else if (member == kLevelOutput) {
                if (!readOptionalString(reader, levelOutputSeen, levelOutput)) {
                    return std::nullopt;
                }
            } else if (member == kOutputLevels) {
                if (outputLevels || !readOutputLevels(reader, outputLevels.emplace())) {
                    return std::nullopt;
                }
            } else if (member == kName || member == kOutput) {
                const bool isName = member == kName;
                if (!readOptionalString(reader, isName ? nameSeen : outputSeen,
                                        isName ? name : output)) {
                    return std::nullopt;
                }
            } else {
                QByteArrayView raw;
                if (!reader.skipValue(raw)) {
                    return std::nullopt;
                }
                const QByteArrayView text = reader.text();
                // From the member's first byte (after whitespace) to its value's last.
                qsizetype start = memberStart;
                while (text[start] != '"') {
                    ++start;
                }
                if (!otherMembers.isEmpty()) {
                    otherMembers.append(',');
                }
                otherMembers.append(text.sliced(start, reader.position() - start));
            }
        } while (reader.take(','));
        if (!reader.take('}')) {
            return std::nullopt;
        }
    }
    if (!volume || !muted) {
        return std::nullopt;
    }
    AppSetting setting{*volume,           *muted,
                       std::move(name),   std::move(otherMembers),
                       std::move(output), lowersOthers.value_or(false)};
    // The other outputs' levels mean nothing once opted out, and are not kept.
    setting.levelPerOutput = levelPerOutput.value_or(false);
    if (setting.levelPerOutput) {
        setting.levelOutput = std::move(levelOutput);
        setting.outputLevels = std::move(outputLevels).value_or(std::map<QString, OutputLevel>{});
        if (setting.levelOutput) {
            setting.outputLevels.erase(*setting.levelOutput);
        }
    }
    return setting;
}

} // namespace

void appendEntry(QByteArray& out, const QString& key, const AppSetting& setting) {
    appendString(out, key);
    out.append(":{\"volume\":");
    appendVolume(out, setting.volume);
    out.append(setting.muted ? ",\"muted\":true" : ",\"muted\":false");
    if (setting.name) {
        out.append(",\"name\":");
        appendString(out, *setting.name);
    }
    if (setting.output) {
        out.append(",\"output\":");
        appendString(out, *setting.output);
    }
    // Written only when set, so that the entries of everyone else read as before.
    if (setting.lowersOthers) {
        out.append(",\"lowersOthers\":true");
    }
    if (setting.levelPerOutput) {
        out.append(",\"levelPerOutput\":true");
        if (setting.levelOutput) {
            out.append(",\"levelOutput\":");
            appendString(out, *setting.levelOutput);
        }
        out.append(",\"outputLevels\":{");
        bool first = true;
        for (const auto& [uid, level] : setting.outputLevels) {
            if (!first) {
                out.append(',');
            }
            first = false;
            appendString(out, uid);
            out.append(":{\"volume\":");
            appendVolume(out, level.volume);
            out.append(level.muted ? ",\"muted\":true}" : ",\"muted\":false}");
        }
        out.append('}');
    }
    if (!setting.otherMembers.isEmpty()) {
        out.append(',');
        out.append(setting.otherMembers);
    }
    out.append('}');
}

QByteArray encode(const std::map<QString, AppSetting>& settings) {
    QByteArray out;
    // About what an entry takes, so that a long map is not copied as it grows.
    constexpr qsizetype kEntryEstimate = 96;
    out.reserve(static_cast<qsizetype>(settings.size()) * kEntryEstimate + 2);
    out.append('{');
    for (const auto& [key, setting] : settings) {
        if (out.size() > 1) {
            out.append(',');
        }
        appendEntry(out, key, setting);
    }
    out.append('}');
    return out;
}

std::optional<std::map<QString, AppSetting>> decode(const QByteArray& bytes) {
    if (!isValidUtf8(bytes)) {
        return std::nullopt;
    }
    JsonReader reader(bytes);
    if (!reader.take('{')) {
        return std::nullopt;
    }
    std::map<QString, AppSetting> settings;
    if (!reader.take('}')) {
        QString key;
        do {
            if (!reader.readString(key) || !reader.take(':')) {
                return std::nullopt;
            }
            auto setting = readEntry(reader);
            if (!setting || !settings.try_emplace(key, std::move(*setting)).second) {
                return std::nullopt;
            }
        } while (reader.take(','));
        if (!reader.take('}')) {
            return std::nullopt;
        }
    }
    if (!reader.atEnd()) {
        return std::nullopt;
    }
    return settings;
}

} // namespace corvalle::SettingsCodec
