#include "tools/hexbin/hexbin_page.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/number_box.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "tools/hexbin/bin_to_hex.h"
#include "tools/hexbin/crc.h"
#include "tools/hexbin/intel_hex.h"
#include "tools/hexbin/large_text_view.h"
#include "tools/hexbin/source_array.h"

#include "ui_hexbin_page.h"

#include <QClipboard>
#include <QGuiApplication>

namespace quillon::hexbin {

namespace {

const QString kFileFilter =
    QStringLiteral("Data files (*.hex,*.bin,*.eep,*.dat)|*.hex;*.bin;*.eep;*.dat|All files (*.*)|*.*");

// A file name typed or picked into a field, as the system takes it.
std::string pathIn(const QLineEdit* edit) { return localPath(edit->text().trimmed()); }

} // namespace

HexBinPage::HexBinPage(PageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::HexBinPage>())
{
    ui->setupUi(this);
    // Typed letters show in upper case, as the address field always did.
    keepUpperCase(ui->edStartAddress);

    connectHandler(ui->btnSource, &QPushButton::clicked, this, &HexBinPage::btnSourceClick);
    connectHandler(ui->btnTarget, &QPushButton::clicked, this, &HexBinPage::btnTargetClick);
    connectHandler(ui->btnHBLoad, &QPushButton::clicked, this, &HexBinPage::btnHBLoadClick);
    connectHandler(ui->btnCRC, &QPushButton::clicked, this, &HexBinPage::btnCRCClick);
    connectHandler(ui->rbHBCRCCCITT, &QRadioButton::clicked, this, &HexBinPage::rbHBCRCCCITTClick);
    connectHandler(ui->rbHBCRC16, &QRadioButton::clicked, this, &HexBinPage::rbHBCRC16Click);
    connectHandler(ui->rbHBCRC32, &QRadioButton::clicked, this, &HexBinPage::rbHBCRC32Click);
    connectHandler(ui->btnB2H, &QPushButton::clicked, this, &HexBinPage::btnB2HClick);
    connectHandler(ui->rbHTC, &QRadioButton::clicked, this, &HexBinPage::rbHTCClick);
    connectHandler(ui->rbHTASM, &QRadioButton::clicked, this, &HexBinPage::rbHTASMClick);
    connectHandler(ui->btnHTLoad, &QPushButton::clicked, this, &HexBinPage::btnHTLoadClick);
    connectHandler(ui->btnLoadHex, &QPushButton::clicked, this, &HexBinPage::btnLoadHexClick);
    connectHandler(ui->btnHTCopy, &QPushButton::clicked, this, &HexBinPage::btnHTCopyClick);
}

HexBinPage::~HexBinPage() = default;

void HexBinPage::btnSourceClick()
{
    if (auto path = host_.dialogs().openFile(kFileFilter, QStringLiteral("*"))) ui->edSource->setText(*path);
}

void HexBinPage::btnTargetClick()
{
    if (auto path = host_.dialogs().saveFile(kFileFilter, QStringLiteral("*"))) ui->edTarget->setText(*path);
}

static CrcKind selectedCrc(const Ui::HexBinPage& ui)
{
    if (ui.rbHBCRCCCITT->isChecked()) return CrcKind::Ccitt;
    if (ui.rbHBCRC16->isChecked()) return CrcKind::Crc16;
    return CrcKind::Crc32;
}

void HexBinPage::btnHBLoadClick()
{
    Dialogs& dlg = host_.dialogs();
    const std::string source = pathIn(ui->edSource);
    const std::string target = pathIn(ui->edTarget);
    if (source.empty() || target.empty()) {
        dlg.error(QStringLiteral("请指定源文件和目标文件!"));
        return;
    }
    HexToBinOptions options;
    options.fill = ui->rbFill00->isChecked() ? 0x00 : 0xFF;
    const CrcKind kind = selectedCrc(*ui);
    switch (hexToBin(source, target, options).outcome) {
    case HexToBinOutcome::SourceOpenFailed: dlg.error(QStringLiteral("打开Hex文件时出错!")); return;
    case HexToBinOutcome::TargetOpenFailed: dlg.error(QStringLiteral("打开Bin文件时出错!")); return;
    case HexToBinOutcome::UnknownType: dlg.error(QStringLiteral("无法辨认的HEX文件格式!")); return;
    case HexToBinOutcome::BadChecksum: dlg.error(QStringLiteral("HEX文件校验错!")); return;
    case HexToBinOutcome::NoEndRecord: return;
    // Without extended records an image ends below 64 KiB + 255: never too large.
    case HexToBinOutcome::ImageTooLarge: return;
    case HexToBinOutcome::Done: break;
    }
    const auto crc = crcOfFile(target, kind);
    if (!crc) {
        dlg.error(QStringLiteral("计算CRC时出错!"));
        return;
    }
    ui->edHBCRC->setText(fromStd(crcText(kind, *crc)));
    dlg.message(QStringLiteral("结束"), QStringLiteral("转换结束。"), MsgIcon::Information);
}

void HexBinPage::btnCRCClick()
{
    const auto path = host_.dialogs().openFile(QStringLiteral("All files (*.*)|*.*"), QStringLiteral("*"));
    if (!path) return;
    const CrcKind kind = selectedCrc(*ui);
    const auto crc = crcOfFile(localPath(*path), kind);
    if (!crc) {
        host_.dialogs().error(QStringLiteral("打开数据文件时出错!"));
        return;
    }
    ui->edHBCRC->setText(fromStd(crcText(kind, *crc)));
}

// The LSB box only mirrors the choice; no computation reads it.
void HexBinPage::rbHBCRCCCITTClick() { ui->cbHBCRCLSB->setChecked(false); }
void HexBinPage::rbHBCRC16Click() { ui->cbHBCRCLSB->setChecked(false); }
void HexBinPage::rbHBCRC32Click() { ui->cbHBCRCLSB->setChecked(true); }

void HexBinPage::btnB2HClick()
{
    Dialogs& dlg = host_.dialogs();
    const std::string source = pathIn(ui->edSource);
    const std::string target = pathIn(ui->edTarget);
    if (source.empty() || target.empty()) return;
    const auto start = parseStartAddress(toStd(ui->edStartAddress->text()));
    switch (binToHex(source, target, start)) {
    case BinToHexOutcome::SourceOpenFailed: dlg.error(QStringLiteral("打开Bin文件时出错!")); return;
    case BinToHexOutcome::TargetOpenFailed: dlg.error(QStringLiteral("打开Hex文件时出错!")); return;
    case BinToHexOutcome::BadAddress:
        dlg.error(QStringLiteral("请正确地址信息!"));
        ui->edStartAddress->setFocus();
        return;
    case BinToHexOutcome::Done: break;
    }
    dlg.message(QStringLiteral("结束"), QStringLiteral("转换结束。"), MsgIcon::Information);
}

void HexBinPage::setAsmControlsEnabled(bool on)
{
    for (QWidget* w :
         {static_cast<QWidget*>(ui->edHTDB), static_cast<QWidget*>(ui->lHTDB), static_cast<QWidget*>(ui->gbHTHex),
          static_cast<QWidget*>(ui->edHTFix), static_cast<QWidget*>(ui->rbHTPre), static_cast<QWidget*>(ui->rbHTPost)})
        w->setEnabled(on);
}

void HexBinPage::rbHTCClick() { setAsmControlsEnabled(false); }
void HexBinPage::rbHTASMClick() { setAsmControlsEnabled(true); }

static ArrayStyle arrayStyle(const Ui::HexBinPage& ui)
{
    ArrayStyle style;
    style.assembler = !ui.rbHTC->isChecked();
    style.directive = toStd(ui.edHTDB->text());
    style.marker = toStd(ui.edHTFix->text());
    style.prefix = ui.rbHTPre->isChecked();
    return style;
}

void HexBinPage::btnHTLoadClick()
{
    const auto path = host_.dialogs().openFile(
        QStringLiteral("Data files (*.dat)|*.dat;*.hex;*.bin;*.eep|All files (*.*)|*.*"), QStringLiteral("bin"));
    if (!path) return;
    std::string text;
    if (arrayFromBinary(localPath(*path), arrayStyle(*ui), "\n", text) == ArrayOutcome::OpenFailed) {
        host_.dialogs().error(QStringLiteral("打开文件时出错!"));
        return;
    }
    ui->mBinText->setPlainText(fromStd(text));
}

void HexBinPage::btnLoadHexClick()
{
    const auto path = host_.dialogs().openFile(
        QStringLiteral("Data files (*.dat)|*.dat;*.hex;*.eep|All files (*.*)|*.*"), QStringLiteral("hex"));
    if (!path) return;
    std::string text;
    const auto result = arrayFromHex(localPath(*path), arrayStyle(*ui), "\n", text);
    if (result.outcome == ArrayOutcome::OpenFailed) {
        host_.dialogs().error(QStringLiteral("打开文件时出错!"));
        return;
    }
    // What was listed before a bad record stays, closed like a complete table.
    ui->mBinText->setPlainText(fromStd(text));
    if (result.outcome == ArrayOutcome::UnknownType)
        host_.dialogs().error(QStringLiteral("无法辨认的HEX文件格式!"));
    else if (result.outcome == ArrayOutcome::BadChecksum)
        host_.dialogs().error(QStringLiteral("HEX文件校验错!"));
}

void HexBinPage::btnHTCopyClick()
{
    ui->mBinText->selectAll();
    ui->mBinText->copy();
    ui->mBinText->clearSelection();
}

} // namespace quillon::hexbin
