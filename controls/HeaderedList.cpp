#include "HeaderedList.h"

#include <QtGui/QStandardItemModel>
#include <QtWidgets/QFrame>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QVBoxLayout>

#include "TColumnList.h"

namespace imbrex::controls {

HeaderedList makeHeaderedList(QWidget *parent, const QString &headerName, const QString &listName,
                              std::span<const char *const> sectionTexts, std::span<const int> sectionWidths,
                              int rowHeight)
{
    HeaderedList made;
    made.frame = new QFrame(parent);
    made.frame->setFrameShape(QFrame::StyledPanel);
    made.frame->setFrameShadow(QFrame::Sunken);
    auto *layout = new QVBoxLayout(made.frame);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);

    const int sections = static_cast<int>(sectionTexts.size());
    made.header = new QHeaderView(Qt::Horizontal, made.frame);
    made.header->setObjectName(headerName);
    auto *model = new QStandardItemModel(0, sections, made.header);
    for (int k = 0; k < sections; ++k)
        model->setHeaderData(k, Qt::Horizontal, QString::fromLatin1(sectionTexts[static_cast<size_t>(k)]));
    made.header->setModel(model);
    made.header->setSectionsClickable(false);
    made.header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    made.header->setMinimumSectionSize(8);
    made.header->setStretchLastSection(true);
    made.header->setFixedHeight(made.header->fontMetrics().height() + 8);
    for (size_t k = 0; k < sectionWidths.size() && k < sectionTexts.size(); ++k)
        made.header->resizeSection(static_cast<int>(k), sectionWidths[k]);

    made.list = new TColumnList(made.frame);
    made.list->setObjectName(listName);
    made.list->setFrameShape(QFrame::NoFrame);
    made.list->SetItemHeight(rowHeight);
    made.list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    made.list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(made.header);
    layout->addWidget(made.list, 1);
    return made;
}

} // namespace imbrex::controls
