// The progress window of long work: the action, a bar and the overall percentage of TProgressClass, and a
// Cancel button that only raises a flag the work polls. While it exists the main window is disabled.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>

#include "TProgressClass.h"
#include "common/Progress.h"

namespace imbrex::ui {

class TfrmProgress : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget *owner, int32_t steps = 1);
    ~TfrmProgress() override;

    void SetStep(int32_t step);
    // Shows the overall percentage (at most 100) and processes pending events, so a Cancel press is seen.
    void SetPercent(int32_t percent);
    void SetAction(const QString &text);
    bool cancelled() const { return m_cancelled; }
    TProgressClass &progress() { return m_progress; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override {} // Escape does not close it; Cancel only raises the flag

private:
    TProgressClass m_progress;
    bool m_cancelled = false;
    QPointer<QWidget> m_owner;
    QLabel *m_action;
    QProgressBar *m_bar;
    QLabel *m_percent;
};

// The core's progress interface shown in a TfrmProgress: done of total becomes the percent of the current
// step.
class WindowProgress : public Progress
{
public:
    explicit WindowProgress(TfrmProgress &window) : m_window(window) {}
    void setAction(const std::string &text) override;
    bool update(uint64_t done, uint64_t total) override;

private:
    TfrmProgress &m_window;
};

} // namespace imbrex::ui
