#pragma once

#include <QColor>
#include <QPalette>

namespace corvalle::test {

// A dark palette as desktops' dark themes set it: light text, and placeholder
// text that is the text colour half transparent.
inline QPalette darkPalette() {
    QPalette palette;
    const QColor text(0xFC, 0xFC, 0xFC);
    QColor placeholder = text;
    placeholder.setAlphaF(0.5F);
    palette.setColor(QPalette::Window, QColor(0x20, 0x23, 0x26));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(0x14, 0x16, 0x18));
    palette.setColor(QPalette::AlternateBase, QColor(0x1D, 0x1F, 0x22));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x29, 0x2C, 0x30));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x3D, 0xAE, 0xE9));
    palette.setColor(QPalette::HighlightedText, text);
    palette.setColor(QPalette::PlaceholderText, placeholder);
    palette.setColor(QPalette::Mid, QColor(0x2E, 0x32, 0x36));
    palette.setColor(QPalette::Light, QColor(0x40, 0x44, 0x48));
    palette.setColor(QPalette::Dark, QColor(0x10, 0x10, 0x10));
    palette.setColor(QPalette::Shadow, QColor(0x08, 0x08, 0x08));
    return palette;
}

} // namespace corvalle::test
