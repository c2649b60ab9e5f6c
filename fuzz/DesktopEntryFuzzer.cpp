// Desktop entries as any package or user may have written them.
#include "DesktopEntry.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray contents(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    static const QStringList localeKeys =
        corvalle::localeKeysFor({QStringLiteral("de_DE.UTF-8@euro"), QStringLiteral("sr@latin")});
    if (const auto entry = corvalle::parseDesktopEntry(contents, localeKeys)) {
        (void)corvalle::splitExec(entry->arguments.join(QLatin1Char(' ')));
    }
    (void)corvalle::splitExec(QString::fromUtf8(contents));
    (void)corvalle::localeKeysFor({QString::fromUtf8(contents.left(64))});
    return 0;
}
