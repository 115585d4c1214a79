#include "TfrmProperties.h"

#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "ModalResult.h"
#include "store/PartitionProperties.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

namespace {

// The value controls, in the order of the lines.
constexpr const char *kValueNames[] = {"lblName",
                                       "mmoComment",
                                       "lblDriveLetter",
                                       "lblPartitionType",
                                       "lblFileSystemType",
                                       "lblStatus",
                                       "lblSpanned",
                                       "lblCompression",
                                       "lblPassword",
                                       "lblPartitionSize",
                                       "lblUsedSpaceInPartition",
                                       "lblFreeSpaceInPartition",
                                       "lblPhysicalSizeInImage"};

} // namespace

TfrmProperties::TfrmProperties(QWidget *owner, ImageStore &store, uint32_t number) : QDialog(owner)
{
    setObjectName(QStringLiteral("TfrmProperties"));
    setWindowTitle(QStringLiteral("Partition Properties"));
    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    outer->addLayout(grid);
    // The captions and words of the lines come translated from the core.
    std::vector<store::PropertyLine> lines = store::partitionPropertyLines(store, number);
    int row = 0;
    for (const store::PropertyLine &line : lines) {
        auto *caption = new QLabel(QString::fromStdString(line.caption), this);
        caption->setProperty("imbrexValue", true);
        caption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        grid->addWidget(caption, row, 0);
        const char *name = static_cast<size_t>(row) < std::size(kValueNames) ? kValueNames[row] : "lblValue";
        if (std::string_view(name) == "mmoComment") {
            auto *memo = new QPlainTextEdit(QString::fromStdString(line.value), this);
            memo->setObjectName(QString::fromLatin1(name));
            memo->setReadOnly(true);
            memo->setFocusPolicy(Qt::NoFocus);
            memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            memo->setFixedHeight(56);
            grid->addWidget(memo, row, 1);
        } else {
            auto *value = new QLabel(QString::fromStdString(line.value), this);
            value->setObjectName(QString::fromLatin1(name));
            value->setProperty("imbrexValue", true);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            value->setTextFormat(Qt::PlainText);
            grid->addWidget(value, row, 1);
        }
        ++row;
    }
    grid->setColumnMinimumWidth(1, 260);
    addCentredOkButton(this, outer, QStringLiteral("&OK"));
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
    centreOver(this, owner);
}

} // namespace imbrex::ui
