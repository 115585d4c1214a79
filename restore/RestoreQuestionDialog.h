// The layout that the replace and create questions of a restore share: a warning picture, the message in a
// read-only box that scrolls (paths can be long), the question, and Yes, No and, when several items are
// restored, an "all" answer and Cancel.
#pragma once

#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>

#include "restore/FileExtraction.h"

namespace imbrex::ui {

class RestoreQuestionDialog : public QDialog
{
    Q_OBJECT
public:
    // message comes translated and filled; the captions are translated with the window.
    RestoreQuestionDialog(QWidget *owner, const char *objectName, const char *caption, const char *question,
                          const char *allCaption, const QString &message, bool offerAll);

    // Shows the dialog modally and turns the button pressed into an answer. Closing it otherwise counts
    // as Cancel when Cancel is offered, else as No.
    restore::RestoreQuestions::Answer ask();

    QPlainTextEdit *mmoMessage;
    QLabel *lblReplace;
    QPushButton *btnYes, *btnNo, *btnYesAll, *btnCancel;
};

} // namespace imbrex::ui
