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

// Drawn for a device pixel ratio (0: the application's, 2 on a screen scaled twice), so that they stay sharp;
// their size in the window's units does not change.
QPixmap glyphPixmap(Glyph glyph, qreal ratio = 0);
QPixmap logoPixmap(qreal ratio = 0);
// The program's window and taskbar icon, drawn at every size a desktop asks for; the same tiles as
// desktop/imbrex-file-editor.svg, which the desktop's menus use.
QIcon programIcon();

} // namespace imbrex::ui
