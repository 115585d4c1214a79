#include "TTransparentImage.h"

#include <QtGui/QPainter>

#include "TPopupSpeedButton.h"

namespace imbrex::controls {

TTransparentImage::TTransparentImage(QWidget *parent) : QWidget(parent) {}

void TTransparentImage::SetPicture(const QPixmap &picture)
{
    m_picture = picture;
    m_masked = withoutColor(picture, m_transparentColor);
    updateGeometry();
    update();
}

void TTransparentImage::SetTransparentColor(const QColor &color)
{
    m_transparentColor = color;
    m_masked = withoutColor(m_picture, color);
    update();
}

void TTransparentImage::Draw(QPainter &painter, int x, int y) const
{
    if (!m_masked.isNull()) {
        // The part that fits the control, counted in the picture's pixels (more than window units when the
        // picture was drawn for a scaled screen).
        const qreal ratio = m_masked.devicePixelRatio();
        painter.drawPixmap(QPointF(x, y), m_masked, QRectF(0, 0, width() * ratio, height() * ratio));
    }
}

void TTransparentImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Draw(painter, 0, 0);
}

} // namespace imbrex::controls
