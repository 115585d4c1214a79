// The pictures of the main window's toolbar buttons and logo, drawn by the program on a silver (buttons) or
// teal (logo) background that the controls leave out.
#pragma once

#include <QtGui/QPixmap>

namespace imbrex::ui {

enum class Glyph
{
    NewImage,
    OpenImage,
    Copy,
    Delete,
    FileRestore,
};

inline const QColor kGlyphBackground(192, 192, 192);
inline const QColor kLogoBackground(0, 128, 128);

QPixmap glyphPixmap(Glyph glyph);
QPixmap logoPixmap();

} // namespace imbrex::ui
