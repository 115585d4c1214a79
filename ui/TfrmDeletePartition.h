// The "please wait" window shown while partitions are deleted. It has no buttons and cannot be cancelled.
#pragma once

#include <QtWidgets/QDialog>

namespace imbrex::ui {

class TfrmDeletePartition : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmDeletePartition(QWidget *owner);

protected:
    void reject() override {}
};

} // namespace imbrex::ui
