// Saving the index of the open partition to a file: the save dialog and the "Saving Image Index" window
// until a file takes it or the person gives up, and the offer to save a temporary index after browsing.
#pragma once

#include <QtWidgets/QWidget>

#include "index/IndexAssociation.h"
#include "index/TfrmAssociateIndex.h"
#include "restore/PARTITION_ACCESS.h"

namespace imbrex::ui {

// Asks for a file (chooseFile, starting at the associated file or the name proposed for the image) and
// saves the index there; a failed save tells why and asks again. Returns 0 (saved), 7 (cancelled or given
// up) or 1893 (the chosen file already held this partition's index); with 0 and 1893 the chosen file
// becomes the image's index file. access is left without an index progress.
int SaveImageIndex(QWidget *mainWindow, restore::PARTITION_ACCESS &access,
                   index::IndexAssociation &association, const IndexFileChooser &chooseFile);

// After browsing: when no file holds the index in memory, offers to save it, and when that fails or is
// given up, says so and forgets the image's index file.
void offerIndexSave(QWidget *mainWindow, restore::PARTITION_ACCESS &access,
                    index::IndexAssociation &association, const IndexFileChooser &chooseFile);

} // namespace imbrex::ui
