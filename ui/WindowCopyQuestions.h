// A copy run from the main window: the options dialog, the source passwords and the messages over the main
// window, and the progress window with its Cancel.
#pragma once

#include <memory>

#include <QtWidgets/QWidget>

#include "TfrmPassword.h"
#include "TfrmProgress.h"
#include "store/CopyPartitions.h"

namespace imbrex::ui {

class WindowCopyQuestions : public store::CopyQuestions
{
public:
    explicit WindowCopyQuestions(QWidget *owner) : m_owner(owner), m_passwords(owner) {}

    void processEvents() override;
    bool askOptions(store::CopyOptionsState &state) override;
    std::optional<std::string> askPassword(const std::string &partitionName) override;
    void showMessage(const std::string &text, MessageKind kind) override;

private:
    QWidget *m_owner;
    WindowPasswordQuestions m_passwords;
};

// Shows a TfrmProgress and the wait cursor from the first partition until the run ends.
class WindowCopyProgress : public store::CopyProgress
{
public:
    explicit WindowCopyProgress(QWidget *owner) : m_owner(owner) {}
    ~WindowCopyProgress() override { end(); }
    WindowCopyProgress(const WindowCopyProgress &) = delete;
    WindowCopyProgress &operator=(const WindowCopyProgress &) = delete;

    void begin(uint32_t steps) override;
    void setStep(uint32_t step) override;
    void setAction(const std::string &text) override;
    void setPercent(uint32_t percent) override;
    bool cancelled() override { return m_window && m_window->cancelled(); }
    void end() override;

private:
    QWidget *m_owner;
    std::unique_ptr<TfrmProgress> m_window;
};

} // namespace imbrex::ui
