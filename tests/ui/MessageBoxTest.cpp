#include "ui/MessageBox.h"

#include <gtest/gtest.h>

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include "ui/ModalResult.h"

using namespace imbrex::ui;

namespace {

struct Seen
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool hasPicture = false;
    QString caption;
    QStringList buttons;
};

// Shows the real message box and presses the button whose text is press.
int showAndPress(MessageKind kind, MessageButtons buttons, const QString &press, Seen *seen)
{
    QTimer::singleShot(0, [press, seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen->icon = box->icon();
        seen->hasPicture = !box->iconPixmap().isNull();
        seen->caption = box->windowTitle();
        for (QAbstractButton *button : box->buttons())
            seen->buttons << button->text();
        for (QAbstractButton *button : box->buttons())
            if (button->text() == press)
                button->click();
    });
    return ShowMessageBox(nullptr, "text", kind, buttons);
}

} // namespace

TEST(MessageBoxTest, EachKindShowsItsStandardPictureAndTheButtonsAnswer)
{
    const struct
    {
        MessageKind kind;
        QMessageBox::Icon icon;
    } kinds[] = {{MessageKind::Information, QMessageBox::Information},
                 {MessageKind::Warning, QMessageBox::Warning},
                 {MessageKind::Error, QMessageBox::Critical},
                 {MessageKind::Confirmation, QMessageBox::Question}};
    for (const auto &k : kinds) {
        Seen seen;
        EXPECT_EQ(showAndPress(k.kind, MessageButtons::Ok, QStringLiteral("OK"), &seen), mrOk);
        EXPECT_EQ(seen.icon, k.icon);
        EXPECT_TRUE(seen.hasPicture);
        EXPECT_EQ(seen.caption, QStringLiteral("Imbrex"));
    }

    Seen seen;
    EXPECT_EQ(showAndPress(MessageKind::Confirmation, MessageButtons::YesNo, QStringLiteral("&No"), &seen),
              mrNo);
    EXPECT_EQ(seen.buttons.size(), 2);
    EXPECT_EQ(
        showAndPress(MessageKind::Information, MessageButtons::OkCancel, QStringLiteral("Cancel"), &seen),
        mrCancel);
}
