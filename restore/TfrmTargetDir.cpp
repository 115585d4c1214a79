#include "TfrmTargetDir.h"

#include <QtWidgets/QFileDialog>

#include "translate/Translate.h"

namespace imbrex::ui {

std::optional<QString> TfrmTargetDir::choose(QWidget *owner, const QString &current) const
{
    if (m_chooser)
        return m_chooser(owner, current);
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, QString::fromStdString(Translate("Target Directory")), current, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

} // namespace imbrex::ui
