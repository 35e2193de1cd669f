// Text typed into the slave table's cells is what the group saves and answers
// with, even while the cell's editor is still open when a button is pressed or
// the line falls quiet.

#include "common/settings_file.h"
#include "tests/serial/serial_page_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QTableWidget>
#include <QToolButton>

using namespace quillon;
using namespace quillon::test;

namespace {

class SlaveTypingTest : public SerialPageTest {
protected:
    QTableWidget* table() { return find<QTableWidget>("vleInteractive"); }

    void becomeSlave()
    {
        click("cbInteractive");
        click("cbMaster");
        ASSERT_TRUE(table()->isVisible());
        frame->activateWindow();
        QApplication::setActiveWindow(frame.get());
    }
    // Double-clicks the cell and types into the editor that opens; the
    // editor stays open unless `enter`.
    void typeIntoCell(int row, int column, const QString& text, bool enter)
    {
        QTableWidget* t = table();
        const QRect cell = t->visualRect(t->model()->index(row, column));
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, cell.center());
        QWidget* editor = t->indexWidget(t->model()->index(row, column));
        ASSERT_TRUE(editor) << "no editor opened";
        editor->setFocus();
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, text);
        if (enter) QTest::keyClick(editor, Qt::Key_Return);
    }
    // A real press of a tool button: it takes no focus, so an open editor stays open.
    void press(const char* name)
    {
        auto* b = find<QToolButton>(name);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    std::string saved(const std::string& key) const
    {
        return SettingsFile(settingsPath()).readText("Slaver Command List", key, "<none>");
    }
};

} // namespace

TEST_F(SlaveTypingTest, SaveTakesTheCellStillBeingTyped)
{
    becomeSlave();
    typeIntoCell(0, 0, "AT", true);
    typeIntoCell(0, 1, "OK", false);
    press("sbInterSave");
    EXPECT_EQ(saved("AT"), "OK");
    // What the table shows and what was saved agree.
    EXPECT_EQ(table()->item(0, 1)->text(), "OK");
}

TEST_F(SlaveTypingTest, AddingARowKeepsTheCellBeingTyped)
{
    becomeSlave();
    typeIntoCell(0, 0, "ATI", false);
    press("sbInterAdd");
    ASSERT_EQ(table()->rowCount(), 2);
    EXPECT_EQ(table()->item(0, 0)->text(), "ATI");
    typeIntoCell(1, 0, "ATZ", false);
    press("sbInterDel");
    ASSERT_EQ(table()->rowCount(), 1);
    press("sbInterSave");
    EXPECT_EQ(saved("ATI"), "");
    EXPECT_EQ(saved("ATZ"), "<none>");
}

TEST_F(SlaveTypingTest, TheReplySendsTheAnswerBeingTypedAndKeepsIt)
{
    openPort();
    becomeSlave();
    typeIntoCell(0, 0, "AT", true);
    typeIntoCell(0, 1, "OK", true);
    typeIntoCell(0, 1, "OK2", false);
    remoteSends("xxATyy", 6);
    EXPECT_EQ(remoteGets(3, 2000), "OK2");
    EXPECT_EQ(table()->item(0, 1)->text(), "OK2");
    press("sbInterSave");
    EXPECT_EQ(saved("AT"), "OK2");
}
