#include "tools/led/segment_picture.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace quillon::led {

namespace {

const QColor kSegment(214, 60, 52);
const QColor kInner(230, 120, 110);
const QColor kText(30, 30, 30);

// A bar between two points, pointed at both ends like a real display segment.
QPolygonF bar(QPointF from, QPointF to, qreal thick)
{
    QLineF line(from, to);
    const qreal len = line.length();
    const QPointF u = (to - from) / len;
    const QPointF n(-u.y(), u.x());
    const qreal h = thick / 2;
    const qreal gap = 1.5;
    QPointF a = from + u * gap, b = to - u * gap;
    return QPolygonF({a, a + u * h + n * h, b - u * h + n * h, b, b - u * h - n * h, a + u * h - n * h});
}

struct Cell {
    QRectF r; // the outline the outer segments run along
    qreal thick;
};

void label(QPainter& p, QPointF at, const QString& name)
{
    QRectF box(at.x() - 12, at.y() - 7, 24, 14);
    p.setPen(kText);
    p.drawText(box, Qt::AlignCenter, name);
}

void drawBar(QPainter& p, QPointF a, QPointF b, qreal thick, const QColor& color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(bar(a, b, thick));
}

// Diagonal from the centre towards a corner, kept clear of the outer bars.
void drawDiagonal(QPainter& p, const Cell& c, QPointF corner)
{
    const QPointF centre = c.r.center();
    const qreal inset = c.thick * 1.1;
    QPointF from = centre;
    QPointF to(corner.x() + (corner.x() < centre.x() ? inset : -inset),
               corner.y() + (corner.y() < centre.y() ? inset : -inset));
    QLineF l(from, to);
    l.setLength(l.length() - 1.5);
    QLineF back(l.p2(), l.p1());
    back.setLength(back.length() - inset * 0.55);
    QPen pen(kInner, c.thick * 0.75, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(back);
}

struct Edges {
    qreal left, right, top, bottom, middle, centre;
};

Edges edgesOf(const QRectF& r) { return {r.left(), r.right(), r.top(), r.bottom(), r.center().y(), r.center().x()}; }

void drawSegments(QPainter& p, const Cell& c, int segments)
{
    const auto [L, R, T, B, M, X] = edgesOf(c.r);
    const qreal t = c.thick;
    const bool split = segments == 16;

    // Outer frame.
    if (split) {
        drawBar(p, {L, T}, {X, T}, t, kSegment);
        drawBar(p, {X, T}, {R, T}, t, kSegment);
        drawBar(p, {L, B}, {X, B}, t, kSegment);
        drawBar(p, {X, B}, {R, B}, t, kSegment);
    } else {
        drawBar(p, {L, T}, {R, T}, t, kSegment);
        drawBar(p, {L, B}, {R, B}, t, kSegment);
    }
    drawBar(p, {R, T}, {R, M}, t, kSegment);
    drawBar(p, {R, M}, {R, B}, t, kSegment);
    drawBar(p, {L, M}, {L, B}, t, kSegment);
    drawBar(p, {L, T}, {L, M}, t, kSegment);
    if (segments == 7) {
        drawBar(p, {L, M}, {R, M}, t, kSegment);
    } else {
        drawBar(p, {L, M}, {X, M}, t, kSegment);
        drawBar(p, {X, M}, {R, M}, t, kSegment);
        drawBar(p, {X, T}, {X, M}, t * 0.8, kInner);
        drawBar(p, {X, M}, {X, B}, t * 0.8, kInner);
        drawDiagonal(p, c, {L, T});
        drawDiagonal(p, c, {R, T});
        drawDiagonal(p, c, {L, B});
        drawDiagonal(p, c, {R, B});
    }
}

// Names: outer segments outside the frame, inner ones in their quarter.
void drawSegmentNames(QPainter& p, const Cell& c, int segments)
{
    const auto [L, R, T, B, M, X] = edgesOf(c.r);
    const qreal t = c.thick;
    const bool split = segments == 16;
    const qreal off = t / 2 + 7;
    if (split) {
        label(p, {(L + X) / 2, T - off}, "A1");
        label(p, {(X + R) / 2, T - off}, "A2");
        label(p, {(L + X) / 2, B + off}, "D1");
        label(p, {(X + R) / 2, B + off}, "D2");
    } else {
        label(p, {X, T - off}, "A");
        label(p, {X, B + off}, "D");
    }
    label(p, {R + off + 3, (T + M) / 2}, "B");
    label(p, {R + off + 3, (M + B) / 2}, "C");
    label(p, {L - off - 3, (M + B) / 2}, "E");
    label(p, {L - off - 3, (T + M) / 2}, "F");
    if (segments == 7) {
        label(p, {X, M - t / 2 - 8}, "G");
        return;
    }
    label(p, {L - off - 6, M}, "G1");
    label(p, {R + off + 6, M}, "G2");
    // Each inner diagonal splits its quarter in two; every name sits in a
    // triangle of its own so no two names meet.
    const qreal w = X - L, h = M - T;
    label(p, {L + 0.30 * w, T + 0.70 * h}, "H");
    label(p, {R - 0.30 * w, T + 0.70 * h}, "K");
    label(p, {L + 0.30 * w, M + 0.30 * h}, "N");
    label(p, {R - 0.30 * w, M + 0.30 * h}, "L");
    label(p, {X + 0.30 * w, T + 0.22 * h}, "J");
    label(p, {X - 0.30 * w, B - 0.22 * h}, "M");
}

void drawDisplay(QPainter& p, const Cell& c, int segments)
{
    drawSegments(p, c, segments);
    drawSegmentNames(p, c, segments);
}

} // namespace

QPixmap segmentPicture(QSize size, const QFont& font)
{
    QPixmap pix(size);
    pix.fill(Qt::white);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QFont small = font;
    small.setPixelSize(10);
    p.setFont(small);

    const qreal cellWidth = size.width() / 3.0;
    const qreal titleHeight = 16;
    const qreal top = 21, bottom = size.height() - titleHeight - 19;
    const qreal digitWidth = qMin(cellWidth - 60, (bottom - top) * 0.7);
    const int kinds[] = {7, 14, 16};
    const char* titles[] = {"7 segments", "14 segments", "16 segments"};
    for (int i = 0; i < 3; ++i) {
        const qreal cx = cellWidth * i + cellWidth / 2;
        Cell cell{QRectF(cx - digitWidth / 2, top, digitWidth, bottom - top), qMax<qreal>(5, digitWidth / 9)};
        drawDisplay(p, cell, kinds[i]);
        p.setPen(kText);
        QFont titleFont = font;
        p.setFont(titleFont);
        p.drawText(QRectF(cellWidth * i, size.height() - titleHeight - 1, cellWidth, titleHeight), Qt::AlignCenter,
                   titles[i]);
        p.setFont(small);
    }
    p.setPen(QColor(160, 160, 160));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1));
    return pix;
}

} // namespace quillon::led
