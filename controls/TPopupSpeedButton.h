// A flat toolbar button that rises while the mouse is over it and sinks while it is held down. Its glyph is
// drawn without the pixels of TransparentColor.
#pragma once

#include <QtGui/QColor>
#include <QtGui/QPixmap>
#include <QtWidgets/QAbstractButton>

namespace imbrex::controls {

class TPopupSpeedButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TPopupSpeedButton(QWidget *parent = nullptr);

    void SetGlyph(const QPixmap &glyph);
    QColor TransparentColor() const { return m_transparentColor; }
    void SetTransparentColor(const QColor &color);

    bool pressed() const { return m_pressed; }
    bool inside() const { return m_inside; }
    // How many repaints the mouse handlers asked for; moving within the button asks once, on entry.
    int repaintRequests() const { return m_repaintRequests; }

    QSize sizeHint() const override { return {26, 26}; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void nextCheckState() override;

private:
    void requestRepaint();

    QPixmap m_glyph;
    QPixmap m_maskedGlyph;
    QColor m_transparentColor = Qt::lightGray;
    bool m_pressed = false;
    bool m_inside = false;
    bool m_entered = true;
    int m_repaintRequests = 0;
};

// A copy of pixmap without the pixels of color.
QPixmap withoutColor(const QPixmap &pixmap, const QColor &color);

} // namespace imbrex::controls
