#include "TfrmSaveIndex.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QVBoxLayout>

#include "common/ResultCodes.h"
#include "index/IndexAssociation.h"
#include "index/WindowIndexProgress.h"
#include "translate/Translate.h"
#include "translate/WidgetTranslator.h"
#include "ui/DialogSupport.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"

namespace imbrex::ui {

TfrmSaveIndex::TfrmSaveIndex(QWidget *owner, restore::PARTITION_ACCESS &access)
    : QDialog(owner,
              Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_access(access)
{
    setObjectName(QStringLiteral("TfrmSaveIndex"));
    setWindowTitle(QStringLiteral("Saving Image Index"));
    auto *outer = new QVBoxLayout(this);
    QVBoxLayout *inner = addRaisedPanel(this, outer);
    lblAction = new QLabel(QStringLiteral("Saving ... please wait. This could take several minutes."), this);
    lblAction->setObjectName(QStringLiteral("lblAction"));
    lblAction->setAlignment(Qt::AlignCenter);
    inner->addWidget(lblAction);
    tmr = new QTimer(this);
    tmr->setObjectName(QStringLiteral("tmr"));
    tmr->setInterval(1);
    connect(tmr, &QTimer::timeout, this, &TfrmSaveIndex::tmrTimer);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
}

void TfrmSaveIndex::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    tmr->start();
}

void TfrmSaveIndex::tmrTimer()
{
    tmr->stop();
    int r = 0;
    {
        WindowIndexProgress progress(this, parentWidget());
        m_access.SetIndexProgress(&progress);
        QApplication::setOverrideCursor(Qt::BusyCursor);
        r = m_access.WriteIndexFile(m_path.toStdString());
        QApplication::restoreOverrideCursor();
        m_access.SetIndexProgress(nullptr);
    }
    if (r != rc::kOk && r != rc::kCancelled)
        ShowMessageBox(this, Translate(index::indexSaveMessage(r)), MessageKind::Information);
    if (r == rc::kOk) {
        done(mrOk);
    } else if (r == rc::kCancelled || r == rc::kIndexExists) {
        m_stored = r;
        done(mrIgnore);
    } else {
        done(mrRetry);
    }
}

} // namespace imbrex::ui
