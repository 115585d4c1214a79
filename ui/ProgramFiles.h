// Where the program's data files (help, dictionary, language list) are: beside the program in the build
// tree, or under share/imbrex-file-editor of the installation prefix once installed.
#pragma once

#include <QtCore/QString>

namespace imbrex::ui {

// The folder that holds translat.txt for a program in programDir: programDir itself when the file lies
// there, else ../share/imbrex-file-editor when that holds it, else programDir (whose missing files are then
// reported by what needs them).
QString dataDirectory(const QString &programDir);

} // namespace imbrex::ui
