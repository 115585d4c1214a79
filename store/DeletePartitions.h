// Deleting partitions from the open image: one question, then the selected partitions removed from the last
// row up, so that the numbers of those still to go do not move.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imgstore/ImageStore.h"

namespace imbrex::store {

class DeleteQuestions
{
public:
    virtual ~DeleteQuestions() = default;
    // A Yes/No question with the caption "Imbrex"; true for Yes.
    virtual bool confirm(const std::string &question) = 0;
    // The "please wait" window, shown while the store works; it cannot be cancelled.
    virtual void showWait(const std::string &text) { (void)text; }
    virtual void hideWait() {}
};

// The question for a selection of selectedCount rows, translated.
std::string deleteQuestion(size_t selectedCount);

// Asks, and on Yes deletes the selected rows (row i is partition i + 1): with fewer than two selected, the
// current row; otherwise every selected row from the last down. Returns 7 when the person answered No, else
// the first failure of the store (the deletion goes on with the other rows), or 0. The caller reloads the
// image afterwards in every case.
int DeletePartitions(ImageStore &store, const std::vector<uint32_t> &selectedRows, uint32_t currentRow,
                     DeleteQuestions &questions);

} // namespace imbrex::store
