#include "app/application.h"
#include "app/mainform.h"
#include "app/qt_text.h"
#include "common/settings_file.h"
#include "vars/varform.h"

#include <QMessageBox>
#include <exception>

int main(int argc, char** argv)
{
    quillon::QuillonApplication app(argc, argv);
    try {
        quillon::applyProgramLook(app);
        quillon::FrameOptions options;
        options.settingsPath =
            quillon::SettingsFile::locationFor(quillon::localPath(QCoreApplication::applicationFilePath()));
        quillon::TfrmMain frmMain(options);
        // Hidden until a variable is added or edited.
        quillon::vars::TfrmVar frmVar(frmMain.dialogs(), &frmMain);
        frmMain.setVariableDialog(&frmVar);
        frmMain.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Quillon"), QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("Quillon"), QStringLiteral("Unknown error"));
    }
    return 1;
}
