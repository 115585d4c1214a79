#include "TfrmSplash.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

#include "ModalResult.h"

namespace imbrex::ui {

QPixmap productPicture()
{
    QPixmap picture(380, 200);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 200);
    sky.setColorAt(0, QColor(0x1d, 0x4e, 0x89));
    sky.setColorAt(1, QColor(0x0b, 0x23, 0x45));
    painter.fillRect(picture.rect(), sky);
    // Overlapping tiles, the product's mark.
    const QColor tiles[] = {QColor(0xe0, 0x7a, 0x2f), QColor(0xc9, 0x5b, 0x1a), QColor(0xf2, 0xa6, 0x5a)};
    for (int i = 0; i < 3; ++i) {
        painter.setBrush(tiles[i]);
        painter.setPen(QPen(QColor(0x3a, 0x1c, 0x08), 2));
        painter.drawRoundedRect(QRectF(24 + i * 26, 40 + i * 14, 70, 44), 10, 10);
    }
    painter.setPen(Qt::white);
    QFont title(QStringLiteral("Sans"), 22, QFont::Bold);
    painter.setFont(title);
    painter.drawText(QRect(140, 48, 230, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Imbrex"));
    QFont sub(QStringLiteral("Sans"), 12);
    painter.setFont(sub);
    painter.drawText(QRect(140, 88, 230, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("File Editor 3.01"));
    painter.setPen(QColor(0xb0, 0xc4, 0xde));
    painter.setFont(QFont(QStringLiteral("Sans"), 8));
    painter.drawText(QRect(16, 170, 348, 20), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Korvane partition image files"));
    return picture;
}

TfrmSplash::TfrmSplash(QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::SplashScreen)
{
    setObjectName(QStringLiteral("TfrmSplash"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("imgSplash"));
    image->setPixmap(productPicture());
    layout->addWidget(image);
    setFixedSize(image->pixmap().size());
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
    }
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("tmr"));
    m_timer->setInterval(2000);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { done(mrOk); });
    m_timer->start();
}

} // namespace imbrex::ui
