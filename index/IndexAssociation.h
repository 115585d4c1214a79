// The image index file associated with an image, and the decisions around it that need no window: which
// failed reads are put to the person, what a failed save says, and how an open that asked for an index to
// be created goes on.
#pragma once

#include <functional>
#include <string>

namespace imbrex::index {

// The file filter of the index open and save dialogs, "Name|pattern|Name|pattern", to be translated.
inline constexpr const char *kIndexFileFilter =
    "Archivo de índice de imagen de ZB (*.zbx)|*.zbx|Todos los archivos (*.*)|*.*";
inline constexpr const char *kSaveIndexTitle = "Save Image Index";
inline constexpr const char *kIndexNotSavedText = "Image Index was not saved.";
// The question after browsing with a temporary index, asked as these two sentences with an empty line
// between them, each translated by itself.
inline constexpr const char *kTemporaryIndexText =
    "To enable faster restoring of files from this partition a temporary image index has been generated.";
inline constexpr const char *kSaveIndexQuestion =
    "Would you like to save the image index to a file for future use?";

// The index file of the open image. The windows keep it with the image's entry of the recent-images list.
class IndexAssociation
{
public:
    virtual ~IndexAssociation() = default;
    virtual std::string imagePath() const = 0;
    // Empty when the image has none.
    virtual std::string indexFile() const = 0;
    // An empty path clears the association.
    virtual void setIndexFile(const std::string &path) = 0;
};

// Whether a failed read of an index file is put to the person (a missing, unreadable, foreign or damaged
// file); other codes are passed over and the partition is read with a temporary index.
bool isIndexFileProblem(int code);

// The text a failed save of an index file shows; every code without a text of its own, a full disk
// included, is a write error.
std::string indexSaveMessage(int code);

// Opens a partition while the open asks for its index to be created: createRequest is cleared before each
// open, and when the open set it, save runs. A save that finds the index already in the chosen file (1893)
// opens the partition again, which now loads it; any other failed save gives the partition up with its
// code. Returns 0 or the code of the failed open or save.
int openWithCreateRequests(bool &createRequest, const std::function<int()> &open,
                           const std::function<int()> &save);

} // namespace imbrex::index
