#pragma once

#include <QString>
#include <optional>

namespace corvalle {

// A volume written on the command line: "150%", "150" (percent as well), "1.5x"
// (a factor); with a leading "+" or "-" it is a change of the current volume.
struct VolumeText {
    double volume = 0.0; // as a factor: 1.0 is 100 %
    bool relative = false;
};

// Nothing for anything else: empty text, other characters, more than one sign,
// exponents, "nan", "inf", or a number too large to be a double.
std::optional<VolumeText> parseVolumeText(const QString& text);

// A factor as percent for people: "150%", "33.3%"; "?" when not a number.
QString formatPercent(double volume);

} // namespace corvalle
