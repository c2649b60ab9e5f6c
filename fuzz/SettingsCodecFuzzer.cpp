// Stored settings as anyone may have written them. Whatever decodes must encode
// to text that decodes to the same map, so a save never changes what was read.
#include "SettingsCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto decoded = corvalle::SettingsCodec::decode(bytes);
    if (!decoded) {
        return 0;
    }
    const QByteArray encoded = corvalle::SettingsCodec::encode(*decoded);
    const auto again = corvalle::SettingsCodec::decode(encoded);
    if (!again || *again != *decoded || corvalle::SettingsCodec::encode(*again) != encoded) {
        std::abort();
    }
    return 0;
}
