// The variable dialog on its own: what it shows, what picking a type does,
// and the order in which OK refuses bad input.

#include "tests/support/scripted_dialogs.h"
#include "vars/varform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quillon;
using namespace quillon::test;
using vars::DisplayFormat;
using vars::VarDefinition;
using vars::VarType;

namespace {

class VarFormTest : public ::testing::Test {
protected:
    ScriptedDialogs dialogs;
    vars::TfrmVar dlg{dialogs};

    template <typename T = QWidget>
    T* find(const char* name)
    {
        T* w = dlg.findChild<T*>(QString::fromUtf8(name));
        if (!w) ADD_FAILURE() << "no control named " << name;
        return w;
    }
    QLineEdit* edit(const char* name) { return find<QLineEdit>(name); }
    QString labelText() { return find<QLabel>("lMask")->text(); }
    void open(const VarDefinition& def)
    {
        dlg.hide();
        dlg.VarRecord = def;
        dlg.show();
    }
    void pickType(VarType type)
    {
        auto* cb = find<QComboBox>("cbVarType");
        cb->setCurrentIndex(static_cast<int>(type));
        emit cb->activated(cb->currentIndex());
    }
    void ok() { find<QPushButton>("btnVarOk")->click(); }
    // The refusal shown, with the dialog still open and focus on `field`.
    void expectRefused(const QString& text, const char* field)
    {
        ASSERT_FALSE(dialogs.calls.empty());
        EXPECT_EQ(dialogs.last().caption, "错误");
        EXPECT_EQ(dialogs.last().text, text);
        EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);
        EXPECT_EQ(dlg.focusWidget(), find<QWidget>(field)) << field;
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.modalResult(), vars::TfrmVar::mrNone);
    }
};

VarDefinition defOf(VarType type, uint8_t mask, DisplayFormat format = DisplayFormat::Hex)
{
    VarDefinition d;
    d.number = 5;
    d.name = "VarName5";
    d.type = type;
    d.maskOrLength = mask;
    d.format = format;
    d.offset = 0x2A;
    return d;
}

} // namespace

TEST_F(VarFormTest, ShowsTheRecordWithTheFieldsItsTypeNeeds)
{
    EXPECT_EQ(dlg.windowTitle(), "frmVar");
    open(defOf(VarType::BitMask, 0x0F, DisplayFormat::Bin));
    EXPECT_EQ(edit("edVarSeq")->text(), "5");
    EXPECT_TRUE(edit("edVarSeq")->isReadOnly());
    EXPECT_EQ(edit("edVarName")->text(), "VarName5");
    EXPECT_EQ(edit("edVarName")->maxLength(), 78);
    EXPECT_EQ(find<QComboBox>("cbVarType")->currentText(), "Bit Mask(8 bits)");
    EXPECT_EQ(edit("edVarOffset")->text(), "002A");
    EXPECT_EQ(edit("edVarMask")->text(), "0F");
    EXPECT_EQ(labelText(), "位掩码(HEX)：");
    EXPECT_TRUE(edit("edVarMask")->isEnabled());
    EXPECT_EQ(find<QComboBox>("cbVarRadix")->currentText(), "二进制");
    EXPECT_TRUE(find<QCheckBox>("cbVarChecked")->isChecked());

    open(defOf(VarType::Array, 200));
    EXPECT_EQ(labelText(), "数组长度: ");
    EXPECT_EQ(edit("edVarMask")->text(), "200");
    EXPECT_TRUE(edit("edVarMask")->isEnabled());

    open(defOf(VarType::Double, 8, DisplayFormat::Hex));
    EXPECT_EQ(labelText(), "变量长度: ");
    EXPECT_FALSE(edit("edVarMask")->isEnabled());
    EXPECT_EQ(find<QComboBox>("cbVarRadix")->currentText(), "十进制");
    EXPECT_FALSE(find<QComboBox>("cbVarRadix")->isEnabled());

    open(defOf(VarType::Int, 2, DisplayFormat::Bin));
    EXPECT_EQ(find<QComboBox>("cbVarRadix")->currentText(), "二进制");
    EXPECT_TRUE(find<QComboBox>("cbVarRadix")->isEnabled());
}

TEST_F(VarFormTest, PickingATypeSetsTheMaskFieldAndFormat)
{
    open(defOf(VarType::Char, 1, DisplayFormat::Hex));
    struct Step {
        VarType type;
        const char* mask;
        bool maskEnabled;
        const char* label;
        const char* radix;
        bool radixEnabled;
    };
    // Steps run in order: "unchanged" means what the step before left.
    const Step steps[] = {
        {VarType::Int, "2", false, "变量长度: ", "十六进制", true},
        {VarType::Float, "4", false, "变量长度: ", "十进制", false},
        {VarType::Long, "4", false, "变量长度: ", "十进制", true},
        {VarType::BitMask, "FF", true, "位掩码(HEX)：", "二进制", true},
        {VarType::Array, "1", true, "数组长度: ", "二进制", true},
        {VarType::Double, "8", false, "变量长度: ", "十进制", false},
        {VarType::Char, "1", false, "变量长度: ", "十进制", true},
    };
    for (const Step& s : steps) {
        pickType(s.type);
        SCOPED_TRACE(static_cast<int>(s.type));
        EXPECT_EQ(edit("edVarMask")->text(), s.mask);
        EXPECT_EQ(edit("edVarMask")->isEnabled(), s.maskEnabled);
        EXPECT_EQ(labelText(), s.label);
        EXPECT_EQ(find<QComboBox>("cbVarRadix")->currentText(), s.radix);
        EXPECT_EQ(find<QComboBox>("cbVarRadix")->isEnabled(), s.radixEnabled);
    }
}

TEST_F(VarFormTest, OkRefusesInOrderAndLeavesTheRecordAlone)
{
    open(defOf(VarType::Array, 3));
    const VarDefinition before = dlg.VarRecord;
    edit("edVarName")->clear();
    edit("edVarOffset")->setText("0G");
    edit("edVarMask")->setText("x");
    ok();
    expectRefused("缺少变量名!", "edVarName");

    edit("edVarName")->setText("buf");
    ok();
    expectRefused("错误的偏移量!", "edVarOffset");

    edit("edVarOffset")->setText("1F");
    ok();
    expectRefused("字节数错误!", "edVarMask");
    EXPECT_EQ(dlg.VarRecord.name, before.name);
    EXPECT_EQ(dlg.VarRecord.offset, before.offset);

    pickType(VarType::BitMask);
    edit("edVarMask")->setText("G1");
    ok();
    expectRefused("错误的掩码值!", "edVarMask");
    EXPECT_EQ(dialogs.messages().size(), 4u);
}

TEST_F(VarFormTest, OkStoresTheLowByteOfLengthsAndMasks)
{
    open(defOf(VarType::Array, 1));
    // Three digits fit in the box: an array length is typed, not only shown.
    edit("edVarMask")->clear();
    QTest::keyClicks(edit("edVarMask"), "300");
    EXPECT_EQ(edit("edVarMask")->text(), "300");
    find<QCheckBox>("cbVarChecked")->setChecked(false);
    find<QComboBox>("cbVarRadix")->setCurrentIndex(1);
    ok();
    EXPECT_EQ(dlg.modalResult(), vars::TfrmVar::mrOk);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.VarRecord.maskOrLength, 44);
    EXPECT_EQ(dlg.VarRecord.type, VarType::Array);
    EXPECT_EQ(dlg.VarRecord.offset, 0x2A);
    EXPECT_EQ(dlg.VarRecord.format, DisplayFormat::Dec);
    EXPECT_FALSE(dlg.VarRecord.watched);

    open(defOf(VarType::Array, 1));
    edit("edVarMask")->setText("0x1F");
    ok();
    EXPECT_EQ(dlg.VarRecord.maskOrLength, 0x1F);

    // Other types read the field as hex; typed letters show in upper case.
    open(defOf(VarType::Char, 1));
    edit("edVarMask")->setEnabled(true);
    edit("edVarMask")->clear();
    QTest::keyClicks(edit("edVarMask"), "1a");
    EXPECT_EQ(edit("edVarMask")->text(), "1A");
    edit("edVarOffset")->clear();
    QTest::keyClicks(edit("edVarOffset"), "beef9");
    EXPECT_EQ(edit("edVarOffset")->text(), "BEEF");
    ok();
    EXPECT_EQ(dlg.VarRecord.maskOrLength, 0x1A);
    EXPECT_EQ(dlg.VarRecord.offset, 0xBEEF);
}

TEST_F(VarFormTest, WideOffsetsSurviveAnUnchangedOk)
{
    VarDefinition d = defOf(VarType::Long, 4);
    d.offset = 0x12345;
    open(d);
    EXPECT_EQ(edit("edVarOffset")->text(), "12345");
    ok();
    EXPECT_EQ(dlg.VarRecord.offset, 0x12345);
}

TEST_F(VarFormTest, CancelAndTheModalRun)
{
    open(defOf(VarType::Char, 1));
    edit("edVarName")->setText("changed");
    find<QPushButton>("btnVarCancel")->click();
    EXPECT_EQ(dlg.modalResult(), vars::TfrmVar::mrCancel);
    EXPECT_FALSE(dlg.isVisible());

    VarDefinition d = defOf(VarType::Char, 1);
    QTimer::singleShot(0, &dlg, [this] {
        edit("edVarName")->setText("renamed");
        ok();
    });
    EXPECT_TRUE(dlg.edit(d));
    EXPECT_EQ(d.name, "renamed");
    QTimer::singleShot(0, &dlg, [this] {
        edit("edVarName")->setText("dropped");
        find<QPushButton>("btnVarCancel")->click();
    });
    EXPECT_FALSE(dlg.edit(d));
    EXPECT_EQ(d.name, "renamed");
}
