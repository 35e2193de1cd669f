#include "vars/datamode_group.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "serial/serial_session.h"
#include "ui_datamode_group.h"
#include "vars/decoding.h"

namespace quillon::vars {

namespace {

// Marks and the start address are typed in upper case.
void keepUpperCase(QLineEdit* box)
{
    QObject::connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text) return;
        const int cursor = box->cursorPosition();
        box->setText(upper);
        box->setCursorPosition(cursor);
    });
}

} // namespace

DataModeGroup::DataModeGroup(PageHost& host, serial::SerialSession& session, QWidget* parent)
    : QGroupBox(parent), host_(host), session_(session), ui(std::make_unique<Ui::DataModeGroup>())
{
    ui->setupUi(this);
    for (QLineEdit* box : {ui->leMemStart, ui->leMemHead, ui->leMemEnd}) keepUpperCase(box);
    auto decoder = std::make_unique<DataModeDecoder>(session.watchedVariables());
    decoder_ = decoder.get();
    session.setDataModeStep(std::move(decoder));

    connectHandler(ui->rbDataNormal, &QRadioButton::clicked, this, &DataModeGroup::rbDataNormalClick);
    connectHandler(ui->rbMultiVars, &QRadioButton::clicked, this, &DataModeGroup::rbMultiVarsClick);
    connectHandler(ui->rbMemMap, &QRadioButton::clicked, this, &DataModeGroup::rbMemMapClick);
    connectHandler(ui->cbMemFixLength, &QCheckBox::clicked, this, &DataModeGroup::cbMemFixLengthClick);
    connectHandler(ui->cbVarFixLength, &QCheckBox::clicked, this, &DataModeGroup::cbVarFixLengthClick);
    connectHandler(ui->btnVarApply, &QPushButton::clicked, this, &DataModeGroup::btnVarApplyClick);
    connectHandler(&session, &serial::SerialSession::interactiveRoleChanged, this,
                   [this](bool interactive, bool master) { interactiveRoleChanged(interactive, master); });
}

DataModeGroup::~DataModeGroup() = default;

void DataModeGroup::rbDataNormalClick()
{
    ui->leMemStart->setEnabled(false);
    ui->cbMemFixLength->setEnabled(false);
    ui->edMemFixLength->setEnabled(ui->cbMemFixLength->isChecked());
    ui->cbVarFixLength->setEnabled(false);
    ui->leVarSplit->setEnabled(false);
    ui->leMemHead->setEnabled(false);
    ui->leMemEnd->setEnabled(false);
}

void DataModeGroup::rbMultiVarsClick()
{
    ui->leMemStart->setEnabled(false);
    ui->cbMemFixLength->setEnabled(false);
    ui->edMemFixLength->setEnabled(false);
    ui->cbVarFixLength->setEnabled(true);
    ui->leVarSplit->setEnabled(ui->cbVarFixLength->isChecked());
    ui->leMemHead->setEnabled(false);
    ui->leMemEnd->setEnabled(false);
    ui->btnVarApply->setEnabled(true);
}

void DataModeGroup::rbMemMapClick()
{
    ui->leMemStart->setEnabled(true);
    ui->lMemStart->setText(QStringLiteral("内存起始地址(HEX)"));
    ui->cbMemFixLength->setEnabled(true);
    ui->edMemFixLength->setEnabled(ui->cbMemFixLength->isChecked());
    ui->cbVarFixLength->setEnabled(false);
    ui->leVarSplit->setEnabled(false);
    ui->leMemHead->setEnabled(true);
    ui->leMemEnd->setEnabled(true);
    ui->btnVarApply->setEnabled(true);
}

void DataModeGroup::cbMemFixLengthClick()
{
    const bool fixed = ui->cbMemFixLength->isChecked();
    ui->edMemFixLength->setEnabled(fixed);
    if (ui->rbMemMap->isChecked()) {
        ui->leMemHead->setEnabled(!fixed);
        ui->leMemEnd->setEnabled(!fixed);
    }
}

void DataModeGroup::cbVarFixLengthClick() { ui->leVarSplit->setEnabled(ui->cbVarFixLength->isChecked()); }

void DataModeGroup::interactiveRoleChanged(bool interactive, bool master)
{
    if (!interactive || master) {
        setBlockModesEnabled(true);
        return;
    }
    rbDataNormalClick();
    setBlockModesEnabled(false);
    btnVarApplyClick();
}

void DataModeGroup::setBlockModesEnabled(bool enabled)
{
    ui->rbMemMap->setEnabled(enabled);
    ui->rbMultiVars->setEnabled(enabled);
}

void DataModeGroup::btnVarApplyClick()
{
    DataModeInput in;
    in.mode = ui->rbDataNormal->isChecked()  ? serial::DataMode::Normal
              : ui->rbMultiVars->isChecked() ? serial::DataMode::MultiVars
                                             : serial::DataMode::MemoryMap;
    in.stringVars = ui->cbVarFixLength->isChecked();
    in.separator = toStd(ui->leVarSplit->text());
    in.memStart = toStd(ui->leMemStart->text());
    in.fixedLength = ui->cbMemFixLength->isChecked();
    in.fixedCount = toStd(ui->edMemFixLength->text());
    in.headMark = toStd(ui->leMemHead->text());
    in.endMark = toStd(ui->leMemEnd->text());

    const ApplyError error = session_.applyDataMode(in);
    QLineEdit* field = nullptr;
    QString text;
    switch (error) {
    case ApplyError::None: return;
    case ApplyError::StartAddress:
        field = ui->leMemStart;
        text = QStringLiteral("错误的起始地址!请用十六进制表示!");
        break;
    case ApplyError::FixedCountText:
        field = ui->edMemFixLength;
        text = QStringLiteral("数据长度错!十六进制前面加'0x'表示!");
        break;
    case ApplyError::FixedCountZero:
        field = ui->edMemFixLength;
        text = QStringLiteral("数据长度不能为0!");
        break;
    case ApplyError::HeadMark:
        field = ui->leMemHead;
        text = QStringLiteral("错误的块首标志!请用十六进制表示!");
        break;
    case ApplyError::EndMark:
        field = ui->leMemEnd;
        text = QStringLiteral("错误的块尾标志!请用十六进制表示!");
        break;
    }
    host_.dialogs().error(text);
    field->setFocus();
}

} // namespace quillon::vars
