#include "WindowCopyQuestions.h"

#include <climits>

#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>

#include "DialogSupport.h"
#include "MessageBox.h"
#include "ModalResult.h"
#include "TfrmCopyOptions.h"

namespace imbrex::ui {

namespace {

// The wait cursor of a running copy gives way to the pointer while a question waits for an answer.
class PointerWhileAsking
{
public:
    PointerWhileAsking() { QGuiApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~PointerWhileAsking() { QGuiApplication::restoreOverrideCursor(); }
    PointerWhileAsking(const PointerWhileAsking &) = delete;
    PointerWhileAsking &operator=(const PointerWhileAsking &) = delete;
};

int32_t toStep(uint32_t value)
{
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

} // namespace

void WindowCopyQuestions::processEvents()
{
    QCoreApplication::processEvents();
}

bool WindowCopyQuestions::askOptions(store::CopyOptionsState &state)
{
    TfrmCopyOptions dialog(m_owner, state);
    const int result = dialog.exec();
    state = dialog.state();
    return result == mrOk;
}

std::optional<std::string> WindowCopyQuestions::askPassword(const std::string &partitionName)
{
    PointerWhileAsking pointer;
    return m_passwords.askPassword(partitionName);
}

void WindowCopyQuestions::showMessage(const std::string &text, MessageKind kind)
{
    PointerWhileAsking pointer;
    ShowMessageBox(m_owner, text, kind);
}

void WindowCopyProgress::begin(uint32_t steps)
{
    end();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_window = std::make_unique<TfrmProgress>(m_owner, toStep(steps == 0 ? 1 : steps));
    centreOver(m_window.get(), m_owner);
    m_window->show();
    QCoreApplication::processEvents();
}

void WindowCopyProgress::setStep(uint32_t step)
{
    if (m_window)
        m_window->SetStep(toStep(step));
}

void WindowCopyProgress::setAction(const std::string &text)
{
    if (m_window)
        m_window->SetAction(QString::fromStdString(text));
}

void WindowCopyProgress::setPercent(uint32_t percent)
{
    if (m_window)
        m_window->SetPercent(toStep(percent));
}

void WindowCopyProgress::end()
{
    if (!m_window)
        return;
    m_window.reset();
    QGuiApplication::restoreOverrideCursor();
}

} // namespace imbrex::ui
