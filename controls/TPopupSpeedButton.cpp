#include "TPopupSpeedButton.h"

#include <QtGui/QBitmap>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>

namespace imbrex::controls {

QPixmap withoutColor(const QPixmap &pixmap, const QColor &color)
{
    if (pixmap.isNull())
        return pixmap;
    QPixmap result = pixmap;
    result.setMask(pixmap.createMaskFromColor(color, Qt::MaskInColor));
    return result;
}

TPopupSpeedButton::TPopupSpeedButton(QWidget *parent) : QAbstractButton(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(26, 26);
}

void TPopupSpeedButton::SetGlyph(const QPixmap &glyph)
{
    m_glyph = glyph;
    m_maskedGlyph = withoutColor(glyph, m_transparentColor);
    update();
}

void TPopupSpeedButton::SetTransparentColor(const QColor &color)
{
    m_transparentColor = color;
    m_maskedGlyph = withoutColor(m_glyph, m_transparentColor);
    update();
}

void TPopupSpeedButton::requestRepaint()
{
    ++m_repaintRequests;
    update();
}

void TPopupSpeedButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    QAbstractButton::mousePressEvent(event);
    m_pressed = true;
    requestRepaint();
}

void TPopupSpeedButton::mouseMoveEvent(QMouseEvent *event)
{
    QAbstractButton::mouseMoveEvent(event);
    const QPoint p = event->position().toPoint();
    if (p.x() > 0 && p.x() < width() && p.y() > 0 && p.y() < height()) {
        m_inside = true;
        if (m_entered) {
            m_entered = false;
            requestRepaint();
        }
    } else {
        m_entered = true;
        m_inside = false;
        requestRepaint();
    }
}

void TPopupSpeedButton::leaveEvent(QEvent *event)
{
    // Qt tells the button when the mouse leaves instead of the button holding the mouse capture.
    QAbstractButton::leaveEvent(event);
    if (m_inside || !m_entered) {
        m_entered = true;
        m_inside = false;
        requestRepaint();
    }
}

void TPopupSpeedButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_entered = true;
    m_pressed = false;
    QAbstractButton::mouseReleaseEvent(event); // emits clicked() when released over the button
    requestRepaint();
}

void TPopupSpeedButton::nextCheckState()
{
    // Runs just before clicked() is emitted: the button drops back flat before the command runs.
    m_inside = false;
    m_pressed = false;
    update();
}

void TPopupSpeedButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPalette &pal = palette();
    const QColor face = pal.color(QPalette::Button);
    painter.fillRect(rect(), face);
    if (!m_maskedGlyph.isNull()) {
        // Centred by its size in window units: a glyph drawn for a scaled screen has more pixels.
        const QSize glyph = m_maskedGlyph.deviceIndependentSize().toSize();
        const int x = (width() - glyph.width()) / 2;
        const int y = (height() - glyph.height()) / 2;
        if (isEnabled()) {
            painter.drawPixmap(x, y, m_maskedGlyph);
        } else {
            painter.setOpacity(0.35);
            painter.drawPixmap(x, y, m_maskedGlyph);
            painter.setOpacity(1.0);
        }
    }
    const QColor light = pal.color(QPalette::Light);
    const QColor shadow = pal.color(QPalette::Dark);
    auto frame = [&](const QColor &topLeft, const QColor &bottomRight) {
        const int r = width() - 1;
        const int b = height() - 1;
        painter.setPen(topLeft);
        painter.drawLine(0, 0, r, 0);
        painter.drawLine(0, 0, 0, b);
        painter.setPen(bottomRight);
        painter.drawLine(r, 0, r, b);
        painter.drawLine(0, b, r, b);
    };
    if (m_inside && isEnabled()) {
        frame(light, shadow);
        if (m_pressed)
            frame(shadow, light);
    }
}

} // namespace imbrex::controls
