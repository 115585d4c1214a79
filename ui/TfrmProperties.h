// Everything the image store knows about one partition, one caption and value per line.
#pragma once

#include <QtWidgets/QDialog>

#include "imgstore/ImageStore.h"

namespace imbrex::ui {

class TfrmProperties : public QDialog
{
    Q_OBJECT
public:
    // Reads partition number (from 1) of store; the selection is released before the constructor returns.
    TfrmProperties(QWidget *owner, ImageStore &store, uint32_t number);
};

} // namespace imbrex::ui
