#include "VolumeText.h"

#include <QRegularExpression>
#include <cmath>

namespace corvalle {

std::optional<VolumeText> parseVolumeText(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^([+-]?)([0-9]+(?:\.[0-9]*)?|\.[0-9]+)(%|x|X)?$)"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const double number = match.captured(2).toDouble(&ok);
    if (!ok || !std::isfinite(number)) {
        return std::nullopt;
    }
    const bool factor = match.captured(3).compare(QLatin1String("x"), Qt::CaseInsensitive) == 0;
    VolumeText result;
    result.volume = factor ? number : number / 100.0;
    result.relative = !match.captured(1).isEmpty();
    if (match.captured(1) == QLatin1String("-")) {
        result.volume = -result.volume;
    }
    return result;
}

QString formatPercent(double volume) {
    if (!std::isfinite(volume)) {
        return QStringLiteral("?");
    }
    const double percent = volume * 100.0;
    const double whole = std::round(percent);
    if (std::fabs(percent - whole) < 0.05) {
        return QString::number(whole, 'f', 0) + QLatin1Char('%');
    }
    return QString::number(percent, 'f', 1) + QLatin1Char('%');
}

} // namespace corvalle
