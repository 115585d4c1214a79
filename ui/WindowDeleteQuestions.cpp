#include "WindowDeleteQuestions.h"

#include <QtCore/QCoreApplication>
#include <QtWidgets/QApplication>

#include "DialogSupport.h"
#include "MessageBox.h"
#include "ModalResult.h"

namespace imbrex::ui {

bool WindowDeleteQuestions::confirm(const std::string &question)
{
    return ShowMessageBox(m_owner, question, MessageKind::Confirmation, MessageButtons::YesNo) == mrYes;
}

void WindowDeleteQuestions::showWait(const std::string &)
{
    if (m_waiting)
        return;
    m_waiting = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    centreOver(&m_wait, m_owner);
    m_wait.show();
    QCoreApplication::processEvents();
}

void WindowDeleteQuestions::hideWait()
{
    if (!m_waiting)
        return;
    m_waiting = false;
    QApplication::restoreOverrideCursor();
    m_wait.hide();
}

} // namespace imbrex::ui
