#include "TfrmDeletePartition.h"

#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

TfrmDeletePartition::TfrmDeletePartition(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("TfrmDeletePartition"));
    setWindowTitle(QStringLiteral("Delete Partition"));
    auto *outer = new QVBoxLayout(this);
    QVBoxLayout *inner = addRaisedPanel(this, outer);
    auto *action = new QLabel(QStringLiteral("Deleting ... please wait. This could take several minutes."));
    action->setObjectName(QStringLiteral("lblAction"));
    inner->addWidget(action);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
}

} // namespace imbrex::ui
