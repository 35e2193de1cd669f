#pragma once
// The picture above the segment boxes: the 7-, 14- and 16-segment layouts
// side by side, each segment labelled with the name its box carries.

#include <QPixmap>
#include <QSize>

class QFont;

namespace quillon::led {

QPixmap segmentPicture(QSize size, const QFont& font);

} // namespace quillon::led
