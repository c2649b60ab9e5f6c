#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <optional>

namespace corvalle::ui {

// The symbols the interface draws, named after the symbols they stand for. All
// of them are drawings Corvalle ships, so that they look alike whatever the
// icon theme.
enum class Symbol {
    sliderVertical3,
    appDashed,
    speakerSlashFill,
    speakerFill,
    speakerWave1Fill,
    speakerWave2Fill,
    speakerWave3Fill,
    arrowCounterclockwise,
    hifispeaker,
    headphones,
    display,
    bluetooth,
    usb,
    checkmark,
    arrowDownRight, // a row lowered while a call plays
    phoneFill,      // a row whose call lowers the others
};

// The symbol's own name, e.g. "speaker.slash.fill". Widgets carry it in the
// dynamic property kSymbolProperty so that tests and tools can tell which one
// is shown.
QString symbolName(Symbol symbol);
inline constexpr const char* kSymbolProperty = "corvalleSymbol";

// The bundled drawing of the symbol in `colour`, at any size. Its disabled mode
// is the same drawing, faded.
QIcon symbolIcon(Symbol symbol, const QColor& colour);

// The speaker on the mute button: slashed when muted, without waves at 0 %, one
// wave up to 50 %, two up to 100 % and three above.
Symbol muteSymbol(bool muted, int percent);

// The kind of an output device, told from its name as the audio system gives it
// (port and product names such as "HDMI / DisplayPort", "USB Audio",
// "Headphones"): the symbol the output picker shows for it.
Symbol outputSymbol(const QString& deviceName);

// An application's icon: an absolute file path or an icon name. A name is looked
// up in the icon theme, then in the hicolor theme and the pixmaps folders of the
// XDG data directories, also with a file extension that desktop entries
// sometimes carry. A null icon when none is found.
QIcon applicationIcon(const std::optional<QString>& icon);

// The program's own icon: the installed one from the theme, else the copy built in.
QIcon programIcon();

} // namespace corvalle::ui
