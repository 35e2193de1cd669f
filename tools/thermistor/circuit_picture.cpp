#include "tools/thermistor/circuit_picture.h"

#include <QPainter>
#include <QPalette>

namespace quillon::thermistor {

namespace {

// One divider centred on x: top part, ADC node, bottom part, ground.
void drawDivider(QPainter& p, int x, int top, int bottom, const QString& upper, const QString& lower)
{
    const int resH = 24, resW = 12;
    const int span = bottom - top;
    const int node = top + span / 2;
    const int r1 = top + 14, r2 = node + 8;

    p.drawText(QRect(x - 20, top - 14, 40, 14), Qt::AlignCenter, QStringLiteral("Vcc"));
    p.drawLine(x, top, x, r1);
    p.drawRect(x - resW / 2, r1, resW, resH);
    p.drawLine(x, r1 + resH, x, r2);
    p.drawRect(x - resW / 2, r2, resW, resH);
    p.drawLine(x, r2 + resH, x, bottom);
    // Ground symbol.
    p.drawLine(x - 10, bottom, x + 10, bottom);
    p.drawLine(x - 6, bottom + 3, x + 6, bottom + 3);
    p.drawLine(x - 2, bottom + 6, x + 2, bottom + 6);

    p.drawText(QRect(x - resW / 2 - 26, r1, 24, resH), Qt::AlignRight | Qt::AlignVCenter, upper);
    p.drawText(QRect(x - resW / 2 - 26, r2, 24, resH), Qt::AlignRight | Qt::AlignVCenter, lower);

    // The ADC input taps the middle node.
    p.setBrush(p.pen().color());
    p.drawEllipse(QPoint(x, node), 2, 2);
    p.setBrush(Qt::NoBrush);
    p.drawLine(x, node, x + 16, node);
    p.drawText(QRect(x + 18, node - 8, 30, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ADC"));
}

} // namespace

QPixmap drawDividerPicture(QSize size, const QFont& font)
{
    QPixmap pix(size);
    pix.fill(Qt::white);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont f = font;
    f.setPixelSize(11);
    p.setFont(f);
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(0, 0, size.width() - 1, size.height() - 1);
    const int top = 18, bottom = size.height() - 12;
    drawDivider(p, size.width() / 4 + 4, top, bottom, QStringLiteral("Rt"), QStringLiteral("R"));
    drawDivider(p, size.width() * 3 / 4 - 4, top, bottom, QStringLiteral("R"), QStringLiteral("Rt"));
    return pix;
}

} // namespace quillon::thermistor
