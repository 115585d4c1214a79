// "Associate Image Index": shown when the index file associated with an image cannot be used while a
// compressed or spanned partition is opened. The person browses for another file, goes on with a temporary
// index, asks for the index to be created and saved first, or gives the partition up.
#pragma once

#include <functional>
#include <string>

#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>

#include "controls/TTransparentImage.h"
#include "index/IndexAssociation.h"

namespace imbrex::ui {

// Asks for an index file with a file dialog, starting at start; an empty result means cancelled.
using IndexFileChooser = std::function<QString(const QString &start)>;

class TfrmAssociateIndex : public QDialog
{
    Q_OBJECT
public:
    // Create sets createRequest; Browse (which asks through chooseFile, the open dialog dlgOpenIndex) and
    // Continue change association.
    TfrmAssociateIndex(QWidget *owner, index::IndexAssociation &association, bool &createRequest,
                       IndexFileChooser chooseFile);

    // Shows why the file cannot be used: the text for code (a failed read of path) and the two files.
    void showProblem(int code, const std::string &path);

    controls::TTransparentImage *imgWarning;
    QPlainTextEdit *mmoErrorMsg, *memHelp;
    QLabel *lblImage, *lblImageName, *lblIndex, *lblIndexName;
    QPushButton *btnIgnore, *btnCreate, *btnBrowse, *btnCancel;

public slots:
    // Associates a file the person picks and closes with mrRetry; a cancelled choice leaves the window open.
    void btnBrowseClick();
    // Forgets the association: the partition is read with a temporary index.
    void btnIgnoreClick();
    void btnCreateClick();

protected:
    // Closing the window any other way counts as Cancel.
    void reject() override;

private:
    index::IndexAssociation &m_association;
    bool &m_createRequest;
    IndexFileChooser m_chooseFile;
};

} // namespace imbrex::ui
