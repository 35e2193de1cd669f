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

bool Dialogs::confirmOverwrite(const QString& path)
{
    return !QFileInfo::exists(path) ||
           confirm(QStringLiteral("文件覆盖"), QStringLiteral("文件已经存在，要覆盖它吗?"), MsgIcon::Warning);
}

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
    // Qt takes the patterns from the last parenthesised group of each entry,
    // separated by blanks; our entries keep theirs in the half after the bar.
    // The dialogs hide that group, so the description shows as written.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString t = p.trimmed();
            // "*.*" means every file, also those without a dot.
            if (!t.isEmpty()) patterns << (t == QLatin1String("*.*") ? QStringLiteral("*") : t);
        }
        if (patterns.isEmpty()) patterns << QStringLiteral("*");
        out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

QString WidgetDialogs::withDefaultExt(const QString& path, const QString& defaultExt)
{
    if (path.isEmpty() || defaultExt.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QLatin1Char('.') + defaultExt;
}

std::optional<QString> WidgetDialogs::fileDialog(bool save, const QString& filter, const QString& defaultExt,
                                                 const QString& fileName)
{
    // As QFileDialog's own getOpen/SaveFileName build it, plus the default
    // suffix: a name typed without an extension gets it, so "app" opens app.map.
    QFileDialog dialog(parent_, QString(), fileName, toQtFilter(filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The overwrite question is the pages' own business.
    dialog.setOptions(save ? QFileDialog::DontConfirmOverwrite | QFileDialog::HideNameFilterDetails
                           : QFileDialog::HideNameFilterDetails);
    dialog.setDefaultSuffix(defaultExt);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
    return files.first();
}

std::optional<QString> WidgetDialogs::openFile(const QString& filter, const QString& defaultExt)
{
    return fileDialog(false, filter, defaultExt, QString());
}

std::optional<QString> WidgetDialogs::saveFile(const QString& filter, const QString& defaultExt)
{
    return saveFile(filter, defaultExt, QString());
}

std::optional<QString> WidgetDialogs::saveFile(const QString& filter, const QString& defaultExt,
                                               const QString& fileName)
{
    const auto f = fileDialog(true, filter, defaultExt, fileName);
    if (!f) return std::nullopt;
    // A dialog of the desktop's own may leave the suffix to us.
    return withDefaultExt(*f, defaultExt);
}

std::optional<QString> WidgetDialogs::inputText(const QString& caption, const QString& prompt, const QString& initial)
{
    bool ok = false;
    QString t = QInputDialog::getText(parent_, caption, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return t;
}

bool WidgetDialogs::editVariable(vars::VarDefinition& def) { return variableEditor_ && variableEditor_(def); }

} // namespace quillon
