// The variable box of the serial page, driven through its controls with the
// variable dialog scripted (or run for real inside a scripted answer).

#include "serial/comtest_page.h"
#include "tests/support/frame_fixture.h"
#include "vars/var_group.h"
#include "vars/varform.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <fstream>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::test;
using vars::VarDefinition;

namespace {

class VarGroupTest : public FrameTest {
protected:
    void SetUp() override { makeFrame(); }

    QTreeWidget* lv() { return find<QTreeWidget>("lvCOMVars"); }
    void click(const char* name) { find<QAbstractButton>(name)->click(); }
    vars::VarList& list() { return frame->comTestPage()->session().watchedVariables(); }

    // Every shown row as "No.|name|value|type|offset|mask|format|checked".
    std::vector<QString> shown()
    {
        std::vector<QString> out;
        for (int i = 0; i < lv()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* it = lv()->topLevelItem(i);
            QStringList cols;
            for (int c = 0; c < 7; ++c) cols << it->text(c);
            cols << (it->checkState(0) == Qt::Checked ? "on" : "off");
            out.push_back(cols.join('|'));
        }
        return out;
    }
    // Adds a row through the dialog, letting `change` edit the proposed record.
    void add(std::function<void(VarDefinition&)> change = {})
    {
        dialogs.variableAnswers.push_back([change](VarDefinition& d) {
            if (change) change(d);
            return true;
        });
        click("btnAddVars");
    }
    void select(std::initializer_list<int> rows)
    {
        lv()->clearSelection();
        for (int r : rows) lv()->topLevelItem(r)->setSelected(true);
    }
    std::string writeMap(const std::string& text)
    {
        const std::string path = dir.file("app.map");
        TempDir::writeFile(path, text);
        return path;
    }
};

const char* const kMap = " 0100 __bss_start\r\n 0100 _a\r\n 0101 _b\r\n 0103 _buf\r\n 0113 __bss_end\r\n";

} // namespace

TEST_F(VarGroupTest, ControlsOfTheBoxAndItsHiddenModemBox)
{
    auto* group = find<QGroupBox>("GroupBox20");
    EXPECT_EQ(group->title(), "变量监视");
    EXPECT_EQ(group->parentWidget(), frame->comTestPage());
    // Inside the page area of the fixed window.
    EXPECT_EQ(group->geometry(), ComTestPage::groupRect(ComTestPage::GroupSlot::Variables));
    EXPECT_TRUE(QRect(0, 0, 789, 470).contains(group->geometry()));
    EXPECT_EQ(lv()->toolTip(), "以变量方式显示通讯内容");
    EXPECT_EQ(lv()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(lv()->editTriggers(), QAbstractItemView::NoEditTriggers);
    QStringList headers;
    for (int c = 0; c < lv()->columnCount(); ++c) headers << lv()->headerItem()->text(c);
    EXPECT_EQ(headers.join(','), "No.,变量标识,变量值,类型,偏移量,掩码/长度,显示方式");
    EXPECT_EQ(lv()->columnWidth(0), 30);
    EXPECT_EQ(lv()->columnWidth(2), 60);
    for (auto [name, text, hint] : {std::tuple{"btnAddVars", "添加", "添加新变量"},
                                    {"btnEditVars", "编辑", "编辑所选变量"},
                                    {"btnDelVars", "删除", "删除所选变量"},
                                    {"btnSaveVars", "保存", "保存变量方案"},
                                    {"btnReadMap", "读取", "从map文件读取（目前只支持 ICC编译器）"}}) {
        EXPECT_EQ(find<QPushButton>(name)->text(), text);
        EXPECT_EQ(find<QPushButton>(name)->toolTip(), hint);
    }
    auto* modem = find<QGroupBox>("GroupBox22");
    EXPECT_EQ(modem->title(), "Modem Setup");
    EXPECT_EQ(modem->parentWidget(), group);
    EXPECT_TRUE(modem->isHidden());
    EXPECT_TRUE(find<QRadioButton>("rbNoModem")->isChecked());
    for (const char* name : {"lModemInit", "edModemInit", "cbMasterModem", "btnModem"})
        EXPECT_FALSE(find<QWidget>(name)->isEnabled()) << name;
    EXPECT_EQ(find<QPushButton>("btnModem")->text(), "等待连接");
}

TEST_F(VarGroupTest, AddFillsTheFirstGapAndCancelAddsNothing)
{
    for (int i = 0; i < 4; ++i) add();
    select({2});
    click("btnDelVars");
    ASSERT_EQ(shown().size(), 3u);
    EXPECT_EQ(lv()->topLevelItem(2)->text(0), "3");

    dialogs.shownVariables.clear();
    add([](VarDefinition& d) { d.offset = 0x1234; });
    ASSERT_EQ(dialogs.shownVariables.size(), 1u);
    const VarDefinition& proposed = dialogs.shownVariables[0];
    EXPECT_EQ(proposed.number, 2);
    EXPECT_EQ(proposed.name, "VarName2");
    EXPECT_EQ(proposed.type, vars::VarType::Char);
    EXPECT_EQ(proposed.offset, 0);
    EXPECT_EQ(proposed.maskOrLength, 1);
    EXPECT_EQ(proposed.format, vars::DisplayFormat::Hex);
    EXPECT_TRUE(proposed.watched);
    EXPECT_EQ(shown()[2], "2|VarName2|0|char|1234|1|Hex|on");
    EXPECT_EQ(list().row(2).def.number, 2);

    dialogs.variableAnswers.push_back([](VarDefinition& d) {
        d.name = "ignored";
        return false;
    });
    click("btnAddVars");
    EXPECT_EQ(shown().size(), 4u);
}

TEST_F(VarGroupTest, EditTakesTheFirstSelectedRowThroughTheRealDialog)
{
    add();
    add([](VarDefinition& d) {
        d.type = vars::VarType::BitMask;
        d.maskOrLength = 0x0F;
        d.format = vars::DisplayFormat::Bin;
    });
    add();
    list().setValue(1, "7");
    frame->varGroup()->rowsChanged({1});
    EXPECT_EQ(shown()[1], "1|VarName1|7|BitMask|0000|0F|Bin|on");

    // No selection: nothing opens.
    lv()->clearSelection();
    const size_t before = dialogs.calls.size();
    click("btnEditVars");
    EXPECT_EQ(dialogs.calls.size(), before);

    // Rows 2 and 1 selected: row 1 is edited. OK unchanged keeps mask 0x0F.
    QString maskShown;
    dialogs.variableAnswers.push_back([&](VarDefinition& d) {
        vars::TfrmVar dlg(dialogs);
        dlg.VarRecord = d;
        dlg.show();
        maskShown = dlg.findChild<QLineEdit*>("edVarMask")->text();
        dlg.findChild<QPushButton*>("btnVarOk")->click();
        d = dlg.VarRecord;
        return dlg.modalResult() == vars::TfrmVar::mrOk;
    });
    select({2, 1});
    click("btnEditVars");
    EXPECT_EQ(maskShown, "0F");
    EXPECT_EQ(list().row(1).def.maskOrLength, 0x0F);
    EXPECT_EQ(shown()[1], "1|VarName1|7|BitMask|0000|0F|Bin|on");

    // A double click edits too; caption and value stay, the rest follows the dialog.
    dialogs.variableAnswers.push_back([](VarDefinition& d) {
        d.number = 99;
        d.name = "speed";
        d.type = vars::VarType::Int;
        d.maskOrLength = 2;
        d.offset = 0x10;
        d.format = vars::DisplayFormat::Dec;
        d.watched = false;
        return true;
    });
    select({1});
    emit lv()->itemDoubleClicked(lv()->topLevelItem(1), 1);
    EXPECT_EQ(shown()[1], "1|speed|7|int|0010|2|Dec|off");
    EXPECT_FALSE(list().row(1).def.watched);
}

TEST_F(VarGroupTest, DeleteRemovesEverySelectedRowAndTheBoxTracksWatching)
{
    for (int i = 0; i < 4; ++i) add();
    select({0, 2});
    click("btnDelVars");
    EXPECT_EQ(shown(), (std::vector<QString>{"1|VarName1|0|char|0000|1|Hex|on", "3|VarName3|0|char|0000|1|Hex|on"}));
    // Unticking a row stops the decoder filling it.
    lv()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(list().row(1).def.watched);
    EXPECT_TRUE(list().row(0).def.watched);
    // New values repaint only their rows.
    list().setValue(0, "12");
    list().setValue(1, "34");
    frame->varGroup()->rowsChanged({1, 5});
    EXPECT_EQ(lv()->topLevelItem(0)->text(2), "0");
    EXPECT_EQ(lv()->topLevelItem(1)->text(2), "34");
}

TEST_F(VarGroupTest, SavedRowsComeBackCheckedAfterARestart)
{
    // An empty list leaves the file as it was.
    TempDir::writeFile(settingsPath(), "[Other]\r\nk=v\r\n");
    click("btnSaveVars");
    EXPECT_EQ(TempDir::readFile(settingsPath()), "[Other]\r\nk=v\r\n");

    add([](VarDefinition& d) { d.name = "motor speed"; });
    add();
    add();
    select({0});
    click("btnDelVars");
    lv()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    click("btnSaveVars");
    const std::string file = TempDir::readFile(settingsPath());
    EXPECT_NE(file.find("[VAR List]\r\n0=VarName1,0,char,0000,1,Hex\r\n1=VarName2,"), std::string::npos) << file;

    frame.reset();
    makeFrame();
    EXPECT_EQ(shown(), (std::vector<QString>{"0|VarName1|0|char|0000|1|Hex|on", "1|VarName2|0|char|0000|1|Hex|on"}));
}

TEST_F(VarGroupTest, LoadingSurvivesAHandEditedFile)
{
    TempDir::writeFile(settingsPath(), "[Var Count]\r\nCount=0x7FFFFFFF\r\n[var list]\r\n"
                                       "0=short\r\n1=v,9,quad,XYZ,2,Octal\r\n2=buf,0,Array,0100,300,Dec\r\n");
    makeFrame();
    EXPECT_EQ(shown(), (std::vector<QString>{"0|short|0|char|0000|1|Hex|on", "1|v|9|char|0000|2|Hex|on",
                                             "2|buf|0|Array|0100|300|Dec|on"}));
}

TEST_F(VarGroupTest, MapImportAddsTheWindowAndSaysHowMany)
{
    // Rows are added at the first free number; the file is not saved.
    add();
    dialogs.fileAnswers.push_back(QString::fromStdString(writeMap(kMap)));
    click("btnReadMap");
    const DialogCall& open = dialogs.calls[dialogs.calls.size() - 2];
    EXPECT_EQ(open.kind, DialogCall::OpenFile);
    EXPECT_EQ(open.filter, "Map files (*.map,*.mp)|*.map;*.mp|All files (*.*)|*.*");
    EXPECT_EQ(open.defaultExt, "map");
    EXPECT_EQ(dialogs.last().caption, "变量添加");
    EXPECT_EQ(dialogs.last().text, "3条变量被添加! ");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Information);
    EXPECT_EQ(shown(), (std::vector<QString>{"0|VarName0|0|char|0000|1|Hex|on", "1|a|0|char|0100|1|Hex|on",
                                             "2|b|0|int|0101|2|Hex|on", "3|buf|0|Array|0103|16|Hex|on"}));
    EXPECT_FALSE(std::ifstream(settingsPath()).good());

    // Twice adds twice.
    dialogs.fileAnswers.push_back(QString::fromStdString(writeMap(kMap)));
    click("btnReadMap");
    EXPECT_EQ(shown().size(), 7u);

    dialogs.fileAnswers.push_back(QString::fromStdString(writeMap("no window here\r\n 0100 _a\r\n")));
    click("btnReadMap");
    EXPECT_EQ(dialogs.last().text, "0条变量被添加! 目前只支持由ImageCraft C (ICC) 编译器产生的map文件！");
    EXPECT_EQ(shown().size(), 7u);

    dialogs.fileAnswers.push_back(QString::fromStdString(dir.file("gone.map")));
    click("btnReadMap");
    EXPECT_EQ(dialogs.last().caption, "错误");
    EXPECT_EQ(dialogs.last().text, "打开MAP时出错!");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);

    const size_t calls = dialogs.calls.size();
    click("btnReadMap"); // cancelled
    EXPECT_EQ(dialogs.calls.size(), calls + 1);
    EXPECT_EQ(shown().size(), 7u);
}

TEST_F(VarGroupTest, ModemButtonLocksTheChoiceWithoutTouchingThePort)
{
    auto* btn = find<QPushButton>("btnModem");
    find<QRadioButton>("rbDial")->click();
    for (const char* name : {"lModemInit", "edModemInit", "cbMasterModem", "btnModem"})
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
    find<QCheckBox>("cbMasterModem")->click();
    EXPECT_EQ(btn->text(), "开始呼叫");
    btn->click();
    EXPECT_EQ(btn->text(), "断开连接");
    for (const char* name : {"rbNoModem", "rbM2Modem", "rbDial", "lModemInit", "edModemInit", "cbMasterModem"})
        EXPECT_FALSE(find<QWidget>(name)->isEnabled()) << name;
    EXPECT_TRUE(btn->isEnabled());
    btn->click();
    EXPECT_EQ(btn->text(), "开始呼叫");
    for (const char* name : {"rbNoModem", "rbM2Modem", "rbDial", "lModemInit", "edModemInit", "cbMasterModem"})
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
    find<QCheckBox>("cbMasterModem")->click();
    EXPECT_EQ(btn->text(), "等待连接");
    find<QRadioButton>("rbNoModem")->click();
    EXPECT_FALSE(btn->isEnabled());
    EXPECT_FALSE(frame->comTestPage()->portOpen());
}
