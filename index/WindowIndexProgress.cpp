#include "WindowIndexProgress.h"

#include "common/ResultCodes.h"
#include "translate/Translate.h"
#include "ui/DialogSupport.h"

namespace imbrex::ui {

WindowIndexProgress::~WindowIndexProgress()
{
    CloseIndexProgress();
}

int WindowIndexProgress::ExtendIndexProgress(uint32_t start, uint32_t target, uint32_t current)
{
    if (!m_window) {
        m_window = std::make_unique<TfrmProgress>(m_owner.data());
        centreOver(m_window.get(), m_centreOn.data());
        m_window->show();
        m_window->SetAction(QString::fromStdString(Translate(index::kExtendingIndexText)));
    }
    m_window->SetPercent(index::extendIndexPercent(start, target, current));
    return m_window->cancelled() ? rc::kDialogCancelled : rc::kOk;
}

void WindowIndexProgress::CloseIndexProgress()
{
    m_window.reset();
}

} // namespace imbrex::ui
