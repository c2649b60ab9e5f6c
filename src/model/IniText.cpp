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
    enum Kind : std::uint8_t { plain, quoted, hex };
    // The value may be megabytes long: size the text first, then write it once.
    const auto kindOf = [](char c, bool afterHexEscape) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            return quoted;
        }
        // A hex escape takes every hex digit that follows it; so escape those too.
        return byte < 0x20 || byte >= 0x7F || (afterHexEscape && isHexDigit(c)) ? hex : plain;
    };
    qsizetype size = kPrefix.size() + bytes.size() + kSuffix.size();
    bool afterHexEscape = false;
    for (const char c : bytes) {
        const Kind kind = kindOf(c, afterHexEscape);
        size += kind == quoted ? 1 : (kind == hex ? 3 : 0);
        afterHexEscape = kind == hex;
    }
    QByteArray out(size, Qt::Uninitialized);
    char* to = std::copy(kPrefix.begin(), kPrefix.end(), out.data());
    afterHexEscape = false;
    for (const char c : bytes) {
        const Kind kind = kindOf(c, afterHexEscape);
        afterHexEscape = kind == hex;
        if (kind == plain) {
            *to++ = c;
        } else if (kind == quoted) {
            *to++ = '\\';
            *to++ = c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            *to++ = '\\';
            *to++ = 'x';
            *to++ = kHex[byte >> 4];
            *to++ = kHex[byte & 0xF];
        }
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

QByteArray withValue(QByteArrayView file, QByteArrayView key, QByteArrayView value) {
    QByteArray entry = key.toByteArray();
    entry.append('=');
    entry.append(value);

    const std::vector<Line> lines = logicalLines(file);
    std::vector<Line> matches;
    findEntries(file, lines, key, [&](const Line& line) { matches.push_back(line); });

    QByteArray out;
    out.reserve(file.size() + entry.size() + 16);
    if (!matches.empty()) {
        qsizetype copied = 0;
        for (const Line& line : matches) {
            out.append(file.sliced(copied, line.start - copied));
            out.append(entry);
            copied = line.end;
        }
        out.append(file.sliced(copied));
        return out;
    }
    if (file.trimmed().isEmpty()) {
        out.append("[General]\n");
        out.append(entry);
        out.append('\n');
        return out;
    }
    const qsizetype at = insertionPoint(file, lines);
    out.append(file.first(at));
    out.append(entry);
    out.append('\n');
    out.append(file.sliced(at));
    return out;
}

} // namespace corvalle::IniText
