#include "app/dialogs.h"
#include "tests/support/temp_dir.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>
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
