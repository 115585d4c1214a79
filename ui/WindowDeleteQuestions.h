// The delete command's questions over the main window: the Yes/No question and the "please wait" window that
// stays up while the store removes the partitions.
#pragma once

#include <QtWidgets/QWidget>

#include "TfrmDeletePartition.h"
#include "store/DeletePartitions.h"

namespace imbrex::ui {

class WindowDeleteQuestions final : public store::DeleteQuestions
{
public:
    explicit WindowDeleteQuestions(QWidget *owner) : m_owner(owner), m_wait(owner) {}
    ~WindowDeleteQuestions() override { hideWait(); }
    WindowDeleteQuestions(const WindowDeleteQuestions &) = delete;
    WindowDeleteQuestions &operator=(const WindowDeleteQuestions &) = delete;

    bool confirm(const std::string &question) override;
    // The window carries its own translated text, so text is not needed here.
    void showWait(const std::string &text) override;
    void hideWait() override;

private:
    QWidget *m_owner;
    TfrmDeletePartition m_wait;
    bool m_waiting = false;
};

} // namespace imbrex::ui
