#include "DeletePartitions.h"

#include <algorithm>

#include "common/ResultCodes.h"
#include "translate/Translate.h"

namespace imbrex::store {

std::string deleteQuestion(size_t selectedCount)
{
    return Translate(selectedCount < 2 ? "Delete partition?" : "Delete all selected partitions?");
}

int DeletePartitions(ImageStore &store, const std::vector<uint32_t> &selectedRows, uint32_t currentRow,
                     DeleteQuestions &questions)
{
    if (!questions.confirm(deleteQuestion(selectedRows.size())))
        return rc::kCancelled;

    std::vector<uint32_t> rows;
    if (selectedRows.size() < 2)
        rows.push_back(currentRow);
    else
        rows = selectedRows;
    // From the last row down; a row named twice is deleted once.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    questions.showWait(Translate("Deleting ... please wait. This could take several minutes."));
    int result = 0;
    for (uint32_t row : rows) {
        int e = row < store.GetPartitionCount() ? store.SelectPartition(row + 1, 0) : rc::kBadPartitionNumber;
        if (e == 0)
            e = store.DeleteCurrentPartition();
        if (e != 0 && result == 0)
            result = e;
    }
    questions.hideWait();
    return result;
}

} // namespace imbrex::store
