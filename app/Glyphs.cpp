#include "app/Glyphs.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace kelvo {

namespace {

const QColor kInk(40, 40, 40);
const QColor kPaper(255, 255, 255);
const QColor kBlue(40, 90, 180);
const QColor kYellow(230, 190, 60);
const QColor kRed(200, 40, 40);

void sheet(QPainter& p, QRect r)
{
    p.setPen(kInk);
    p.setBrush(kPaper);
    p.drawRect(r);
}

void window(QPainter& p, QRect r)
{
    p.setPen(kInk);
    p.setBrush(kPaper);
    p.drawRect(r);
    p.fillRect(QRect(r.left() + 1, r.top() + 1, r.width() - 1, 2), kBlue);
}

void arrow(QPainter& p, bool left)
{
    QPainterPath path;
    path.moveTo(left ? 12 : 3, 12);
    path.cubicTo(left ? 13 : 2, 4, left ? 6 : 9, 3, left ? 4 : 11, 6);
    p.setPen(QPen(kBlue, 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.setBrush(kBlue);
    p.setPen(Qt::NoPen);
    const QPolygon head = left ? QPolygon({QPoint(1, 4), QPoint(7, 3), QPoint(4, 9)})
                               : QPolygon({QPoint(14, 4), QPoint(8, 3), QPoint(11, 9)});
    p.drawPolygon(head);
}

void magnifier(QPainter& p, QPoint c, int r)
{
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(QColor(200, 230, 255));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(kInk, 2.5));
    p.drawLine(c + QPoint(r - 1, r - 1), c + QPoint(r + 3, r + 3));
}

// A flatbed scanner seen from the front: the body, its glass with the scanning light, the
// lid raised behind it. Drawn on a 64-unit grid scaled to `size`; packaging/kelvobild.svg
// is the same drawing.
void drawScanner(QPainter& p, double size)
{
    p.save();
    p.scale(size / 64.0, size / 64.0);
    const double pen = std::max(2.0, 64.0 / size);
    p.setPen(QPen(kInk, pen, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.setBrush(QColor(200, 205, 215));
    p.drawPolygon(QPolygonF({QPointF(6, 34), QPointF(58, 34), QPointF(50, 6), QPointF(14, 6)}));
    p.setBrush(QColor(90, 100, 120));
    p.drawRoundedRect(QRectF(3, 34, 58, 24), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 200, 240));
    p.drawRect(QRectF(9, 38, 46, 7));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(QRectF(9, 40, 46, 3));
    p.setBrush(QColor(60, 220, 90));
    p.drawEllipse(QPointF(52, 51), 3.5, 3.5);
    p.restore();
}

void draw(QPainter& p, int index)
{
    switch (index) {
    case GlyphCut:
        p.setPen(QPen(kInk, 1.3));
        p.drawLine(5, 1, 10, 10);
        p.drawLine(10, 1, 5, 10);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kRed, 1.5));
        p.drawEllipse(QPoint(4, 12), 2, 2);
        p.drawEllipse(QPoint(11, 12), 2, 2);
        break;
    case GlyphCopy:
        sheet(p, QRect(1, 1, 8, 10));
        sheet(p, QRect(6, 4, 8, 10));
        break;
    case GlyphPaste:
        p.setPen(kInk);
        p.setBrush(QColor(170, 120, 60));
        p.drawRect(2, 2, 10, 12);
        p.setBrush(Qt::gray);
        p.drawRect(5, 1, 4, 2);
        sheet(p, QRect(7, 6, 7, 8));
        break;
    case GlyphUndo: arrow(p, true); break;
    case GlyphRedo: arrow(p, false); break;
    case GlyphDelete:
        p.setPen(QPen(Qt::black, 3));
        p.drawLine(3, 3, 12, 12);
        p.drawLine(12, 3, 3, 12);
        break;
    case GlyphNew:
        sheet(p, QRect(3, 1, 10, 14));
        break;
    case GlyphOpen:
        p.setPen(kInk);
        p.setBrush(kYellow);
        p.drawRect(1, 5, 11, 9);
        p.setBrush(kYellow.lighter(120));
        p.drawPolygon(QPolygon({QPoint(3, 8), QPoint(15, 8), QPoint(12, 14), QPoint(1, 14)}));
        p.setPen(QPen(kBlue, 1.3));
        p.drawArc(QRect(8, 1, 6, 6), 0, 180 * 16);
        break;
    case GlyphSave:
        p.setPen(kInk);
        p.setBrush(kBlue);
        p.drawRect(1, 1, 14, 14);
        p.fillRect(QRect(4, 2, 8, 5), kPaper);
        p.fillRect(QRect(4, 10, 8, 5), QColor(190, 190, 190));
        break;
    case GlyphPreview:
        sheet(p, QRect(1, 1, 10, 13));
        magnifier(p, QPoint(9, 9), 3);
        break;
    case GlyphHand:
        sheet(p, QRect(1, 1, 10, 13));
        p.setBrush(QColor(240, 200, 160));
        p.setPen(kInk);
        p.drawEllipse(QRect(7, 8, 7, 7));
        break;
    case GlyphHelp:
        p.setPen(QPen(kInk, 1));
        p.setBrush(kPaper);
        p.drawPolygon(QPolygon({QPoint(1, 1), QPoint(1, 12), QPoint(4, 9), QPoint(7, 14), QPoint(8, 13), QPoint(6, 8), QPoint(9, 8)}));
        p.setPen(kBlue);
        p.setFont(QFont(QStringLiteral("Sans"), 8, QFont::Bold));
        p.drawText(QRect(8, 0, 8, 10), Qt::AlignCenter, QStringLiteral("?"));
        break;
    case GlyphFind:
        magnifier(p, QPoint(6, 6), 4);
        break;
    case GlyphFindArrows:
        magnifier(p, QPoint(5, 5), 3);
        p.setPen(QPen(kRed, 1.5));
        p.drawLine(10, 4, 15, 4);
        p.drawLine(13, 2, 15, 4);
        p.drawLine(10, 12, 15, 12);
        p.drawLine(13, 10, 15, 12);
        break;
    case GlyphScanner:
        // The program icon small: a flatbed scanner with its lid open and the light on.
        drawScanner(p, 16.0);
        break;
    case GlyphTileHorizontal:
        window(p, QRect(1, 1, 14, 6));
        window(p, QRect(1, 8, 14, 6));
        break;
    case GlyphTileVertical:
        window(p, QRect(1, 1, 6, 14));
        window(p, QRect(8, 1, 6, 14));
        break;
    case GlyphCascade:
        window(p, QRect(1, 1, 9, 8));
        window(p, QRect(4, 4, 9, 8));
        window(p, QRect(6, 7, 9, 8));
        break;
    default:
        break;
    }
}

} // namespace

QPixmap glyphPixmap(int index)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, index);
    return pm;
}

QIcon glyphIcon(int index)
{
    return QIcon(glyphPixmap(index));
}

QPixmap programIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawScanner(p, size);
    return pm;
}

} // namespace kelvo
