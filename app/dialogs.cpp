#include "app/dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

namespace quillon {

namespace {

QMessageBox::Icon toQt(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void WidgetDialogs::message(const QString& caption, const QString& text, MsgIcon icon)
{
    QMessageBox box(toQt(icon), caption, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool WidgetDialogs::confirm(const QString& caption, const QString& text, MsgIcon icon)
{
    QMessageBox box(toQt(icon), caption, text, QMessageBox::Ok | QMessageBox::Cancel, parent_);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

QString WidgetDialogs::toQtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) out << parts[i];
    return out.join(QStringLiteral(";;"));
}

QString WidgetDialogs::withDefaultExt(const QString& path, const QString& defaultExt)
{
    if (path.isEmpty() || defaultExt.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QLatin1Char('.') + defaultExt;
}

std::optional<QString> WidgetDialogs::openFile(const QString& filter, const QString& defaultExt)
{
    QString f = QFileDialog::getOpenFileName(parent_, QString(), QString(), toQtFilter(filter));
    if (f.isEmpty()) return std::nullopt;
    return f;
}

std::optional<QString> WidgetDialogs::saveFile(const QString& filter, const QString& defaultExt)
{
    return saveFile(filter, defaultExt, QString());
}

std::optional<QString> WidgetDialogs::saveFile(const QString& filter, const QString& defaultExt,
                                               const QString& fileName)
{
    // The overwrite question is the pages' own business.
    QString f = QFileDialog::getSaveFileName(parent_, QString(), fileName, toQtFilter(filter), nullptr,
                                             QFileDialog::DontConfirmOverwrite);
    if (f.isEmpty()) return std::nullopt;
    return withDefaultExt(f, defaultExt);
}

std::optional<QString> WidgetDialogs::inputText(const QString& caption, const QString& prompt, const QString& initial)
{
    bool ok = false;
    QString t = QInputDialog::getText(parent_, caption, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return t;
}

} // namespace quillon
