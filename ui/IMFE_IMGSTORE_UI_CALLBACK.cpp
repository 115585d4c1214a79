#include "IMFE_IMGSTORE_UI_CALLBACK.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>

#include "MessageBox.h"
#include "ModalResult.h"

namespace imbrex::ui {

bool IMFE_IMGSTORE_UI_CALLBACK::ask(store::MediaPrompt prompt, const char *file, int number)
{
    const std::string text = store::mediaPromptText(prompt, file ? file : "", number);
    MessageButtons buttons = MessageButtons::Ok;
    MessageKind kind = MessageKind::Information;
    switch (store::mediaPromptButtons(prompt)) {
    case store::MediaButtons::OkCancel:
        buttons = MessageButtons::OkCancel;
        break;
    case store::MediaButtons::YesNo:
        buttons = MessageButtons::YesNo;
        kind = MessageKind::Confirmation;
        break;
    case store::MediaButtons::Ok:
        break;
    }
    // During a copy the wait cursor is up; the person answering needs the pointer.
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = ShowMessageBox(m_owner, text, kind, buttons);
    QGuiApplication::restoreOverrideCursor();
    QCoreApplication::processEvents(); // let the windows below repaint before the store goes on
    return result == mrOk || result == mrYes;
}

using store::MediaPrompt;

bool IMFE_IMGSTORE_UI_CALLBACK::PromptNewMediaForFile(const char *file)
{
    return ask(MediaPrompt::NewMediaForFile, file);
}
bool IMFE_IMGSTORE_UI_CALLBACK::PromptReinsertFirstMedia(const char *file)
{
    return ask(MediaPrompt::ReinsertFirstMedia, file);
}
bool IMFE_IMGSTORE_UI_CALLBACK::PromptFirstMedia(const char *file)
{
    return ask(MediaPrompt::FirstMedia, file);
}
bool IMFE_IMGSTORE_UI_CALLBACK::PromptLastMedia(const char *file)
{
    return ask(MediaPrompt::LastMedia, file);
}
bool IMFE_IMGSTORE_UI_CALLBACK::PromptNextMedia(const char *file)
{
    return ask(MediaPrompt::NextMedia, file);
}
bool IMFE_IMGSTORE_UI_CALLBACK::PromptMediaWithFile(const char *file)
{
    return ask(MediaPrompt::MediaWithFile, file);
}
bool IMFE_IMGSTORE_UI_CALLBACK::PromptNewNumberedMedia(const char *file, int number)
{
    return ask(MediaPrompt::NewNumberedMedia, file, number);
}
bool IMFE_IMGSTORE_UI_CALLBACK::PromptNumberedMedia(const char *file, int number)
{
    return ask(MediaPrompt::NumberedMedia, file, number);
}
void IMFE_IMGSTORE_UI_CALLBACK::ReportMediaFull()
{
    ask(MediaPrompt::MediaFull);
}
void IMFE_IMGSTORE_UI_CALLBACK::ReportMediaNotReady()
{
    ask(MediaPrompt::MediaNotReady);
}
void IMFE_IMGSTORE_UI_CALLBACK::ReportWrongMedia()
{
    ask(MediaPrompt::WrongMedia);
}
void IMFE_IMGSTORE_UI_CALLBACK::ReportMediaHasSetFiles()
{
    ask(MediaPrompt::MediaHasSetFiles);
}
bool IMFE_IMGSTORE_UI_CALLBACK::ConfirmDeleteMediaFiles(uint32_t)
{
    return ask(MediaPrompt::ConfirmDeleteMediaFiles);
}
bool IMFE_IMGSTORE_UI_CALLBACK::ConfirmReplaceFile(const char *file)
{
    return ask(MediaPrompt::ConfirmReplaceFile, file);
}

} // namespace imbrex::ui
