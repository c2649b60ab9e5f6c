#include "IniText.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace corvalle::IniText {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The bytes that matter to where an INI line and its key end.
constexpr auto kSpecial = [] {
    std::array<bool, 256> special{};
    for (const char c : {'\n', '\r', ';', '=', '"', '\\'}) {
        special[static_cast<unsigned char>(c)] = true;
    }
    return special;
}();

// How byteArrayValue writes each byte: as it is, after a backslash, or as "\\xHH".
enum EscapeKind : std::uint8_t { kPlain, kQuoted, kHexEscape };
constexpr auto kEscapeKinds = [] {
    std::array<EscapeKind, 256> kinds{};
    for (std::size_t byte = 0; byte < kinds.size(); ++byte) {
        kinds[byte] = byte < 0x20 || byte >= 0x7F ? kHexEscape : kPlain;
    }
    kinds['"'] = kQuoted;
    kinds['\\'] = kQuoted;
    return kinds;
}();

// One logical line as QSettings splits the file: a quoted value and a
// backslash carry it over a line break; a ';' at its start makes it a comment.
struct Line {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1; // the first '=' outside quotes, or -1
};

std::vector<Line> logicalLines(QByteArrayView file) {
    std::vector<Line> lines;
    const qsizetype size = file.size();
    qsizetype i = file.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (true) {
        while (i < size && isSpace(file[i])) {
            ++i;
        }
        if (i >= size) {
            return lines;
        }
        Line line{i, i, -1};
        if (file[i] == ';') {
            while (i < size && file[i] != '\n' && file[i] != '\r') {
                ++i;
            }
            continue;
        }
        bool inQuotes = false;
        while (i < size) {
            // Most bytes mean nothing to the line structure; pass over them quickly.
            while (i < size && !kSpecial[static_cast<unsigned char>(file[i])]) {
                ++i;
            }
            if (i >= size) {
                break;
            }
            const char c = file[i];
            if ((c == '\n' || c == '\r' || c == ';') && !inQuotes) {
                break;
            }
            ++i;
            if (c == '=' && !inQuotes && line.equals < 0) {
                line.equals = i - 1;
            } else if (c == '"') {
                inQuotes = !inQuotes;
            } else if (c == '\\' && i < size) {
                const char escaped = file[i++];
                if (i < size && ((escaped == '\n' && file[i] == '\r') ||
                                 (escaped == '\r' && file[i] == '\n'))) {
                    ++i;
                }
            }
        }
        line.end = i;
        lines.push_back(line);
        if (i < size && file[i] == ';') {
            // A comment after a value runs to the end of the line.
            while (i < size && file[i] != '\n' && file[i] != '\r') {
                ++i;
            }
        }
    }
}

bool isGeneralHeader(QByteArrayView line) {
    const qsizetype close = line.indexOf(']');
    const QByteArrayView name = line.sliced(1, (close < 0 ? line.size() : close) - 1).trimmed();
    return name.compare("general", Qt::CaseInsensitive) == 0;
}

// Calls `visit(line)` for every entry of the general section whose key is `key`.
template <typename Visit>
void findEntries(QByteArrayView file, const std::vector<Line>& lines, QByteArrayView key,
                 Visit visit) {
    bool general = true;
    for (const Line& line : lines) {
        const QByteArrayView text = file.sliced(line.start, line.end - line.start);
        if (text.startsWith('[')) {
            general = isGeneralHeader(text);
        } else if (general && line.equals > 0 &&
                   file.sliced(line.start, line.equals - line.start).trimmed() == key) {
            visit(line);
        }
    }
}

// Where a new general entry goes: after a leading "[General]" line and its line
// break, or else at the very start, before anything that could run on into it
// (an open quote).
qsizetype insertionPoint(QByteArrayView file, const std::vector<Line>& lines) {
    const qsizetype bom = file.startsWith("\xef\xbb\xbf") ? 3 : 0;
    if (lines.empty()) {
        return bom;
    }
    const Line& first = lines.front();
    if (file.sliced(first.start, first.end - first.start)
            .trimmed()
            .compare("[general]", Qt::CaseInsensitive) != 0) {
        return bom;
    }
    if (file.sliced(first.end).startsWith("\r\n")) {
        return first.end + 2;
    }
    // Anything else after the header (a comment) and the entry goes first.
    return file.sliced(first.end).startsWith('\n') || file.sliced(first.end).startsWith('\r')
               ? first.end + 1
               : bom;
}

} // namespace

QByteArray byteArrayValue(QByteArrayView bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr QByteArrayView kPrefix = "\"@ByteArray(";
    static constexpr QByteArrayView kSuffix = ")\"";
    // The value may be megabytes long: size the text first, then write it once,
    // passing over the bytes that need no escape (most of them) in tight loops.
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    // Where the hex escapes that begin at `at` end: a hex escape takes every hex
    // digit that follows it, so those are escaped too.
    const auto hexRunEnd = [end](const char* at) {
        ++at;
        while (at != end &&
               (kEscapeKinds[static_cast<unsigned char>(*at)] == kHexEscape || isHexDigit(*at))) {
            ++at;
        }
        return at;
    };
    // Quotes and backslashes, which JSON has every few bytes, are counted in one
    // loop the compiler vectorises; hex escapes are rare and counted one by one.
    qsizetype quoted = 0;
    bool anyHex = false;
    // In blocks whose counts fit a byte, so that the loop stays in byte lanes.
    constexpr qsizetype kBlock = 255;
    for (qsizetype from = 0; from < bytes.size(); from += kBlock) {
        const qsizetype to = std::min(bytes.size(), from + kBlock);
        std::uint8_t blockQuoted = 0;
        std::uint8_t blockHex = 0;
        for (qsizetype i = from; i < to; ++i) {
            const auto byte = static_cast<std::uint8_t>(begin[i]);
            blockQuoted += static_cast<std::uint8_t>((byte == '"') | (byte == '\\'));
            // Below 0x20 or from 0x7F on: the subtraction wraps the first.
            blockHex |= static_cast<std::uint8_t>(static_cast<std::uint8_t>(byte - 0x20) >= 0x5F);
        }
        quoted += blockQuoted;
        anyHex = anyHex || blockHex != 0;
    }
    qsizetype size = kPrefix.size() + bytes.size() + kSuffix.size() + quoted;
    for (const char* at = begin; anyHex && at != end;) {
        if (kEscapeKinds[static_cast<unsigned char>(*at)] == kHexEscape) {
            const char* const runEnd = hexRunEnd(at);
            size += 3 * (runEnd - at);
            at = runEnd;
        } else {
            ++at;
        }
    }
    QByteArray out(size, Qt::Uninitialized);
    char* to = std::copy(kPrefix.begin(), kPrefix.end(), out.data());
    for (const char* at = begin; at != end;) {
        const EscapeKind kind = kEscapeKinds[static_cast<unsigned char>(*at)];
        if (kind == kHexEscape) [[unlikely]] {
            for (const char* const runEnd = hexRunEnd(at); at != runEnd; ++at) {
                const auto byte = static_cast<unsigned char>(*at);
                *to++ = '\\';
                *to++ = 'x';
                *to++ = kHex[byte >> 4];
                *to++ = kHex[byte & 0xF];
            }
            continue;
        }
        // Without a branch for the quotes; the second byte of the last one lands
        // where the suffix goes.
        const bool isQuoted = kind == kQuoted;
        to[0] = isQuoted ? '\\' : *at;
        to[1] = *at;
        to += isQuoted ? 2 : 1;
        ++at;
    }
    std::copy(kSuffix.begin(), kSuffix.end(), to);
    return out;
}

std::optional<QByteArray> rawValue(QByteArrayView file, QByteArrayView key) {
    std::optional<QByteArray> found;
    findEntries(file, logicalLines(file), key, [&](const Line& line) {
        // QSettings lets the last of several entries with one key stand.
        found = file.sliced(line.equals + 1, line.end - line.equals - 1).toByteArray();
    });
    return found;
}

std::optional<Span> valueSpan(QByteArrayView file, QByteArrayView key) {
    std::optional<Span> found;
    int entries = 0;
    findEntries(file, logicalLines(file), key, [&](const Line& line) {
        ++entries;
        found = Span{line.equals + 1, line.end};
    });
    return entries == 1 ? found : std::nullopt;
}

QByteArray withValue(QByteArrayView file, QByteArrayView key, QByteArrayView value) {
    const qsizetype entrySize = key.size() + 1 + value.size();
    // The value may be megabytes long; it is copied once, into the new text.
    const auto appendEntry = [&](QByteArray& out) {
        out.append(key);
        out.append('=');
        out.append(value);
    };

    const std::vector<Line> lines = logicalLines(file);
    std::vector<Line> matches;
    findEntries(file, lines, key, [&](const Line& line) { matches.push_back(line); });

    QByteArray out;
    out.reserve(file.size() + entrySize * std::max<qsizetype>(1, std::ssize(matches)) + 16);
    if (!matches.empty()) {
        qsizetype copied = 0;
        for (const Line& line : matches) {
            out.append(file.sliced(copied, line.start - copied));
            appendEntry(out);
            copied = line.end;
        }
        out.append(file.sliced(copied));
        return out;
    }
    if (file.trimmed().isEmpty()) {
        out.append("[General]\n");
        appendEntry(out);
        out.append('\n');
        return out;
    }
    const qsizetype at = insertionPoint(file, lines);
    out.append(file.first(at));
    appendEntry(out);
    out.append('\n');
    out.append(file.sliced(at));
    return out;
}

} // namespace corvalle::IniText
