// "Create Directory": asked before a missing local directory of a restored file is created.
#pragma once

#include "RestoreQuestionDialog.h"

namespace imbrex::ui {

class TfrmCreateDir : public RestoreQuestionDialog
{
    Q_OBJECT
public:
    // message is "Directory does not exist. %s", translated and filled.
    TfrmCreateDir(QWidget *owner, const QString &message, bool offerAll);
};

} // namespace imbrex::ui
