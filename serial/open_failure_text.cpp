#include "serial/open_failure_text.h"

#include "platform/comm_port.h"

#include <cstring>

namespace quillon::serial {

namespace {

// The second line: why, in the user's terms.
QString openFailureReason(const platform::PortOpenFailure& failure)
{
    using Reason = platform::PortOpenFailure::Reason;
    switch (failure.reason) {
    case Reason::NoPermission: {
        const QString group =
            failure.deviceGroup.empty() ? QStringLiteral("dialout") : QString::fromStdString(failure.deviceGroup);
        return QStringLiteral("没有使用该串口的权限。把用户加入 %1 组并重新登录通常即可解决。").arg(group);
    }
    case Reason::InUse:
        if (failure.holderPid > 0)
            return QStringLiteral("该串口正被其他程序占用：%1（进程 %2）。")
                .arg(QString::fromStdString(failure.holderName))
                .arg(failure.holderPid);
        return QStringLiteral("该串口正被其他程序占用。");
    case Reason::Gone: return QStringLiteral("该串口已不存在，设备可能已被拔出。");
    case Reason::NotAPort: return QStringLiteral("该设备不是串口。");
    case Reason::Other:
        return QStringLiteral("系统报告：%1。").arg(QString::fromLocal8Bit(std::strerror(failure.error)));
    case Reason::None: break;
    }
    return {};
}

} // namespace

QString openFailureText(const platform::PortOpenFailure& failure)
{
    QString text = QStringLiteral("打开串口时出错!");
    const QString reason = openFailureReason(failure);
    if (!reason.isEmpty()) text += QLatin1Char('\n') + reason;
    return text;
}

} // namespace quillon::serial
