#pragma once
// The one way text and file names cross between Qt and the Qt-free code:
// text is UTF-8 there, file names are in the file system's own encoding.

#include <QString>
#include <string>

namespace quillon {

inline std::string toStd(const QString& s) { return s.toStdString(); }
inline QString fromStd(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A path picked in a dialog or typed in a box, as the system's calls take it.
std::string localPath(const QString& path);
QString pathFromLocal(const std::string& path);

} // namespace quillon
