#include "tools/thermistor/rtcalc_page.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "common/numbers.h"
#include "common/text.h"
#include "tools/thermistor/circuit_picture.h"
#include "tools/thermistor/rt_codegen.h"

#include "ui_rtcalc_page.h"

#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <functional>
#include <stdexcept>

namespace quillon::thermistor {

namespace {

const QString kDatFilter = QStringLiteral("Data files (*.dat)|*.dat|All files (*.*)|*.*");
const QString kDatExt = QStringLiteral("dat");

bool isEnterKey(QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Cell editors swallow Enter themselves; this delegate commits the typed
// text and hands the key to the page instead.
class EnterKeyDelegate : public QStyledItemDelegate {
public:
    EnterKeyDelegate(std::function<void()> onEnter, QObject* parent)
        : QStyledItemDelegate(parent), onEnter_(std::move(onEnter))
    {
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (isEnterKey(event)) {
            if (auto* editor = qobject_cast<QWidget*>(object)) emit commitData(editor);
            onEnter_();
            return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    std::function<void()> onEnter_;
};

} // namespace

RTCalcPage::RTCalcPage(PageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::RTCalcPage>())
{
    ui->setupUi(this);

    auto* grid = ui->sgRTVal;
    grid->verticalHeader()->setVisible(false);
    grid->verticalHeader()->setDefaultSectionSize(20);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->setColumnWidth(0, 52);
    grid->setColumnWidth(1, 118);
    // The editor follows the current cell, as in a grid that always edits.
    grid->setEditTriggers(QAbstractItemView::AllEditTriggers);
    grid->setItemDelegate(new EnterKeyDelegate([this] { runGuarded([this] { sgRTValKeyPress(); }); }, grid));
    grid->installEventFilter(this);
    grid->setCurrentCell(0, 0);

    ui->imgCircuit->setPixmap(drawDividerPicture(ui->imgCircuit->size(), font()));
    ui->mRT->setTabStopDistance(40);
    ui->mRT->setFont(font());

    connectHandler(ui->cbTInc, &QCheckBox::toggled, this, &RTCalcPage::cbTIncClick);
    connectHandler(ui->btnRTFile, &QPushButton::clicked, this, &RTCalcPage::btnRTFileClick);
    connectHandler(ui->btnRTSave, &QPushButton::clicked, this, &RTCalcPage::btnRTSaveClick);
    connectHandler(ui->btnRTClear, &QPushButton::clicked, this, &RTCalcPage::btnRTClearClick);
    connectHandler(ui->rbRTASMStyle, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbRTASMStyleClick();
    });
    connectHandler(ui->rbRTCStyle, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbRTCStyleClick();
    });
    connectHandler(ui->btnRTCalc, &QPushButton::clicked, this, &RTCalcPage::btnRTCalcClick);
    connectHandler(ui->Button1, &QPushButton::clicked, this, &RTCalcPage::Button1Click);
    connectHandler(ui->btnRTHelp, &QPushButton::clicked, this, &RTCalcPage::btnRTHelpClick);
}

RTCalcPage::~RTCalcPage() = default;

bool RTCalcPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->sgRTVal && isEnterKey(event)) {
        runGuarded([this] { sgRTValKeyPress(); });
        return true;
    }
    if (watched == ui->sgRTVal && event->type() == QEvent::FocusIn) {
        // The grid always edits: focusing it opens the current cell's editor,
        // once the focus change has settled.
        QMetaObject::invokeMethod(
            this,
            [this] {
                auto* grid = ui->sgRTVal;
                if (grid->hasFocus() && grid->currentIndex().isValid()) grid->edit(grid->currentIndex());
            },
            Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void RTCalcPage::initGridHeaders()
{
    ui->sgRTVal->setHorizontalHeaderLabels({QStringLiteral("温度"), QStringLiteral("阻值(K欧)")});
}

void RTCalcPage::btnRTHelpClick() { ui->mRT->setPlainText(fromStd(thermistor::usageText())); }

QString RTCalcPage::cellText(int row, int col) const
{
    const QTableWidgetItem* item = ui->sgRTVal->item(row, col);
    return item ? item->text() : QString();
}

void RTCalcPage::setCellText(int row, int col, const QString& text)
{
    if (QTableWidgetItem* item = ui->sgRTVal->item(row, col)) {
        item->setText(text);
    } else {
        ui->sgRTVal->setItem(row, col, new QTableWidgetItem(text));
    }
}

void RTCalcPage::appendRow() { ui->sgRTVal->setRowCount(ui->sgRTVal->rowCount() + 1); }

std::vector<thermistor::Row> RTCalcPage::gridRows() const
{
    std::vector<thermistor::Row> rows;
    for (int r = 0; r < ui->sgRTVal->rowCount(); ++r) rows.push_back({toStd(cellText(r, 0)), toStd(cellText(r, 1))});
    return rows;
}

void RTCalcPage::sgRTValKeyPress()
{
    auto* grid = ui->sgRTVal;
    const int row = grid->currentRow() < 0 ? 0 : grid->currentRow();
    const int col = grid->currentColumn() < 0 ? 0 : grid->currentColumn();
    const thermistor::EnterOutcome out =
        thermistor::enterKey(gridRows(), row, col, ui->cbTInc->isChecked(), toStd(ui->edTStep->text()));

    using E = thermistor::EnterOutcome::Error;
    if (out.error == E::BadStep) {
        host_.dialogs().error(QStringLiteral("请正确填写温度步长!"));
        ui->edTStep->setFocus();
        return;
    }
    if (out.error == E::BadResistance) {
        host_.dialogs().error(QStringLiteral("请正确填写电阻值!"));
        return;
    }
    if (out.appendRow) appendRow();
    if (out.error == E::BadTemperature) {
        host_.dialogs().error(QStringLiteral("请正确填写温度值!"));
        grid->setCurrentCell(out.row, out.col);
        return;
    }
    if (out.nextTemperature) setCellText(out.row, 0, fromStd(*out.nextTemperature));
    grid->setCurrentCell(out.row, out.col);
}

void RTCalcPage::cbTIncClick() { ui->edTStep->setEnabled(ui->cbTInc->isChecked()); }

void RTCalcPage::btnRTFileClick()
{
    const auto path = host_.dialogs().openFile(kDatFilter, kDatExt);
    if (!path) return;
    const auto bytes = thermistor::readFileBytes(localPath(*path));
    if (!bytes) {
        host_.dialogs().error(QStringLiteral("打开文件时出错!"));
        return;
    }
    // Loading overwrites from the first data row down; rows below keep their text.
    int row = 0;
    for (const thermistor::Row& r : thermistor::parseDat(*bytes)) {
        setCellText(row, 0, fromStd(r.temperature));
        setCellText(row, 1, fromStd(r.resistance));
        ++row;
        if (ui->sgRTVal->rowCount() <= row) appendRow();
    }
}

void RTCalcPage::btnRTSaveClick()
{
    const auto path = host_.dialogs().saveFile(kDatFilter, kDatExt);
    if (!path) return;
    if (QFileInfo::exists(*path) &&
        !host_.dialogs().confirm(QStringLiteral("文件覆盖"), QStringLiteral("文件已经存在，要覆盖它吗?"),
                                 MsgIcon::Warning)) {
        return;
    }
    switch (thermistor::writeDatFile(localPath(*path), gridRows())) {
    case thermistor::FileStatus::Ok: break;
    case thermistor::FileStatus::OpenFailed: host_.dialogs().error(QStringLiteral("打开文件时出错!")); break;
    case thermistor::FileStatus::WriteFailed: host_.dialogs().error(QStringLiteral("写入文件时出错!")); break;
    }
}

void RTCalcPage::btnRTClearClick()
{
    ui->sgRTVal->setRowCount(1);
    setCellText(0, 0, QString());
    setCellText(0, 1, QString());
}

void RTCalcPage::rbRTASMStyleClick()
{
    for (QWidget* w : {static_cast<QWidget*>(ui->edDB), static_cast<QWidget*>(ui->rbRTPrefix),
                       static_cast<QWidget*>(ui->rbRTPostfix), static_cast<QWidget*>(ui->edRTFix)})
        w->setEnabled(true);
}

void RTCalcPage::rbRTCStyleClick()
{
    for (QWidget* w : {static_cast<QWidget*>(ui->edDB), static_cast<QWidget*>(ui->rbRTPrefix),
                       static_cast<QWidget*>(ui->rbRTPostfix), static_cast<QWidget*>(ui->edRTFix)})
        w->setEnabled(false);
}

void RTCalcPage::btnRTCalcClick()
{
    const std::string rText = trim(toStd(ui->edR->text()));
    if (rText.empty()) {
        host_.dialogs().message(QStringLiteral("错误"), QStringLiteral("请选择分压电阻值!"), MsgIcon::Warning);
        ui->edR->setFocus();
        return;
    }
    const auto r = parseDecimal(rText);
    if (!r) {
        host_.dialogs().error(QStringLiteral("请正确填写分压电阻值!"));
        ui->edR->setFocus();
        return;
    }

    thermistor::EmitOptions o;
    o.r = *r;
    o.tenBits = !ui->rbRT8Bits->isChecked();
    o.circuit = ui->rbCir1->isChecked() ? thermistor::Circuit::Rt_Above_R : thermistor::Circuit::R_Above_Rt;
    o.asmStyle = !ui->rbRTCStyle->isChecked();
    o.prefix = ui->rbRTPrefix->isChecked();
    o.directive = toStd(ui->edDB->text());
    o.marker = toStd(ui->edRTFix->text());

    const thermistor::EmitResult res = thermistor::emitTable(gridRows(), o);
    ui->mRT->setPlainText(fromStd(res.text()));
    switch (res.status) {
    case thermistor::EmitResult::Status::Ok: break;
    case thermistor::EmitResult::Status::BadNumber:
        host_.dialogs().error(QStringLiteral("请正确填写电阻值!"));
        ui->sgRTVal->setCurrentCell(ui->sgRTVal->currentRow() < 0 ? 0 : ui->sgRTVal->currentRow(), 1);
        ui->sgRTVal->setFocus();
        break;
    case thermistor::EmitResult::Status::Arithmetic:
        // Left to the application-wide handler; the lines so far stay in the memo.
        throw std::runtime_error("thermistor reading cannot be computed");
    }
}

void RTCalcPage::Button1Click()
{
    ui->mRT->selectAll();
    QGuiApplication::clipboard()->setText(ui->mRT->toPlainText());
    QTextCursor cursor = ui->mRT->textCursor();
    cursor.clearSelection();
    ui->mRT->setTextCursor(cursor);
}

} // namespace quillon::thermistor
