#include "vars/modem_group.h"

#include "app/handler.h"
#include "ui_modem_group.h"

namespace quillon::vars {

ModemGroup::ModemGroup(QWidget* parent) : QGroupBox(parent), ui(std::make_unique<Ui::ModemGroup>())
{
    ui->setupUi(this);
    connectHandler(ui->rbNoModem, &QRadioButton::clicked, this, &ModemGroup::rbNoModemClick);
    connectHandler(ui->rbM2Modem, &QRadioButton::clicked, this, &ModemGroup::rbM2ModemClick);
    connectHandler(ui->rbDial, &QRadioButton::clicked, this, &ModemGroup::rbDialClick);
    connectHandler(ui->cbMasterModem, &QCheckBox::clicked, this, &ModemGroup::cbMasterModemClick);
    connectHandler(ui->btnModem, &QPushButton::clicked, this, &ModemGroup::btnModemClick);
}

ModemGroup::~ModemGroup() = default;

void ModemGroup::setLinkControlsEnabled(bool enabled)
{
    ui->lModemInit->setEnabled(enabled);
    ui->edModemInit->setEnabled(enabled);
    ui->cbMasterModem->setEnabled(enabled);
}

QString ModemGroup::idleCaption() const
{
    return ui->cbMasterModem->isChecked() ? QStringLiteral("开始呼叫") : QStringLiteral("等待连接");
}

void ModemGroup::rbNoModemClick()
{
    setLinkControlsEnabled(false);
    ui->btnModem->setEnabled(false);
}

void ModemGroup::rbM2ModemClick()
{
    setLinkControlsEnabled(true);
    ui->btnModem->setEnabled(true);
}

void ModemGroup::rbDialClick() { rbM2ModemClick(); }

void ModemGroup::cbMasterModemClick() { ui->btnModem->setText(idleCaption()); }

void ModemGroup::btnModemClick()
{
    modemActive = !modemActive;
    ui->rbNoModem->setEnabled(!modemActive);
    ui->rbM2Modem->setEnabled(!modemActive);
    ui->rbDial->setEnabled(!modemActive);
    setLinkControlsEnabled(!modemActive);
    ui->btnModem->setText(modemActive ? QStringLiteral("断开连接") : idleCaption());
}

} // namespace quillon::vars
