#include "app/application.h"

#include "app/handler.h"

#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>
#include <clocale>

namespace quillon {

QuillonApplication::QuillonApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // QApplication adopts the user's locale, which under a comma locale makes
    // strtold stop at the '.' our number fields use and printf write "25,00"
    // into generated code; numbers are always read and written with a point.
    std::setlocale(LC_NUMERIC, "C");
    setApplicationName(QStringLiteral("Quillon"));
    setApplicationDisplayName(QStringLiteral("Quillon"));
    setApplicationVersion(QStringLiteral(QUILLON_VERSION));
    installQtTranslations(*this);
}

bool QuillonApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportException();
        return false;
    }
}

void installQtTranslations(QApplication& app)
{
    // The program speaks Simplified Chinese whatever the desktop's locale;
    // Qt's own dialogs and standard buttons should too.
    auto* qt = new QTranslator(&app);
    if (qt->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qt);
    else
        delete qt;
}

void applyProgramLook(QApplication& app)
{
    if (auto* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(12);
    app.setFont(font);
}

} // namespace quillon
