// A picture drawn without the pixels of one colour, at the control's top left corner.
#pragma once

#include <QtGui/QColor>
#include <QtGui/QPixmap>
#include <QtWidgets/QWidget>

namespace imbrex::controls {

class TTransparentImage : public QWidget
{
    Q_OBJECT
public:
    explicit TTransparentImage(QWidget *parent = nullptr);

    void SetPicture(const QPixmap &picture);
    QColor TransparentColor() const { return m_transparentColor; }
    void SetTransparentColor(const QColor &color);
    // Draws the picture with its top left corner at (x, y).
    void Draw(QPainter &painter, int x, int y) const;

    QSize sizeHint() const override
    {
        return m_picture.isNull() ? QSize(0, 0) : m_picture.deviceIndependentSize().toSize();
    }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
    QPixmap m_masked;
    QColor m_transparentColor = Qt::white;
};

} // namespace imbrex::controls
