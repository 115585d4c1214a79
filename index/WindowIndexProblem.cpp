#include "WindowIndexProblem.h"

#include <QtWidgets/QApplication>

#include "common/ResultCodes.h"
#include "ui/DialogSupport.h"
#include "ui/ModalResult.h"

namespace imbrex::ui {

int WindowIndexProblem::ShowIndexProblem(int result, std::string &path)
{
    if (!index::isIndexFileProblem(result))
        return rc::kOk;
    TfrmAssociateIndex dialog(m_owner.data(), m_association, m_createRequest, m_chooseFile);
    dialog.showProblem(result, path);
    centreOver(&dialog, m_centreOn.data());
    // The open runs under the wait cursor; the question takes the ordinary one.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int answer = dialog.exec();
    QApplication::restoreOverrideCursor();
    switch (answer) {
    case mrCancel:
        return rc::kDialogCancelled;
    case mrRetry:
        path = m_association.indexFile();
        return rc::kIndexTryAgain;
    default:
        return rc::kOk;
    }
}

} // namespace imbrex::ui
