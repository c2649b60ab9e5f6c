#pragma once

#include <QByteArrayView>
#include <QString>

namespace corvalle {

// Reads JSON text (RFC 8259) one piece at a time, straight from the bytes, so
// that a value can be carried along exactly as it was written. Each read skips
// the whitespace before it and returns false on text that is not JSON; after a
// false the reader is left where it stopped and is of no further use.
class JsonReader {
public:
    // Deeper nesting is refused rather than followed: the text may be hostile.
    static constexpr int kMaxDepth = 128;

    explicit JsonReader(QByteArrayView text) : text_(text) {}

    // Takes `token` ('{', '}', ':', ',' ...) when it comes next; false otherwise.
    bool take(char token);
    // Only whitespace is left.
    bool atEnd();

    bool readString(QString& value);
    bool readNumber(double& value);
    bool readBool(bool& value);
    // A null comes next; taken when it does.
    bool takeNull();
    // Checks and passes over one value of any type; `raw` is its exact text.
    bool skipValue(QByteArrayView& raw);

    qsizetype position() const { return position_; }
    QByteArrayView text() const { return text_; }

private:
    void skipWhitespace();
    bool skipValue(int depth);
    bool skipContainer(char close, bool members, int depth);
    bool skipString();
    bool skipNumber();
    bool skipLiteral(QByteArrayView literal);

    QByteArrayView text_;
    qsizetype position_ = 0;
};

// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values
// beyond U+10FFFF).
bool isValidUtf8(QByteArrayView bytes);

} // namespace corvalle
