#include "Glyphs.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

namespace imbrex::ui {

namespace {

void drawPage(QPainter &p, int x, int y)
{
    QPainterPath page;
    page.moveTo(x, y);
    page.lineTo(x + 8, y);
    page.lineTo(x + 11, y + 3);
    page.lineTo(x + 11, y + 14);
    page.lineTo(x, y + 14);
    page.closeSubpath();
    p.setPen(QColor(40, 40, 40));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawLine(x + 8, y, x + 8, y + 3);
    p.drawLine(x + 8, y + 3, x + 11, y + 3);
}

void drawDisk(QPainter &p, int x, int y)
{
    p.setPen(QColor(20, 40, 90));
    p.setBrush(QColor(60, 100, 190));
    p.drawRect(x, y, 10, 10);
    p.setBrush(QColor(220, 220, 220));
    p.drawRect(x + 2, y, 6, 3);
}

// A pixmap of size window units filled with background, ready to be painted in those units.
QPixmap canvas(QSize size, qreal ratio, const QColor &background)
{
    if (ratio <= 0)
        ratio = qApp->devicePixelRatio();
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(background);
    return pixmap;
}

} // namespace

QPixmap glyphPixmap(Glyph glyph, qreal ratio)
{
    QPixmap pixmap = canvas(QSize(18, 18), ratio, kGlyphBackground);
    QPainter p(&pixmap);
    switch (glyph) {
    case Glyph::NewImage:
        drawPage(p, 3, 1);
        p.setPen(QPen(QColor(230, 160, 0), 2));
        p.drawLine(13, 11, 17, 15);
        p.drawLine(17, 11, 13, 15);
        break;
    case Glyph::OpenImage:
        p.setPen(QColor(100, 70, 0));
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(1, 5, 14, 10);
        p.setBrush(QColor(250, 225, 130));
        p.drawPolygon(QPolygon({QPoint(3, 8), QPoint(17, 8), QPoint(15, 15), QPoint(1, 15)}));
        break;
    case Glyph::Copy:
        drawPage(p, 1, 1);
        drawPage(p, 6, 3);
        break;
    case Glyph::Delete:
        drawDisk(p, 1, 1);
        p.setPen(QPen(QColor(200, 0, 0), 2));
        p.drawLine(8, 8, 16, 16);
        p.drawLine(16, 8, 8, 16);
        break;
    case Glyph::FileRestore:
        drawDisk(p, 1, 1);
        drawPage(p, 6, 3);
        p.setPen(QPen(QColor(0, 130, 0), 2));
        p.drawLine(9, 11, 15, 11);
        p.drawLine(12, 8, 15, 11);
        p.drawLine(12, 14, 15, 11);
        break;
    }
    return pixmap;
}

QPixmap logoPixmap(qreal ratio)
{
    QPixmap pixmap = canvas(QSize(120, 32), ratio, kLogoBackground);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor tiles[] = {QColor(0xe0, 0x7a, 0x2f), QColor(0xc9, 0x5b, 0x1a), QColor(0xf2, 0xa6, 0x5a)};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QColor(0x3a, 0x1c, 0x08));
        p.setBrush(tiles[i]);
        p.drawRect(2 + i * 7, 6 + i * 4, 16, 10);
    }
    p.setPen(QColor(0x1d, 0x4e, 0x89));
    p.setFont(QFont(QStringLiteral("Sans"), 13, QFont::Bold));
    p.drawText(QRect(36, 0, 84, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Imbrex"));
    return pixmap;
}

QIcon programIcon()
{
    QIcon icon;
    const QColor tiles[] = {QColor(0xe0, 0x7a, 0x2f), QColor(0xc9, 0x5b, 0x1a), QColor(0xf2, 0xa6, 0x5a)};
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0); // drawn on the 64-unit grid of the SVG icon
        p.setPen(QPen(QColor(0x3a, 0x1c, 0x08), 2));
        for (int i = 0; i < 3; ++i) {
            p.setBrush(tiles[i]);
            p.drawRoundedRect(QRectF(4 + i * 8, 8 + i * 12, 40, 26), 3, 3);
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace imbrex::ui
