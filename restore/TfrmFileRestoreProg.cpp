#include "TfrmFileRestoreProg.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QCloseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QVBoxLayout>

#include "TfrmCreateDir.h"
#include "TfrmReplaceFile.h"
#include "store/MessageText.h"
#include "translate/Translate.h"
#include "translate/WidgetTranslator.h"
#include "ui/DialogSupport.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"

namespace imbrex::ui {

TfrmFileRestoreProg::TfrmFileRestoreProg(QWidget *owner, restore::FileSource &source, RestoreRequest request)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_source(source),
      m_request(std::move(request)), m_progress(static_cast<int32_t>(m_request.selected.size()))
{
    setObjectName(QStringLiteral("TfrmFileRestoreProg"));
    setWindowTitle(QStringLiteral("File Restore"));
    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    lblRestoreState = new QLabel(QStringLiteral("Restoring File:"), this);
    lblRestoreState->setObjectName(QStringLiteral("lblRestoreState"));
    lblCurrentFilename = makeValueLabel(this, "lblCurrentFilename");
    lblAction = new QLabel(QStringLiteral("To Directory:"), this);
    lblAction->setObjectName(QStringLiteral("lblAction"));
    lblToFilename = makeValueLabel(this, "lblToFilename");
    for (QLabel *value : {lblCurrentFilename, lblToFilename}) {
        value->setFixedWidth(300);
        value->setMinimumHeight(value->fontMetrics().height());
    }
    grid->addWidget(lblRestoreState, 0, 0);
    grid->addWidget(lblCurrentFilename, 0, 1);
    grid->addWidget(lblAction, 1, 0);
    grid->addWidget(lblToFilename, 1, 1);
    outer->addLayout(grid);
    auto *barRow = new QHBoxLayout;
    prgBar = new QProgressBar(this);
    prgBar->setObjectName(QStringLiteral("prgBar"));
    prgBar->setRange(0, 100);
    prgBar->setValue(0);
    prgBar->setTextVisible(false);
    lblPercent = makeValueLabel(this, "lblPercent");
    lblPercent->setText(QStringLiteral("0%"));
    lblPercent->setFixedWidth(lblPercent->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 4);
    lblPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barRow->addWidget(prgBar);
    barRow->addWidget(lblPercent);
    outer->addLayout(barRow);
    lblWarnDataStreams = new QLabel(
        QStringLiteral("Warning:  Restored data from the first data stream only of an NTFS file."), this);
    lblWarnDataStreams->setObjectName(QStringLiteral("lblWarnDataStreams"));
    lblWarnDataStreams->setWordWrap(true);
    lblWarnDataStreams->hide();
    outer->addWidget(lblWarnDataStreams);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    btnOk = makeResultButton(this, "btnOk", QStringLiteral("&OK"), mrOk);
    btnOk->setEnabled(false);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setCursor(Qt::ArrowCursor);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmFileRestoreProg::btnCancelClick);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    outer->addLayout(buttons);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    tmr = new QTimer(this);
    tmr->setObjectName(QStringLiteral("tmr"));
    tmr->setInterval(1);
    tmr->setSingleShot(true);
    connect(tmr, &QTimer::timeout, this, &TfrmFileRestoreProg::tmrTimer);
    translate::translateWindow(this);
    centreOver(this, owner);
}

void TfrmFileRestoreProg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_outcome && !m_running)
        tmr->start();
}

void TfrmFileRestoreProg::tmrTimer()
{
    tmr->stop();
    RunRestore();
}

void TfrmFileRestoreProg::btnCancelClick()
{
    m_cancel = true;
    // While the run works the flag stops it, and the run closes the window when it returns.
    if (!m_running)
        done(mrCancel);
}

// Closing the window (its close box, Escape) while the run works cancels it; the run closes the window.
void TfrmFileRestoreProg::closeEvent(QCloseEvent *event)
{
    if (m_running) {
        m_cancel = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmFileRestoreProg::reject()
{
    if (m_running) {
        m_cancel = true;
        return;
    }
    QDialog::reject();
}

void TfrmFileRestoreProg::RunRestore()
{
    m_running = true;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    lblToFilename->setText(QString::fromStdString(m_request.targetDirectory));
    restore::FileExtraction extraction(m_source, *this);
    restore::RestoreOutcome outcome = extraction.run(m_request.fileName, m_request.sourceDirectory,
                                                     m_request.targetDirectory, m_request.selected);
    if (m_cancel && outcome == restore::RestoreOutcome::Restored)
        outcome = restore::RestoreOutcome::Cancelled;
    if (m_request.selected.size() > 1)
        lblCurrentFilename->setText(QString::fromStdString(m_request.fileName));
    QApplication::restoreOverrideCursor();
    m_running = false;
    m_outcome = outcome;
    if (outcome == restore::RestoreOutcome::Restored) {
        lblRestoreState->setText(QString::fromStdString(Translate("Restored File:")));
        btnCancel->setEnabled(false);
        btnOk->setEnabled(true);
        btnOk->setDefault(true);
        btnOk->setFocus();
        // Set outright: the overall formula in single precision stops at 99 for some step counts.
        prgBar->setValue(100);
        lblPercent->setText(QStringLiteral("100%"));
        return;
    }
    // Each failure was told where it happened; when other files were restored around them, the count says
    // how much is missing.
    if (outcome == restore::RestoreOutcome::Failed &&
        (extraction.failures() > 1 || extraction.filesRestored() > 0))
        ShowMessageBox(this,
                       store::translatedMessage("Files or folders not restored: %d.",
                                                {std::to_string(extraction.failures())}),
                       MessageKind::Warning);
    m_cancel = true;
    done(mrOk);
}

void TfrmFileRestoreProg::showPercent()
{
    int32_t overall = m_progress.OverallPercent();
    overall = overall > 100 ? 100 : overall < 0 ? 0 : overall;
    prgBar->setValue(overall);
    lblPercent->setText(QString::number(overall) + QLatin1Char('%'));
}

bool TfrmFileRestoreProg::filePercent(int percent)
{
    m_progress.SetPercent(percent);
    showPercent();
    QCoreApplication::processEvents();
    return !m_cancel;
}

void TfrmFileRestoreProg::itemStep(int step)
{
    m_progress.SetStep(step);
}

void TfrmFileRestoreProg::currentFile(const std::string &sourcePath)
{
    lblCurrentFilename->setText(QString::fromStdString(sourcePath));
}

void TfrmFileRestoreProg::firstStreamOnly(const std::string &)
{
    lblWarnDataStreams->show();
}

restore::RestoreQuestions::Answer TfrmFileRestoreProg::replaceFile(const std::string &message, bool offerAll)
{
    TfrmReplaceFile dialog(this, QString::fromStdString(message), offerAll);
    return dialog.ask();
}

restore::RestoreQuestions::Answer TfrmFileRestoreProg::createDirectory(const std::string &message,
                                                                       bool offerAll)
{
    TfrmCreateDir dialog(this, QString::fromStdString(message), offerAll);
    return dialog.ask();
}

restore::RestoreQuestions::Answer TfrmFileRestoreProg::includeSubdirectories()
{
    switch (ShowMessageBox(this, Translate("Include sub-directories?"), MessageKind::Confirmation,
                           MessageButtons::YesNoCancel)) {
    case mrYes:
        return Answer::Yes;
    case mrNo:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

bool TfrmFileRestoreProg::error(const std::string &text, bool withCancel)
{
    return ShowMessageBox(this, text, MessageKind::Error,
                          withCancel ? MessageButtons::OkCancel : MessageButtons::Ok) != mrCancel;
}

void TfrmFileRestoreProg::information(const std::string &text)
{
    ShowMessageBox(this, text, MessageKind::Information);
}

} // namespace imbrex::ui
