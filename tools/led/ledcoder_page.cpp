#include "tools/led/ledcoder_page.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "tools/led/segment_picture.h"

#include "ui_ledcoder_page.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStringList>
#include <QTextCursor>
#include <algorithm>
#include <array>

namespace quillon::led {

using led::LedType;

namespace {

const QString kBadMap = QStringLiteral("请正确填写各段位置信息!");

const char* const kHelp[] = {
    "欢迎使用Quillon之LED编码器！使用方法：",
    " ",
    "1. 选择所需LED类型（目前只支持 8段/14段/16段）；",
    "2. 在相应类型段编码下方的编辑框内填入相应段在编码中的位置；",
    "3. 选择编码数据的位数，\"4 Bits\"及\"8Bits\"，不同的编码方案",
    "   在生成数据时，各段的位置编码都是0-15；",
    "4. 选择生成编码的使用语言(C/ASM)，选ASM时，在旁边的编辑框",
    "    内填入相应数据定义指令，默认为 DB; 以及16进制数据描",
    "    述符，分前缀或后缀，如 0xFF,$FF,FFH等；",
    "5. 单击\"Encoder\"生成编码；",
    "6. 单击\"Copy\"将编码结果拷贝到粘贴板, 一切OK！",
};

} // namespace

LEDCoderPage::LEDCoderPage(PageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::LEDCoderPage>())
{
    ui->setupUi(this);

    for (auto type : {LedType::Seg7, LedType::Seg14, LedType::Seg16}) {
        auto& boxes = type == LedType::Seg7 ? boxes7_ : type == LedType::Seg14 ? boxes14_ : boxes16_;
        const QString prefix = type == LedType::Seg7 ? "edLED7" : type == LedType::Seg14 ? "edLED14" : "edLED16";
        for (const char* name : led::segmentNames(type)) {
            auto* box = findChild<QLineEdit*>(prefix + QString::fromLatin1(name));
            Q_ASSERT(box);
            box->installEventFilter(this);
            boxes.push_back(box);
        }
    }
    alignBoxesToLabels();

    ui->Image2->setPixmap(segmentPicture(ui->Image2->size(), font()));

    auto* list = ui->vlLEDPatterns;
    list->setColumnCount(2);
    list->setHorizontalHeaderLabels({QStringLiteral("方案名"), QStringLiteral("方案")});
    list->setColumnWidth(0, 150);
    list->setColumnWidth(1, 149);
    list->horizontalHeader()->setStretchLastSection(true);
    list->verticalHeader()->setVisible(false);
    list->verticalHeader()->setDefaultSectionSize(20);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    ui->mLEDCode->setTabStopDistance(QFontMetricsF(ui->mLEDCode->font()).horizontalAdvance(QLatin1Char(' ')) * 8);

    connectHandler(ui->btnEncode, &QPushButton::clicked, this, &LEDCoderPage::btnEncodeClick);
    connectHandler(ui->btnHelp, &QPushButton::clicked, this, &LEDCoderPage::btnHelpClick);
    connectHandler(ui->btnCopyTo, &QPushButton::clicked, this, &LEDCoderPage::btnCopyToClick);
    connectHandler(ui->rbLED7, &QRadioButton::clicked, this, &LEDCoderPage::rbLED7Click);
    connectHandler(ui->rbLED14, &QRadioButton::clicked, this, &LEDCoderPage::rbLED14Click);
    connectHandler(ui->rbLED16, &QRadioButton::clicked, this, &LEDCoderPage::rbLED16Click);
    connectHandler(ui->rbC, &QRadioButton::clicked, this, &LEDCoderPage::rbCClick);
    connectHandler(ui->rbASM, &QRadioButton::clicked, this, &LEDCoderPage::rbASMClick);
    connectHandler(ui->btnLEDSave, &QPushButton::clicked, this, &LEDCoderPage::btnLEDSaveClick);
    connectHandler(ui->btnLEDDelete, &QPushButton::clicked, this, &LEDCoderPage::btnLEDDeleteClick);
    connectHandler(list, &QTableWidget::cellDoubleClicked, this, &LEDCoderPage::vlLEDPatternsDblClick);
}

LEDCoderPage::~LEDCoderPage() = default;

// Puts every box under its segment's name in the bit label above it, so the
// label reads as the column heading whatever font the system gives us.
void LEDCoderPage::alignBoxesToLabels()
{
    for (auto type : {LedType::Seg16, LedType::Seg14, LedType::Seg7}) {
        QLabel* label = bitLabelOf(type);
        const auto& boxes = boxesOf(type);
        const QString text = label->text();
        // Stretch the blanks so the names spread over the whole label.
        QFont spread = label->font();
        const qreal natural = QFontMetricsF(spread).horizontalAdvance(text);
        const auto blanks = text.count(QLatin1Char(' '));
        const qreal room = label->width() - label->contentsMargins().left() - label->contentsMargins().right() - 4;
        if (blanks > 0 && room > natural) {
            spread.setWordSpacing((room - natural) / blanks);
            label->setFont(spread);
        }
        const QFontMetricsF fm(spread);
        // Centres of the names, left to right (the reverse of computation order).
        std::vector<qreal> centres;
        for (qsizetype i = 0; i < text.size();) {
            if (text[i] == QLatin1Char(' ')) {
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < text.size() && text[end] != QLatin1Char(' ')) ++end;
            centres.push_back(fm.horizontalAdvance(text.left(i)) + fm.horizontalAdvance(text.mid(i, end - i)) / 2);
            i = end;
        }
        if (centres.size() != boxes.size()) continue;
        qreal pitch = 1e9;
        for (size_t i = 1; i < centres.size(); ++i) pitch = std::min(pitch, centres[i] - centres[i - 1]);
        const int width = std::clamp(static_cast<int>(pitch) - 2, 16, 26);
        const int x0 = label->x() + label->contentsMargins().left();
        for (size_t i = 0; i < boxes.size(); ++i) {
            QLineEdit* box = boxes[boxes.size() - 1 - i];
            box->setGeometry(x0 + static_cast<int>(centres[i] - width / 2.0 + 0.5), box->y(), width, box->height());
        }
        label->resize(std::max(label->width(), static_cast<int>(fm.horizontalAdvance(text)) + 4), label->height());
    }
}

bool LEDCoderPage::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box) return QWidget::eventFilter(watched, event);
    // Let the box handle the event first; its own handling would otherwise undo the selection.
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        static_cast<QObject*>(box)->event(event);
        runGuarded([&] { edLEDClick(box); });
        return true;
    }
    if (event->type() == QEvent::FocusIn && box == ui->edLED16A1) {
        static_cast<QObject*>(box)->event(event);
        runGuarded([&] { edLED16A1Enter(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void LEDCoderPage::edLEDClick(QLineEdit* box) { box->selectAll(); }

void LEDCoderPage::edLED16A1Enter() { ui->edLED16A1->selectAll(); }

const std::vector<QLineEdit*>& LEDCoderPage::boxesOf(LedType type) const
{
    return type == LedType::Seg7 ? boxes7_ : type == LedType::Seg14 ? boxes14_ : boxes16_;
}

QLabel* LEDCoderPage::bitLabelOf(LedType type) const
{
    return type == LedType::Seg7 ? ui->l7Bits : type == LedType::Seg14 ? ui->l14Bits : ui->l16Bits;
}

LedType LEDCoderPage::selectedType() const
{
    if (ui->rbLED16->isChecked()) return LedType::Seg16;
    if (ui->rbLED14->isChecked()) return LedType::Seg14;
    return LedType::Seg7;
}

std::vector<std::string> LEDCoderPage::boxTexts(LedType type) const
{
    std::vector<std::string> texts;
    for (auto* box : boxesOf(type)) texts.push_back(toStd(box->text()));
    return texts;
}

void LEDCoderPage::btnHelpClick()
{
    QStringList lines;
    for (const char* line : kHelp) lines << QString::fromUtf8(line);
    ui->mLEDCode->setPlainText(lines.join(QLatin1Char('\n')));
}

void LEDCoderPage::btnEncodeClick()
{
    const LedType type = selectedType();
    auto positions = led::readSegmentMap(type, boxTexts(type));
    if (!positions) {
        host_.dialogs().error(kBadMap);
        return;
    }
    led::EmitOptions options;
    options.assembler = ui->rbASM->isChecked();
    options.fourBits = ui->rb4Bits->isChecked();
    options.dataDefine = toStd(ui->edLEDDB->text());
    options.hexMarker = toStd(ui->edHex->text());
    options.prefix = ui->rbPre->isChecked();

    QStringList lines;
    for (const auto& line : led::encodeTable(type, *positions, ui->cbLEDReverse->isChecked(), options))
        lines << fromStd(line);
    ui->mLEDCode->setPlainText(lines.join(QLatin1Char('\n')));
}

void LEDCoderPage::btnCopyToClick()
{
    ui->mLEDCode->selectAll();
    ui->mLEDCode->copy();
    QTextCursor cursor = ui->mLEDCode->textCursor();
    cursor.clearSelection();
    ui->mLEDCode->setTextCursor(cursor);
}

void LEDCoderPage::switchType(LedType type)
{
    for (auto t : {LedType::Seg7, LedType::Seg14, LedType::Seg16}) {
        for (auto* box : boxesOf(t)) box->setEnabled(t == type);
        bitLabelOf(t)->setEnabled(t == type);
    }
    reloadPatterns();
}

void LEDCoderPage::rbLED7Click() { switchType(LedType::Seg7); }
void LEDCoderPage::rbLED14Click() { switchType(LedType::Seg14); }
void LEDCoderPage::rbLED16Click() { switchType(LedType::Seg16); }

void LEDCoderPage::setAssemblerOptionsEnabled(bool enabled)
{
    const std::array<QWidget*, 6> options = {ui->edLEDDB, ui->lDataDef, ui->gbHex, ui->edHex, ui->rbPre, ui->rbPost};
    for (QWidget* w : options) w->setEnabled(enabled);
}

void LEDCoderPage::rbCClick() { setAssemblerOptionsEnabled(false); }
void LEDCoderPage::rbASMClick() { setAssemblerOptionsEnabled(true); }

void LEDCoderPage::reloadPatterns()
{
    SettingsFile settings(host_.settingsPath());
    loadPatterns(settings);
}

void LEDCoderPage::loadPatterns(const SettingsFile& settings)
{
    patterns_.load(settings, selectedType());
    ui->vlLEDPatterns->setRowCount(0);
    for (const auto& entry : patterns_.entries()) appendPatternRow(entry);
    if (!patterns_.empty()) ui->vlLEDPatterns->setCurrentCell(0, 0);
}

void LEDCoderPage::appendPatternRow(const led::PatternList::Entry& entry)
{
    auto* list = ui->vlLEDPatterns;
    const int row = list->rowCount();
    list->insertRow(row);
    list->setItem(row, 0, new QTableWidgetItem(fromStd(entry.name)));
    list->setItem(row, 1, new QTableWidgetItem(fromStd(entry.pattern)));
}

void LEDCoderPage::btnLEDSaveClick()
{
    const LedType type = selectedType();
    auto positions = led::readSegmentMap(type, boxTexts(type));
    if (!positions) {
        if (type == LedType::Seg7)
            host_.dialogs().message(QStringLiteral("Error"), kBadMap, MsgIcon::Error);
        else
            host_.dialogs().error(kBadMap);
        return;
    }
    auto entered = host_.dialogs().inputText(QStringLiteral("Input Pattern Name"),
                                             QStringLiteral("Please Input Pattern Name:"), QStringLiteral("Pattern"));
    if (!entered) return;
    SettingsFile settings(host_.settingsPath());
    switch (patterns_.add(settings, toStd(*entered), led::patternString(type, *positions))) {
    case led::PatternList::Refusal::EmptyName: host_.dialogs().error(QStringLiteral("请输入方案名!")); return;
    case led::PatternList::Refusal::UnstorableName:
        host_.dialogs().error(QStringLiteral("方案名中不能有“=”，也不能以“;”或“[”开头!"));
        return;
    case led::PatternList::Refusal::DuplicateName: host_.dialogs().error(QStringLiteral("方案不能重名!")); return;
    case led::PatternList::Refusal::None: break;
    }
    appendPatternRow(patterns_.entries().back());
    auto* list = ui->vlLEDPatterns;
    if (list->currentRow() < 0) list->setCurrentCell(list->rowCount() - 1, 0);
}

void LEDCoderPage::vlLEDPatternsDblClick()
{
    auto* list = ui->vlLEDPatterns;
    const int row = list->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= patterns_.size()) return;
    const LedType type = selectedType();
    const auto read = led::readPattern(type, patterns_.entries()[static_cast<size_t>(row)].pattern);
    const auto& boxes = boxesOf(type);
    for (size_t i = 0; i < read.onScreen.size(); ++i) {
        QLineEdit* box = boxes[boxes.size() - 1 - i];
        const QString text = QString::number(read.onScreen[i]);
        // A one-character box would cut "10".."15" down to "1": let it hold the stored position.
        if (text.size() > box->maxLength()) box->setMaxLength(static_cast<int>(text.size()));
        box->setText(text);
    }
    if (!read.complete) host_.dialogs().error(kBadMap);
}

void LEDCoderPage::btnLEDDeleteClick()
{
    auto* list = ui->vlLEDPatterns;
    const int row = list->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= patterns_.size()) return;
    if (!host_.dialogs().confirm(QStringLiteral("Delect!"), QStringLiteral("Are you sure to delete this pattern?"),
                                 MsgIcon::Warning))
        return;
    SettingsFile settings(host_.settingsPath());
    patterns_.remove(settings, static_cast<size_t>(row));
    list->removeRow(row);
}

} // namespace quillon::led
