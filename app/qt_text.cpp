#include "app/qt_text.h"

#include <QFile>

namespace quillon {

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString pathFromLocal(const std::string& path)
{
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

} // namespace quillon
