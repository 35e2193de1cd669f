#pragma once

#include <QApplication>

namespace quillon {

// The QApplication of the program: an exception that escapes an event handler
// is reported like one from a connected handler, and the program goes on.
class QuillonApplication : public QApplication {
public:
    QuillonApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Qt's own texts (file dialogs, standard buttons) in the program's language,
// from the system's Qt translations; English where they are not installed.
void installQtTranslations(QApplication& app);

// The window font and palette every page is laid out for.
void applyProgramLook(QApplication& app);

} // namespace quillon
