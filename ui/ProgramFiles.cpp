#include "ProgramFiles.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

namespace imbrex::ui {

QString dataDirectory(const QString &programDir)
{
    const QString marker = QStringLiteral("translat.txt");
    const QDir beside(programDir);
    if (QFileInfo(beside.filePath(marker)).isFile())
        return beside.path();
    const QDir installed(beside.filePath(QStringLiteral("../share/imbrex-file-editor")));
    if (QFileInfo(installed.filePath(marker)).isFile())
        return QDir::cleanPath(installed.absolutePath());
    return beside.path();
}

} // namespace imbrex::ui
