#pragma once
// The status bar's panels and the texts the serial pages put in them.

#include <QString>

namespace quillon {

enum StatusPanel : int { PanelTitle = 0, PanelReceived = 1, PanelSent = 2, PanelPort = 3, PanelClock = 4 };

inline QString receivedPanelText(long long total) { return QStringLiteral("接收: %1").arg(total); }
inline QString sentPanelText(long long total) { return QStringLiteral("发送: %1").arg(total); }
inline QString portClosedText() { return QStringLiteral("关闭"); }
inline QString portFailedText() { return QStringLiteral("通讯出错！"); }
inline QString portStateText(const QString& name, int baud)
{
    return name + QStringLiteral(": ") + QString::number(baud);
}

} // namespace quillon
