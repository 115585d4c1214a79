#include <gtest/gtest.h>

#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>

#include "controls/TColumnList.h"
#include "controls/TPopupSpeedButton.h"
#include "controls/TTransparentImage.h"
#include "ui/Glyphs.h"
#include "ui/TProgressClass.h"
#include "ui/TfrmProgress.h"

using namespace imbrex::controls;
using imbrex::ui::TProgressClass;

TEST(ProgressClassTest, OverallPercentKeepsTheSinglePrecisionStepWidth)
{
    TProgressClass three(3);
    three.SetStep(2);
    three.SetPercent(50);
    EXPECT_EQ(three.OverallPercent(), 49); // 33.333332 + 16.666666
    three.SetStep(3);
    three.SetPercent(0);
    EXPECT_EQ(three.OverallPercent(), 66);

    TProgressClass one(1);
    one.SetPercent(100);
    EXPECT_EQ(one.OverallPercent(), 100);
    one.SetPercent(150);
    EXPECT_EQ(one.OverallPercent(), 150); // capped by the window, not here

    TProgressClass none(0);
    EXPECT_EQ(none.total(), 1);
}

TEST(ProgressClassTest, SplitAndDivideAreInverse)
{
    TProgressClass p(3);
    p.SetStep(2);
    p.Split(4);
    EXPECT_EQ(p.total(), 12);
    EXPECT_EQ(p.current(), 5);
    p.Divide(4);
    EXPECT_EQ(p.total(), 3);
    EXPECT_EQ(p.current(), 2);
}

TEST(ProgressWindowTest, ShowsAtMost100AndCancelOnlyRaisesTheFlag)
{
    QWidget owner;
    {
        imbrex::ui::TfrmProgress window(&owner, 1);
        EXPECT_FALSE(owner.isEnabled());
        window.show();
        window.SetPercent(150);
        EXPECT_EQ(window.findChild<QLabel *>(QStringLiteral("lblPercent"))->text(), QStringLiteral("100%"));
        window.findChild<QAbstractButton *>(QStringLiteral("btnCancel"))->click();
        EXPECT_TRUE(window.cancelled());
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_TRUE(owner.isEnabled());
}

TEST(ColumnListTest, ColumnStringsFollowTheSeparators)
{
    EXPECT_EQ(TColumnList::GetColStringFromStr(QStringLiteral("a||b"), 1), QStringLiteral("a"));
    EXPECT_EQ(TColumnList::GetColStringFromStr(QStringLiteral("a||b"), 2), QString());
    EXPECT_EQ(TColumnList::GetColStringFromStr(QStringLiteral("a||b"), 3), QStringLiteral("b"));
    EXPECT_EQ(TColumnList::GetColStringFromStr(QStringLiteral("a||b"), 4), QString());
    EXPECT_EQ(TColumnList::GetColStringFromStr(QStringLiteral("x|y|"), 2), QStringLiteral("y"));
    EXPECT_EQ(TColumnList::GetColStringFromStr(QString(), 1), QString());
    EXPECT_EQ(TColumnList::GetColStringFromStr(QStringLiteral("x"), 0), QString());
}

TEST(ColumnListTest, ColumnPositionsPlaceTheTextOfEachColumn)
{
    std::array<int, kColumnCount> positions;
    positions.fill(-1);
    positions[0] = 0;
    positions[1] = 174;
    positions[2] = 234;
    std::array<TColListAlign, kColumnCount> aligns;
    aligns.fill(TColListAlign::claLeft);
    aligns[2] = TColListAlign::claRight;
    std::vector<ColumnBox> boxes = columnLayout(positions, aligns, 300);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].textX, 7);
    EXPECT_EQ(boxes[0].right, 173);
    EXPECT_EQ(boxes[1].textX, 181);
    EXPECT_TRUE(boxes[2].rightAligned);
    EXPECT_EQ(boxes[2].textX, 297);
    // A column that starts beyond the control is not drawn.
    EXPECT_EQ(columnLayout(positions, aligns, 200).size(), 2u);
}

TEST(ColumnListTest, LineValuesAndDisabledLines)
{
    TColumnList list;
    EXPECT_EQ(list.GetVal(TColumnList::kCurrentItem), -1);
    list.Add(QStringLiteral("Name|12|3"));
    list.Add(QStringLiteral("Off|0|0"), 0);
    list.Insert(0, QStringLiteral("First"), 42);
    EXPECT_EQ(list.GetVal(0), 42);
    EXPECT_EQ(list.GetVal(1), -1);
    EXPECT_TRUE(list.LineEnabled(1));
    EXPECT_FALSE(list.LineEnabled(2));
    EXPECT_EQ(list.GetStr(5), QString());
    list.setCurrentRow(2);
    EXPECT_EQ(list.GetStr(TColumnList::kCurrentItem), QStringLiteral("Off|0|0"));
}

TEST(PopupSpeedButtonTest, MovingWithinRepaintsOnceOnEntry)
{
    TPopupSpeedButton button;
    button.show();
    auto move = [&](int x, int y) {
        QMouseEvent event(QEvent::MouseMove, QPointF(x, y), button.mapToGlobal(QPointF(x, y)), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&button, &event);
    };
    move(5, 5);
    move(6, 7);
    move(10, 10);
    EXPECT_TRUE(button.inside());
    EXPECT_EQ(button.repaintRequests(), 1);
    move(40, 40);
    EXPECT_FALSE(button.inside());
    EXPECT_EQ(button.repaintRequests(), 2);
}

TEST(HighDpiTest, PicturesDrawnForScaleTwoKeepTheirSizeAndAreDrawnWhole)
{
    const QPixmap glyph = imbrex::ui::glyphPixmap(imbrex::ui::Glyph::Copy, 2);
    EXPECT_EQ(glyph.size(), QSize(36, 36));
    EXPECT_EQ(glyph.deviceIndependentSize().toSize(), QSize(18, 18));

    QPixmap picture(QSize(240, 64));
    picture.setDevicePixelRatio(2);
    picture.fill(Qt::red);
    imbrex::controls::TTransparentImage image;
    image.SetTransparentColor(Qt::white);
    image.SetPicture(picture);
    EXPECT_EQ(image.sizeHint(), QSize(120, 32));
    image.resize(image.sizeHint());
    const QImage shown = image.grab().toImage();
    // The right end is drawn too, not only the first 120 pixels of the picture stretched.
    EXPECT_EQ(shown.pixelColor(shown.width() - 5, shown.height() / 2), QColor(Qt::red));
}
