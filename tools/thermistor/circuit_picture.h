#pragma once
// The little schematic beside the circuit choice: the two dividers between
// Vcc and ground with the ADC input at the middle node.

#include <QFont>
#include <QPixmap>
#include <QSize>

namespace quillon::thermistor {

QPixmap drawDividerPicture(QSize size, const QFont& font);

} // namespace quillon::thermistor
