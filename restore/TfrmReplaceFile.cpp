#include "TfrmReplaceFile.h"

namespace imbrex::ui {

TfrmReplaceFile::TfrmReplaceFile(QWidget *owner, const QString &message, bool offerAll)
    : RestoreQuestionDialog(owner, "TfrmReplaceFile", "Replace File", "Do you want to replace it?",
                            "&Replace All", message, offerAll)
{
}

} // namespace imbrex::ui
