// A column list under its header in one sunken frame, as the windows show their file and partition lists: the
// header's sections give the columns that the list paints at.
#pragma once

#include <span>

#include <QtCore/QString>

class QFrame;
class QHeaderView;
class QWidget;

namespace imbrex::controls {

class TColumnList;

struct HeaderedList
{
    QFrame *frame = nullptr;
    QHeaderView *header = nullptr;
    TColumnList *list = nullptr;
};

// Sections get the texts (translated later by the window's translator) and widths; rows are rowHeight tall
// and may be selected several at a time.
HeaderedList makeHeaderedList(QWidget *parent, const QString &headerName, const QString &listName,
                              std::span<const char *const> sectionTexts, std::span<const int> sectionWidths,
                              int rowHeight);

} // namespace imbrex::controls
