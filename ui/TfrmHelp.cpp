#include "TfrmHelp.h"

#include <QtCore/QUrl>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

TfrmHelp::TfrmHelp(QWidget *owner, const QString &helpFile) : QDialog(owner)
{
    setObjectName(QStringLiteral("TfrmHelp"));
    setWindowTitle(QStringLiteral("Imbrex File Editor Help"));
    // Modeless: the help stays open beside the main window while the person works.
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("txtHelp"));
    m_browser->setOpenExternalLinks(true);
    m_browser->setSource(QUrl::fromLocalFile(helpFile));
    layout->addWidget(m_browser);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("btnClose"));
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    resize(640, 560);
    translate::translateWindow(this);
    centreOver(this, owner);
}

} // namespace imbrex::ui
