// The pictures of the main window's toolbar buttons and logo, drawn by the program on a silver (buttons) or
// teal (logo) background that the controls leave out.
#pragma once

#include <QtGui/QIcon>
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
// The program's window and taskbar icon, drawn at every size a desktop asks for; the same tiles as
// desktop/imbrex-file-editor.svg, which the desktop's menus use.
QIcon programIcon();

} // namespace imbrex::ui
