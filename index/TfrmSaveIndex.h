// "Saving Image Index": shown while the index of the open partition is extended to the partition's end and
// written to a file. The work starts from a timer once the window shows; while checkpoints are added the
// extension progress appears above it, and its Cancel gives the save up.
#pragma once

#include <QtCore/QTimer>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>

#include "restore/PARTITION_ACCESS.h"

namespace imbrex::ui {

class TfrmSaveIndex : public QDialog
{
    Q_OBJECT
public:
    TfrmSaveIndex(QWidget *owner, restore::PARTITION_ACCESS &access);

    // The file the next show saves to.
    void setIndexFile(const QString &path) { m_path = path; }
    // After closing with mrIgnore: 7 (cancelled) or 1893 (the file already held this partition's index).
    int storedResult() const { return m_stored; }

    QLabel *lblAction;
    QTimer *tmr;

public slots:
    // Saves, tells a failure, and closes: mrOk when saved, mrIgnore when cancelled or already saved,
    // mrRetry for any other failure, so that another file can be chosen.
    void tmrTimer();

protected:
    void showEvent(QShowEvent *event) override;
    void reject() override {} // the save cannot be abandoned half-way by Escape

private:
    restore::PARTITION_ACCESS &m_access;
    QString m_path;
    int m_stored = 0;
};

} // namespace imbrex::ui
