#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// The text of the INI files QSettings reads, edited in place: one entry is
// replaced and every other byte (comments, other keys, their layout) stays.
namespace corvalle::IniText {

// `bytes` as a value that QSettings reads back as exactly those bytes:
// "@ByteArray(...)" in quotes, with escapes for quotes, backslashes and bytes
// outside printable ASCII.
QByteArray byteArrayValue(QByteArrayView bytes);

// The text after "key=" of the entry `key` in the general section, as written.
std::optional<QByteArray> rawValue(QByteArrayView file, QByteArrayView key);

// `file` with the general-section entry `key` set to `value` (INI value text,
// as byteArrayValue gives). `key` must be plain: letters, digits, '.', '_', '-'.
QByteArray withValue(QByteArrayView file, QByteArrayView key, QByteArrayView value);

// Where the value of `key` lies in `file` (after its "key="), when the general
// section has exactly one entry `key`; otherwise nothing.
struct Span {
    qsizetype start = 0;
    qsizetype end = 0;
};
std::optional<Span> valueSpan(QByteArrayView file, QByteArrayView key);

} // namespace corvalle::IniText
