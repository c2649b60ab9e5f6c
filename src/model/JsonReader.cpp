#include "JsonReader.h"

#include <charconv>
#include <system_error>

namespace corvalle {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

bool isValidUtf8(QByteArrayView bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
            high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF; // nothing beyond U+10FFFF
        } else {
            return false;
        }
        if (size - i < length || data[i + 1] < low || data[i + 1] > high) {
            return false;
        }
        for (int k = 2; k < length; ++k) {
            if (data[i + k] < 0x80 || data[i + k] > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

void JsonReader::skipWhitespace() {
    while (position_ < text_.size()) {
        const char c = text_[position_];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            return;
        }
        ++position_;
    }
}

bool JsonReader::take(char token) {
    skipWhitespace();
    if (position_ < text_.size() && text_[position_] == token) {
        ++position_;
        return true;
    }
    return false;
}

bool JsonReader::atEnd() {
    skipWhitespace();
    return position_ == text_.size();
}

bool JsonReader::readString(QString& value) {
    skipWhitespace();
    const qsizetype start = position_;
    if (!skipString()) {
        return false;
    }
    // The text between the quotes has been checked; only escapes need work.
    const QByteArrayView body = text_.sliced(start + 1, position_ - start - 2);
    value.clear();
    qsizetype run = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != '\\') {
            continue;
        }
        value += QString::fromUtf8(body.sliced(run, i - run));
        const char escape = body[++i];
        switch (escape) {
        case 'b':
            value += QLatin1Char('\b');
            break;
        case 'f':
            value += QLatin1Char('\f');
            break;
        case 'n':
            value += QLatin1Char('\n');
            break;
        case 'r':
            value += QLatin1Char('\r');
            break;
        case 't':
            value += QLatin1Char('\t');
            break;
        case 'u': {
            char16_t unit = 0;
            for (int k = 1; k <= 4; ++k) {
                unit = static_cast<char16_t>(unit * 16 + hexValue(body[i + k]));
            }
            // A lone surrogate is kept as it is, so that the text reads back the same.
            value += QChar(unit);
            i += 4;
            break;
        }
        default: // '"', '\\' and '/' stand for themselves
            value += QLatin1Char(escape);
            break;
        }
        run = i + 1;
    }
    value += QString::fromUtf8(body.sliced(run));
    return true;
}

bool JsonReader::readNumber(double& value) {
    skipWhitespace();
    const qsizetype start = position_;
    if (!skipNumber()) {
        return false;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + position_;
    const auto [end, error] = std::from_chars(first, last, value);
    // Out of range (1e400) is refused rather than read as infinity or zero.
    return error == std::errc() && end == last;
}

bool JsonReader::readBool(bool& value) {
    skipWhitespace();
    if (skipLiteral("true")) {
        value = true;
        return true;
    }
    if (skipLiteral("false")) {
        value = false;
        return true;
    }
    return false;
}

bool JsonReader::takeNull() {
    skipWhitespace();
    return skipLiteral("null");
}

bool JsonReader::skipValue(QByteArrayView& raw) {
    skipWhitespace();
    const qsizetype start = position_;
    if (!skipValue(0)) {
        return false;
    }
    raw = text_.sliced(start, position_ - start);
    return true;
}

bool JsonReader::skipValue(int depth) {
    skipWhitespace();
    if (position_ >= text_.size()) {
        return false;
    }
    switch (text_[position_]) {
    case '{':
        return skipContainer('}', true, depth + 1);
    case '[':
        return skipContainer(']', false, depth + 1);
    case '"':
        return skipString();
    case 't':
        return skipLiteral("true");
    case 'f':
        return skipLiteral("false");
    case 'n':
        return skipLiteral("null");
    default:
        return skipNumber();
    }
}

bool JsonReader::skipContainer(char close, bool members, int depth) {
    if (depth > kMaxDepth) {
        return false;
    }
    ++position_; // the opening bracket
    if (take(close)) {
        return true;
    }
    do {
        if (members) {
            skipWhitespace();
            if (!skipString() || !take(':')) {
                return false;
            }
        }
        if (!skipValue(depth)) {
            return false;
        }
    } while (take(','));
    return take(close);
}

bool JsonReader::skipString() {
    if (position_ >= text_.size() || text_[position_] != '"') {
        return false;
    }
    qsizetype i = position_ + 1;
    while (i < text_.size()) {
        const auto c = static_cast<unsigned char>(text_[i]);
        if (c == '"') {
            position_ = i + 1;
            return true;
        }
        if (c < 0x20) {
            return false;
        }
        if (c != '\\') {
            ++i;
            continue;
        }
        if (i + 1 >= text_.size()) {
            return false;
        }
        const char escape = text_[i + 1];
        if (escape == 'u') {
            if (text_.size() - i < 6) {
                return false;
            }
            for (int k = 2; k < 6; ++k) {
                if (hexValue(text_[i + k]) < 0) {
                    return false;
                }
            }
            i += 6;
            continue;
        }
        if (QByteArrayView("\"\\/bfnrt").indexOf(escape) < 0) {
            return false;
        }
        i += 2;
    }
    return false;
}

bool JsonReader::skipNumber() {
    qsizetype i = position_;
    const auto digitsFrom = [&](qsizetype from) {
        qsizetype end = from;
        while (end < text_.size() && isDigit(text_[end])) {
            ++end;
        }
        return end;
    };
    if (i < text_.size() && text_[i] == '-') {
        ++i;
    }
    if (i >= text_.size() || !isDigit(text_[i])) {
        return false;
    }
    i = text_[i] == '0' ? i + 1 : digitsFrom(i);
    if (i < text_.size() && text_[i] == '.') {
        const qsizetype end = digitsFrom(i + 1);
        if (end == i + 1) {
            return false;
        }
        i = end;
    }
    if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
        ++i;
        if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) {
            ++i;
        }
        const qsizetype end = digitsFrom(i);
        if (end == i) {
            return false;
        }
        i = end;
    }
    position_ = i;
    return true;
}

bool JsonReader::skipLiteral(QByteArrayView literal) {
    if (!text_.sliced(position_).startsWith(literal)) {
        return false;
    }
    position_ += literal.size();
    return true;
}

} // namespace corvalle
