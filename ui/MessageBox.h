// The program's one message box: modal, centred on its owner, caption "Imbrex" (translated). The text comes
// translated and filled already. Tests install a handler that answers instead of a person.
#pragma once

#include <functional>
#include <string>

#include <QtWidgets/QWidget>

#include "store/Prompts.h"

namespace imbrex::ui {

using store::MessageKind;

enum class MessageButtons
{
    Ok,
    OkCancel,
    YesNo,
    YesNoCancel,
};

struct MessageBoxRequest
{
    std::string text;
    MessageKind kind = MessageKind::Information;
    MessageButtons buttons = MessageButtons::Ok;
};

// Returns the modal result of the button pressed (mrOk, mrCancel, mrYes, mrNo).
int ShowMessageBox(QWidget *owner, const std::string &text, MessageKind kind,
                   MessageButtons buttons = MessageButtons::Ok);

// Replaces the message box; an empty handler restores it. The handler returns the modal result.
using MessageBoxHandler = std::function<int(const MessageBoxRequest &)>;
void setMessageBoxHandler(MessageBoxHandler handler);

// A message sink for the core's questions, showing its messages over owner.
class WindowMessageSink : public store::MessageSink
{
public:
    explicit WindowMessageSink(QWidget *owner) : m_owner(owner) {}
    void showMessage(const std::string &text, MessageKind kind) override;

private:
    QWidget *m_owner;
};

} // namespace imbrex::ui
