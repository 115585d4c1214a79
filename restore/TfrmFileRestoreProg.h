// The extraction window: runs one restore of the browser's selection from a timer tick after it shows,
// with the current file, an overall percentage and Cancel, and answers the extraction's questions with
// dialogs. Events are processed at every progress step, so the window repaints and Cancel is seen between
// two 64 KiB pieces; the extraction removes the file it was writing.
#pragma once

#include <optional>
#include <vector>

#include <QtCore/QTimer>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>

#include "restore/FileExtraction.h"
#include "ui/TProgressClass.h"

namespace imbrex::ui {

struct RestoreRequest
{
    std::string fileName;        // the browser's file-name box
    std::string sourceDirectory; // the browser's current directory, "" for the root
    std::string targetDirectory;
    std::vector<restore::RestoreItem> selected; // the selected rows, in list order
};

class TfrmFileRestoreProg : public QDialog, public restore::RestoreQuestions
{
    Q_OBJECT
public:
    TfrmFileRestoreProg(QWidget *owner, restore::FileSource &source, RestoreRequest request);

    // How the run ended; none before it ran.
    std::optional<restore::RestoreOutcome> outcome() const { return m_outcome; }
    bool cancelled() const { return m_cancel; }

    // RestoreQuestions
    Answer replaceFile(const std::string &message, bool offerAll) override;
    Answer createDirectory(const std::string &message, bool offerAll) override;
    Answer includeSubdirectories() override;
    bool error(const std::string &text, bool withCancel) override;
    void information(const std::string &text) override;
    void currentFile(const std::string &sourcePath) override;
    bool filePercent(int percent) override;
    void firstStreamOnly(const std::string &sourcePath) override;
    void itemStep(int step) override;

    QLabel *lblRestoreState, *lblCurrentFilename, *lblAction, *lblToFilename, *lblPercent,
        *lblWarnDataStreams;
    QProgressBar *prgBar;
    QPushButton *btnOk, *btnCancel;
    QTimer *tmr;

public slots:
    void tmrTimer();
    void btnCancelClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void RunRestore();
    void showPercent();

    restore::FileSource &m_source;
    RestoreRequest m_request;
    TProgressClass m_progress;
    bool m_cancel = false;
    bool m_running = false;
    std::optional<restore::RestoreOutcome> m_outcome;
};

} // namespace imbrex::ui
