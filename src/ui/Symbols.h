#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <optional>

namespace corvalle::ui {

// The symbols the interface draws, named after the symbols they stand for.
enum class Symbol {
    sliderVertical3,
    appDashed,
    waveform,
    speakerSlashFill,
    speakerWave2Fill,
    arrowCounterclockwise,
    hifispeaker,
    checkmark,
    menubarArrowUpRectangle,
};

// The symbol's own name, e.g. "speaker.slash.fill". Widgets carry it in the
// dynamic property kSymbolProperty so that tests and tools can tell which one
// is shown.
QString symbolName(Symbol symbol);
inline constexpr const char* kSymbolProperty = "corvalleSymbol";

// The freedesktop icon name that stands for the symbol, or empty when the
// naming specification has none that means the same.
QString themeIconName(Symbol symbol);

// The symbol from the icon theme when the theme has it, else the bundled
// drawing in `colour`. `preferTheme` false always uses the bundled drawing,
// for symbols whose colour carries meaning.
QIcon symbolIcon(Symbol symbol, const QColor& colour, bool preferTheme = true);
QIcon bundledSymbolIcon(Symbol symbol, const QColor& colour);

// An application's icon: an absolute file path or a theme icon name. A null
// icon when there is none or it cannot be found.
QIcon applicationIcon(const std::optional<QString>& icon);

// The program's own icon: the installed one from the theme, else the copy built in.
QIcon programIcon();

} // namespace corvalle::ui
