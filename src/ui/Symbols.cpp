#include "Symbols.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

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

struct SymbolInfo {
    const char* name;
    const char* themeName;
};

SymbolInfo infoOf(Symbol symbol) {
    switch (symbol) {
    case Symbol::sliderVertical3:
        return {"slider.vertical.3", ""};
    case Symbol::appDashed:
        return {"app.dashed", ""};
    case Symbol::waveform:
        return {"waveform", ""};
    case Symbol::speakerSlashFill:
        return {"speaker.slash.fill", "audio-volume-muted"};
    case Symbol::speakerWave2Fill:
        return {"speaker.wave.2.fill", "audio-volume-high"};
    case Symbol::arrowCounterclockwise:
        return {"arrow.counterclockwise", "document-revert"};
    case Symbol::hifispeaker:
        return {"hifispeaker", "audio-speakers"};
    case Symbol::checkmark:
        return {"checkmark", "object-select"};
    case Symbol::menubarArrowUpRectangle:
        return {"menubar.arrow.up.rectangle", ""};
    }
    return {"", ""};
}

// Draws a bundled SVG with "currentColor" replaced by one colour, at any size.
class TintedSvgEngine final : public QIconEngine {
public:
    explicit TintedSvgEngine(QByteArray svg) : svg_(std::move(svg)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QSvgRenderer renderer(svg_);
        if (mode == QIcon::Disabled) {
            painter->save();
            painter->setOpacity(painter->opacity() * 0.35);
            renderer.render(painter, QRectF(rect));
            painter->restore();
        } else {
            renderer.render(painter, QRectF(rect));
        }
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

} // namespace

QString symbolName(Symbol symbol) {
    return QString::fromLatin1(infoOf(symbol).name);
}

QString themeIconName(Symbol symbol) {
    return QString::fromLatin1(infoOf(symbol).themeName);
}

QIcon bundledSymbolIcon(Symbol symbol, const QColor& colour) {
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

QIcon symbolIcon(Symbol symbol, const QColor& colour, bool preferTheme) {
    const QString themeName = themeIconName(symbol);
    if (preferTheme && !themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) {
        return QIcon::fromTheme(themeName);
    }
    return bundledSymbolIcon(symbol, colour);
}

QIcon applicationIcon(const std::optional<QString>& icon) {
    if (!icon || icon->isEmpty()) {
        return {};
    }
    if (QFileInfo(*icon).isAbsolute()) {
        return QFileInfo::exists(*icon) ? QIcon(*icon) : QIcon();
    }
    return QIcon::fromTheme(*icon);
}

QIcon programIcon() {
    registerSymbolResources();
    return QIcon::fromTheme(QStringLiteral("org.corvalle.Corvalle"),
                            QIcon(QStringLiteral(":/corvalle/org.corvalle.Corvalle.svg")));
}

} // namespace corvalle::ui
