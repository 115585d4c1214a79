#include "IndexAssociation.h"

#include "common/ResultCodes.h"
#include "index/IndexCallbacks.h"

namespace imbrex::index {

bool isIndexFileProblem(int code)
{
    switch (code) {
    case rc::kNoIndexFile:
    case rc::kCannotOpen:
    case rc::kReadShort:
    case rc::kNewerVersion:
    case rc::kInvalidIndexFile:
    case rc::kIndexMismatch:
    case rc::kNoIndexForPartition:
        return true;
    default:
        return false;
    }
}

std::string indexSaveMessage(int code)
{
    switch (code) {
    case rc::kIndexExists:
    case rc::kCannotOpen:
    case rc::kReadShort:
    case rc::kWriteShort:
    case rc::kInvalidIndexFile:
    case rc::kNewerVersion:
    case rc::kIndexMismatch:
        return indexFileMessage(code, std::string());
    default:
        return indexFileMessage(rc::kWriteShort, std::string());
    }
}

int openWithCreateRequests(bool &createRequest, const std::function<int()> &open,
                           const std::function<int()> &save)
{
    for (;;) {
        createRequest = false;
        if (int e = open())
            return e;
        if (!createRequest)
            return rc::kOk;
        const int r = save();
        if (r == rc::kIndexExists)
            continue;
        createRequest = false;
        return r;
    }
}

} // namespace imbrex::index
