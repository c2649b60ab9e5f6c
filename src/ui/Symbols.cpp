#include "Symbols.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <array>

// The drawings live in a static library; their resource must be registered by
// hand before the first lookup.
static void registerSymbolResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

namespace corvalle::ui {

namespace {

constexpr double kDisabledOpacity = 0.45;

const char* nameOf(Symbol symbol) {
    switch (symbol) {
    case Symbol::sliderVertical3:
        return "slider.vertical.3";
    case Symbol::appDashed:
        return "app.dashed";
    case Symbol::speakerSlashFill:
        return "speaker.slash.fill";
    case Symbol::speakerFill:
        return "speaker.fill";
    case Symbol::speakerWave1Fill:
        return "speaker.wave.1.fill";
    case Symbol::speakerWave2Fill:
        return "speaker.wave.2.fill";
    case Symbol::speakerWave3Fill:
        return "speaker.wave.3.fill";
    case Symbol::arrowCounterclockwise:
        return "arrow.counterclockwise";
    case Symbol::hifispeaker:
        return "hifispeaker";
    case Symbol::headphones:
        return "headphones";
    case Symbol::display:
        return "display";
    case Symbol::bluetooth:
        return "bluetooth";
    case Symbol::usb:
        return "usb";
    case Symbol::checkmark:
        return "checkmark";
    case Symbol::arrowDownRight:
        return "arrow.down.right";
    case Symbol::phoneFill:
        return "phone.fill";
    }
    return "";
}

// Draws a bundled SVG with "currentColor" replaced by one colour, at any size.
class TintedSvgEngine final : public QIconEngine {
public:
    explicit TintedSvgEngine(QByteArray svg) : svg_(std::move(svg)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QSvgRenderer renderer(svg_);
        painter->save();
        if (mode == QIcon::Disabled) {
            painter->setOpacity(painter->opacity() * kDisabledOpacity);
        }
        renderer.render(painter, QRectF(rect));
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return result;
    }

    QIconEngine* clone() const override { return new TintedSvgEngine(svg_); }
    QString key() const override { return QStringLiteral("corvalle-tinted-svg"); }

private:
    QByteArray svg_;
};

// Where icon files live when no theme names them: hicolor, largest first, then
// the old pixmaps folders.
QString findIconFile(const QString& name) {
    static const std::array kSizes{"scalable", "512x512", "256x256", "128x128", "96x96",
                                   "64x64",    "48x48",   "32x32",   "24x24",   "16x16"};
    static const std::array kExtensions{".svg", ".png", ".xpm"};
    QStringList bases = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    bases.prepend(QDir::homePath() + QStringLiteral("/.icons"));
    for (const QString& base : bases) {
        for (const char* size : kSizes) {
            for (const char* extension : kExtensions) {
                QString file = QStringLiteral("%1/icons/hicolor/%2/apps/%3%4")
                                   .arg(base, QLatin1String(size), name, QLatin1String(extension));
                if (QFileInfo::exists(file)) {
                    return file;
                }
            }
        }
    }
    for (const QString& base : bases) {
        for (const char* extension : kExtensions) {
            QString file =
                QStringLiteral("%1/pixmaps/%2%3").arg(base, name, QLatin1String(extension));
            if (QFileInfo::exists(file)) {
                return file;
            }
        }
    }
    return {};
}

} // namespace

QString symbolName(Symbol symbol) {
    return QString::fromLatin1(nameOf(symbol));
}

QIcon symbolIcon(Symbol symbol, const QColor& colour) {
    // Icons are requested on every redraw of a row; the drawings never change.
    static QHash<QString, QIcon> cache;
    const QString cacheKey = symbolName(symbol) + QLatin1Char('/') + colour.name(QColor::HexArgb);
    if (const auto found = cache.constFind(cacheKey); found != cache.constEnd()) {
        return *found;
    }
    registerSymbolResources();
    QFile file(QStringLiteral(":/corvalle/symbols/%1.svg").arg(symbolName(symbol)));
    QByteArray svg;
    if (file.open(QIODevice::ReadOnly)) {
        svg = file.readAll();
    }
    svg.replace("currentColor", colour.name(QColor::HexRgb).toLatin1());
    if (colour.alphaF() < 1.0) {
        svg.replace("<svg ",
                    QStringLiteral("<svg opacity=\"%1\" ").arg(colour.alphaF()).toLatin1());
    }
    QIcon icon(new TintedSvgEngine(svg));
    cache.insert(cacheKey, icon);
    return icon;
}

Symbol muteSymbol(bool muted, int percent) {
    if (muted) {
        return Symbol::speakerSlashFill;
    }
    if (percent <= 0) {
        return Symbol::speakerFill;
    }
    if (percent <= 50) {
        return Symbol::speakerWave1Fill;
    }
    return percent <= 100 ? Symbol::speakerWave2Fill : Symbol::speakerWave3Fill;
}

Symbol outputSymbol(const QString& deviceName) {
    // The first kind that matches wins: "USB Headphones" are headphones, what
    // plays over HDMI is the display.
    static const std::array<std::pair<QRegularExpression, Symbol>, 4> kKinds{{
        {QRegularExpression(QStringLiteral("head(phone|set)|ear(phone|bud)|airpods|\\bbuds\\b"),
                            QRegularExpression::CaseInsensitiveOption),
         Symbol::headphones},
        {QRegularExpression(
             QStringLiteral("hdmi|displayport|display port|\\bdp\\b|monitor|\\btv\\b"),
             QRegularExpression::CaseInsensitiveOption),
         Symbol::display},
        {QRegularExpression(QStringLiteral("bluetooth|bluez|\\ba2dp\\b"),
                            QRegularExpression::CaseInsensitiveOption),
         Symbol::bluetooth},
        {QRegularExpression(QStringLiteral("\\busb\\b"), QRegularExpression::CaseInsensitiveOption),
         Symbol::usb},
    }};
    for (const auto& [pattern, symbol] : kKinds) {
        if (pattern.match(deviceName).hasMatch()) {
            return symbol;
        }
    }
    return Symbol::hifispeaker;
}

QIcon applicationIcon(const std::optional<QString>& icon) {
    if (!icon || icon->isEmpty()) {
        return {};
    }
    if (QFileInfo(*icon).isAbsolute()) {
        return QFileInfo::exists(*icon) ? QIcon(*icon) : QIcon();
    }
    // An icon name is a single file name; anything with a path in it is not one.
    if (icon->contains(QLatin1Char('/'))) {
        return {};
    }
    QString name = *icon;
    static const QRegularExpression kExtension(QStringLiteral("\\.(png|svg|svgz|xpm)$"),
                                               QRegularExpression::CaseInsensitiveOption);
    name.remove(kExtension);
    if (name.isEmpty()) {
        return {};
    }
    if (QIcon::hasThemeIcon(name)) {
        return QIcon::fromTheme(name);
    }
    const QString file = findIconFile(name);
    return file.isEmpty() ? QIcon() : QIcon(file);
}

QIcon programIcon() {
    registerSymbolResources();
    return QIcon::fromTheme(QStringLiteral("org.corvalle.Corvalle"),
                            QIcon(QStringLiteral(":/corvalle/org.corvalle.Corvalle.svg")));
}

} // namespace corvalle::ui
