#include "vars/varform.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/number_box.h"
#include "app/qt_text.h"
#include "common/numbers.h"
#include "ui_varform.h"

#include <QComboBox>
#include <QShowEvent>
#include <algorithm>
#include <stdexcept>

namespace quillon::vars {

using vars::VarType;

namespace {

const QString kMaskCaption = QStringLiteral("位掩码(HEX)：");
const QString kArrayCaption = QStringLiteral("数组长度: ");
const QString kLengthCaption = QStringLiteral("变量长度: ");
constexpr int kDecIndex = static_cast<int>(vars::DisplayFormat::Dec);
constexpr int kBinIndex = static_cast<int>(vars::DisplayFormat::Bin);

// A mask is two hex digits; a length needs room for "255" or "0xFF".
constexpr int kMaskChars = 2;
constexpr int kLengthChars = 4;
constexpr int kOffsetChars = 4;

bool fixedDecimal(VarType type) { return type == VarType::Float || type == VarType::Double; }

} // namespace

TfrmVar::TfrmVar(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), ui(std::make_unique<Ui::TfrmVar>())
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("frmVar"));
    setFixedSize(size());
    keepUpperCase(ui->edVarSeq);
    keepUpperCase(ui->edVarOffset);
    keepUpperCase(ui->edVarMask);
    connectHandler(ui->cbVarType, &QComboBox::activated, this, [this](int) { cbVarTypeSelect(); });
    connectHandler(ui->btnVarOk, &QPushButton::clicked, this, &TfrmVar::btnVarOkClick);
    connectHandler(ui->btnVarCancel, &QPushButton::clicked, this, &TfrmVar::btnVarCancelClick);
}

TfrmVar::~TfrmVar() = default;

bool TfrmVar::edit(vars::VarDefinition& def)
{
    VarRecord = def;
    modalResult_ = mrNone;
    exec();
    if (modalResult_ != mrOk) return false;
    def = VarRecord;
    return true;
}

void TfrmVar::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) runGuarded([this] { FormShow(); });
}

void TfrmVar::showMaskField(VarType type)
{
    const bool editable = type == VarType::BitMask || type == VarType::Array;
    ui->lMask->setText(type == VarType::BitMask ? kMaskCaption
                       : type == VarType::Array ? kArrayCaption
                                                : kLengthCaption);
    ui->edVarMask->setEnabled(editable);
    ui->edVarMask->setMaxLength(type == VarType::BitMask ? kMaskChars : kLengthChars);
}

void TfrmVar::FormShow()
{
    modalResult_ = mrNone;
    const vars::VarDefinition& r = VarRecord;
    ui->edVarSeq->setText(QString::number(r.number));
    ui->edVarName->setText(fromStd(r.name));
    ui->cbVarType->setCurrentIndex(static_cast<int>(r.type));
    // Offsets from a map file may need more than four digits; the box must
    // show them whole, or OK would store a cut address.
    const QString offset = fromStd(vars::offsetText(r.offset));
    ui->edVarOffset->setMaxLength(std::max<int>(kOffsetChars, static_cast<int>(offset.size())));
    ui->edVarOffset->setText(offset);
    showMaskField(r.type);
    ui->edVarMask->setText(r.type == VarType::BitMask ? fromStd(hexN(r.maskOrLength, 2))
                                                      : QString::number(r.maskOrLength));
    ui->cbVarRadix->setCurrentIndex(static_cast<int>(r.format));
    ui->cbVarChecked->setChecked(r.watched);
    if (fixedDecimal(r.type)) ui->cbVarRadix->setCurrentIndex(kDecIndex);
    ui->cbVarRadix->setEnabled(!fixedDecimal(r.type));
    ui->edVarName->setFocus();
}

void TfrmVar::cbVarTypeSelect()
{
    const auto type = static_cast<VarType>(ui->cbVarType->currentIndex());
    showMaskField(type);
    switch (type) {
    case VarType::Char: ui->edVarMask->setText(QStringLiteral("1")); break;
    case VarType::Int: ui->edVarMask->setText(QStringLiteral("2")); break;
    case VarType::Long:
    case VarType::Float: ui->edVarMask->setText(QStringLiteral("4")); break;
    case VarType::Double: ui->edVarMask->setText(QStringLiteral("8")); break;
    case VarType::BitMask: ui->edVarMask->setText(QStringLiteral("FF")); break;
    case VarType::Array: ui->edVarMask->setText(QStringLiteral("1")); break;
    }
    if (fixedDecimal(type)) ui->cbVarRadix->setCurrentIndex(kDecIndex);
    if (type == VarType::BitMask) ui->cbVarRadix->setCurrentIndex(kBinIndex);
    ui->cbVarRadix->setEnabled(!fixedDecimal(type));
}

void TfrmVar::refuse(const QString& text, QWidget* field)
{
    dialogs_.error(text);
    field->setFocus();
}

void TfrmVar::btnVarOkClick()
{
    // Read into a copy: a refusal leaves the record as it was.
    vars::VarDefinition r = VarRecord;
    const auto number = parseWholeNumber(toStd(ui->edVarSeq->text()));
    if (!number) throw std::invalid_argument("variable number is not a whole number");
    r.number = *number;
    if (ui->edVarName->text().isEmpty()) return refuse(QStringLiteral("缺少变量名!"), ui->edVarName);
    r.name = toStd(ui->edVarName->text());
    r.type = static_cast<VarType>(std::max(0, ui->cbVarType->currentIndex()));
    const auto offset = parseHexField(toStd(ui->edVarOffset->text()));
    if (!offset) return refuse(QStringLiteral("错误的偏移量!"), ui->edVarOffset);
    r.offset = *offset;
    const std::string mask = toStd(ui->edVarMask->text());
    if (r.type == VarType::Array) {
        const auto length = parseWholeNumber(mask);
        if (!length) return refuse(QStringLiteral("字节数错误!"), ui->edVarMask);
        r.maskOrLength = static_cast<uint8_t>(*length & 0xFF);
    } else {
        const auto value = parseHexField(mask);
        if (!value) return refuse(QStringLiteral("错误的掩码值!"), ui->edVarMask);
        r.maskOrLength = static_cast<uint8_t>(*value & 0xFF);
    }
    r.format = static_cast<vars::DisplayFormat>(std::max(0, ui->cbVarRadix->currentIndex()));
    r.watched = ui->cbVarChecked->isChecked();
    VarRecord = r;
    modalResult_ = mrOk;
    accept();
}

void TfrmVar::btnVarCancelClick()
{
    modalResult_ = mrCancel;
    reject();
}

} // namespace quillon::vars
