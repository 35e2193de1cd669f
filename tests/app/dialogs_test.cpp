#include "app/dialogs.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace quillon;
using quillon::test::TempDir;

namespace {

struct FilterCase {
    const char* filter;     // as the page hands it over
    const char* qtFilter;   // as Qt receives it
    QStringList firstLists; // what the first entry shows of kFiles
};

const QStringList kFiles = {"a.hex", "b.bin", "c.eep", "d.dat", "e.log", "f.txt", "firmware", "g.map"};

// Every file filter the pages use.
const FilterCase kCases[] = {
    {"Data files (*.hex,*.bin,*.eep,*.dat)|*.hex;*.bin;*.eep;*.dat|All files (*.*)|*.*",
     "Data files (*.hex,*.bin,*.eep,*.dat) (*.hex *.bin *.eep *.dat);;All files (*.*) (*)",
     {"a.hex", "b.bin", "c.eep", "d.dat"}},
    {"Data files (*.dat)|*.dat;*.hex;*.bin;*.eep|All files (*.*)|*.*",
     "Data files (*.dat) (*.dat *.hex *.bin *.eep);;All files (*.*) (*)",
     {"a.hex", "b.bin", "c.eep", "d.dat"}},
    {"Data files (*.dat)|*.dat;*.hex;*.eep|All files (*.*)|*.*",
     "Data files (*.dat) (*.dat *.hex *.eep);;All files (*.*) (*)",
     {"a.hex", "c.eep", "d.dat"}},
    {"Data files (*.dat)|*.dat|All files (*.*)|*.*", "Data files (*.dat) (*.dat);;All files (*.*) (*)", {"d.dat"}},
    {"Log files (*.log)|*.log|All files (*.*)|*.*", "Log files (*.log) (*.log);;All files (*.*) (*)", {"e.log"}},
    {"Map files (*.map)|*.map|All files (*.*)|*.*", "Map files (*.map) (*.map);;All files (*.*) (*)", {"g.map"}},
    {"All files (*.*)|*.*", "All files (*.*) (*)", kFiles},
};

// Names the dialog lists in its folder once the folder has been read.
QStringList listedFiles(QFileDialog& dialog)
{
    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    if (!view) return {};
    QStringList names;
    // The folder is read on a thread; wait until the listing stops growing.
    int stable = 0;
    for (int round = 0; round < 200 && stable < 5; ++round) {
        QTest::qWait(10);
        const QModelIndex root = view->rootIndex();
        QStringList now;
        for (int i = 0; i < view->model()->rowCount(root); ++i)
            now << view->model()->index(i, 0, root).data().toString();
        stable = (now == names && !now.isEmpty()) ? stable + 1 : 0;
        names = now;
    }
    names.sort();
    return names;
}

} // namespace

TEST(FileDialogs, ShowTheFilesTheirPatternsNameUnderTheirOwnDescription)
{
    TempDir dir;
    for (const QString& name : kFiles) TempDir::writeFile(dir.file(name.toStdString()), "x");
    for (const auto& c : kCases) {
        const QString qtFilter = WidgetDialogs::toQtFilter(QString::fromUtf8(c.filter));
        EXPECT_EQ(qtFilter.toStdString(), c.qtFilter);

        // Qt's own dialog given that string, with the options ours use.
        QFileDialog dialog;
        dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(qtFilter.split(QStringLiteral(";;")));
        dialog.setDirectory(QString::fromStdString(dir.path()));
        QStringList expected = c.firstLists;
        expected.sort();
        EXPECT_EQ(listedFiles(dialog).join(QLatin1Char(' ')).toStdString(),
                  expected.join(QLatin1Char(' ')).toStdString())
            << c.filter;

        // The drop-down shows the descriptions exactly as the page wrote them.
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_TRUE(combo);
        const QStringList parts = QString::fromUtf8(c.filter).split(QLatin1Char('|'));
        ASSERT_EQ(combo->count() * 2, parts.size());
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_EQ(combo->itemText(i).toStdString(), parts[2 * i].toStdString());
    }
}

// Qt's own texts follow the program's language.
TEST(FileDialogs, QtsOwnButtonsAndLabelsAreChinese)
{
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Open);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().toStdString(), "取消");
    EXPECT_EQ(box.button(QDialogButtonBox::Open)->text().toStdString(), "打开");
    QFileDialog dialog;
    dialog.setOptions(QFileDialog::DontUseNativeDialog);
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("fileTypeLabel"));
    ASSERT_TRUE(label);
    EXPECT_NE(label->text(), QStringLiteral("Files of type:"));
}

namespace {

// Types `name` into the real file dialog that `open` brings up and presses
// Enter. A dialog that refuses the name (Qt says "file not found") is
// cancelled, so the call comes back either way.
std::optional<QString> typeIntoFileDialog(const QString& name, const std::function<std::optional<QString>()>& open)
{
    bool typed = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->reject();
            if (auto* dialog = qobject_cast<QFileDialog*>(box->parentWidget())) dialog->reject();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog || typed) return;
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return;
        typed = true;
        // Queued: a box the dialog opens on Enter runs its own event loop,
        // and this timer must be free to fire in it.
        QMetaObject::invokeMethod(
            edit,
            [edit, name] {
                edit->setFocus();
                QTest::keyClicks(edit, name);
                QTest::keyClick(edit, Qt::Key_Return);
            },
            Qt::QueuedConnection);
    });
    driver.start(20);
    return open();
}

} // namespace

TEST(FileDialogs, ANameTypedWithoutExtensionTakesTheDefaultOne)
{
    TempDir dir;
    TempDir::writeFile(dir.file("app.map"), "x");
    TempDir::writeFile(dir.file("app.mp"), "x");
    WidgetDialogs dialogs;
    const QString map = QStringLiteral("Map files (*.map,*.mp)|*.map;*.mp|All files (*.*)|*.*");
    const QString base = QString::fromStdString(dir.file("app"));
    auto opened = typeIntoFileDialog(base, [&] { return dialogs.openFile(map, QStringLiteral("map")); });
    EXPECT_EQ(opened.value_or(QStringLiteral("<cancelled>")).toStdString(), dir.file("app.map"));
    // A name with an extension stays as typed.
    opened =
        typeIntoFileDialog(base + QStringLiteral(".mp"), [&] { return dialogs.openFile(map, QStringLiteral("map")); });
    EXPECT_EQ(opened.value_or(QStringLiteral("<cancelled>")).toStdString(), dir.file("app.mp"));
    // Saving: the new file's name gets the extension too.
    const auto saved = typeIntoFileDialog(QString::fromStdString(dir.file("table")), [&] {
        return dialogs.saveFile(QStringLiteral("Data files (*.dat)|*.dat|All files (*.*)|*.*"), QStringLiteral("dat"));
    });
    EXPECT_EQ(saved.value_or(QStringLiteral("<cancelled>")).toStdString(), dir.file("table.dat"));
}
