// A settings file as anyone may have written it, and a value to store in it: the
// edited file must hold that value under its key, found where QSettings finds it.
#include "IniText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // The first line is the value, the rest the file.
    const qsizetype split = input.indexOf('\n');
    const QByteArrayView value = split < 0 ? input : input.first(split);
    const QByteArrayView file = split < 0 ? QByteArrayView() : input.sliced(split + 1);

    const QByteArray text = corvalle::IniText::byteArrayValue(value);
    const QByteArray edited = corvalle::IniText::withValue(file, "appSettings", text);
    if (corvalle::IniText::rawValue(edited, "appSettings") != text) {
        std::abort();
    }
    return 0;
}
