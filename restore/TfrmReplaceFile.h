// "Replace File": asked before an existing local file is overwritten by a restored one.
#pragma once

#include "RestoreQuestionDialog.h"

namespace imbrex::ui {

class TfrmReplaceFile : public RestoreQuestionDialog
{
    Q_OBJECT
public:
    // message is "File already exists. %s", translated and filled.
    TfrmReplaceFile(QWidget *owner, const QString &message, bool offerAll);
};

} // namespace imbrex::ui
