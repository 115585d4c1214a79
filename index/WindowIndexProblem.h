// The window's answer to an index file that cannot be used: the association dialog, shown modally over the
// window that opens the partition and centred over the main window.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QWidget>

#include "index/IndexAssociation.h"
#include "index/IndexCallbacks.h"
#include "index/TfrmAssociateIndex.h"

namespace imbrex::ui {

class WindowIndexProblem final : public index::IndexProblemHandler
{
public:
    // owner is the window that opens the partition; createRequest is its create-index request.
    WindowIndexProblem(QWidget *owner, QWidget *centreOn, index::IndexAssociation &association,
                       bool &createRequest, IndexFileChooser chooseFile)
        : m_owner(owner), m_centreOn(centreOn), m_association(association), m_createRequest(createRequest),
          m_chooseFile(std::move(chooseFile))
    {
    }

    // Codes other than those of an unusable file show nothing and go on with a temporary index (0). Else
    // Cancel gives up (1894), Browse reads again from the newly associated file, put into path (1895), and
    // Continue or Create go on (0).
    int ShowIndexProblem(int result, std::string &path) override;

private:
    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_centreOn;
    index::IndexAssociation &m_association;
    bool &m_createRequest;
    IndexFileChooser m_chooseFile;
};

} // namespace imbrex::ui
