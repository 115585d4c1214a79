#include "TfrmCreateDir.h"

namespace imbrex::ui {

TfrmCreateDir::TfrmCreateDir(QWidget *owner, const QString &message, bool offerAll)
    : RestoreQuestionDialog(owner, "TfrmCreateDir", "Create Directory", "Do you want to create it?",
                            "C&reate All", message, offerAll)
{
}

} // namespace imbrex::ui
