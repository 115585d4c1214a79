// The start-up picture: borderless, on top, centred on the screen; it closes itself with mrOk after 2000 ms.
#pragma once

#include <QtCore/QTimer>
#include <QtWidgets/QDialog>

namespace imbrex::ui {

class TfrmSplash : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmSplash(QWidget *parent = nullptr);
    QTimer *tmr() const { return m_timer; }

private:
    QTimer *m_timer;
};

// The picture of the splash window and the About box.
QPixmap productPicture();

} // namespace imbrex::ui
