#include "TfrmDeletePartition.h"

#include <QtWidgets/QFrame>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

TfrmDeletePartition::TfrmDeletePartition(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("TfrmDeletePartition"));
    setWindowTitle(QStringLiteral("Delete Partition"));
    auto *outer = new QVBoxLayout(this);
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("pnlMain"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    auto *inner = new QVBoxLayout(panel);
    auto *action =
        new QLabel(QStringLiteral("Deleting ... please wait. This could take several minutes."), panel);
    action->setObjectName(QStringLiteral("lblAction"));
    inner->addWidget(action);
    outer->addWidget(panel);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
}

} // namespace imbrex::ui
