#include "SaveImageIndex.h"

#include <QtWidgets/QApplication>

#include "common/ResultCodes.h"
#include "index/IndexFile.h"
#include "index/TfrmSaveIndex.h"
#include "translate/Translate.h"
#include "ui/DialogSupport.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"

namespace imbrex::ui {

int SaveImageIndex(QWidget *mainWindow, restore::PARTITION_ACCESS &access,
                   index::IndexAssociation &association, const IndexFileChooser &chooseFile)
{
    const std::string current = association.indexFile();
    QString name =
        QString::fromStdString(current.empty() ? index::proposedIndexPath(association.imagePath()) : current);
    TfrmSaveIndex window(mainWindow, access);
    int result = rc::kCancelled;
    for (;;) {
        name = chooseFile(name);
        if (name.isEmpty())
            break;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        centreOver(&window, mainWindow);
        window.setIndexFile(name);
        const int modal = window.exec();
        QApplication::restoreOverrideCursor();
        if (modal == mrRetry)
            continue;
        if (modal == mrOk)
            result = rc::kOk;
        else if (modal == mrIgnore)
            result = window.storedResult();
        break;
    }
    access.SetIndexProgress(nullptr);
    if ((result == rc::kOk || result == rc::kIndexExists) && name.toStdString() != current)
        association.setIndexFile(name.toStdString());
    return result;
}

void offerIndexSave(QWidget *mainWindow, restore::PARTITION_ACCESS &access,
                    index::IndexAssociation &association, const IndexFileChooser &chooseFile)
{
    if (access.CheckIndexFile(association.indexFile()))
        return;
    const std::string question =
        Translate(index::kTemporaryIndexText) + "\n\n" + Translate(index::kSaveIndexQuestion);
    if (ShowMessageBox(mainWindow, question, MessageKind::Confirmation, MessageButtons::YesNo) != mrYes)
        return;
    const int r = SaveImageIndex(mainWindow, access, association, chooseFile);
    if (r != rc::kOk && r != rc::kIndexExists) {
        association.setIndexFile(std::string());
        ShowMessageBox(mainWindow, Translate(index::kIndexNotSavedText), MessageKind::Information);
    }
}

} // namespace imbrex::ui
