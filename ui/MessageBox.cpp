#include "MessageBox.h"

#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include "ModalResult.h"
#include "translate/Translate.h"

namespace imbrex::ui {

namespace {

MessageBoxHandler &currentHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

QMessageBox::Icon iconOf(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Warning:
        return QMessageBox::Warning;
    case MessageKind::Error:
        return QMessageBox::Critical;
    case MessageKind::Confirmation:
        return QMessageBox::Question;
    case MessageKind::Information:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

void setMessageBoxHandler(MessageBoxHandler handler)
{
    currentHandler() = std::move(handler);
}

int ShowMessageBox(QWidget *owner, const std::string &text, MessageKind kind, MessageButtons buttons)
{
    if (const MessageBoxHandler &handler = currentHandler())
        return handler({text, kind, buttons});

    QMessageBox box(iconOf(kind), QString::fromStdString(Translate("Imbrex")), QString::fromStdString(text),
                    QMessageBox::NoButton, owner);
    auto add = [&](QMessageBox::StandardButton button, const char *caption) {
        QPushButton *b = box.addButton(button);
        b->setText(QString::fromStdString(Translate(caption)));
        return b;
    };
    switch (buttons) {
    case MessageButtons::Ok:
        box.setDefaultButton(add(QMessageBox::Ok, "OK"));
        break;
    case MessageButtons::OkCancel:
        box.setDefaultButton(add(QMessageBox::Ok, "OK"));
        add(QMessageBox::Cancel, "Cancel");
        break;
    case MessageButtons::YesNo:
        box.setDefaultButton(add(QMessageBox::Yes, "&Yes"));
        add(QMessageBox::No, "&No");
        break;
    case MessageButtons::YesNoCancel:
        box.setDefaultButton(add(QMessageBox::Yes, "&Yes"));
        add(QMessageBox::No, "&No");
        add(QMessageBox::Cancel, "Cancel");
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return mrOk;
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    default:
        return buttons == MessageButtons::YesNo ? mrNo : mrCancel;
    }
}

void WindowMessageSink::showMessage(const std::string &text, MessageKind kind)
{
    ShowMessageBox(m_owner, text, kind, MessageButtons::Ok);
}

} // namespace imbrex::ui
