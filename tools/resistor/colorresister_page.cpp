#include "tools/resistor/colorresister_page.h"

#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"

#include "ui_colorresister_page.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QToolButton>

namespace quillon::resistor {

namespace {

const QColor kSkyBlue(135, 206, 235);

QColor swatchColor(resistor::Color c, const QPalette& palette)
{
    if (c == resistor::Color::None) return palette.color(QPalette::Button);
    const auto& ci = resistor::info(c);
    return QColor(ci.r, ci.g, ci.b);
}

void paintBackground(QWidget* w, const QColor& color)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, color);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// A small resistor with the given bands, drawn the way the page's big one is.
void drawResistor(QPainter& p, QRect body, const std::vector<resistor::Color>& colors, const QPalette& palette)
{
    const int mid = body.center().y();
    p.setPen(QPen(QColor(110, 110, 110), 3));
    p.drawLine(body.left() - 30, mid, body.left(), mid);
    p.drawLine(body.right(), mid, body.right() + 30, mid);
    p.setPen(Qt::NoPen);
    p.setBrush(kSkyBlue);
    p.drawRoundedRect(body, 8, 8);
    const int n = static_cast<int>(colors.size());
    const int bandW = 7;
    const int spacing = (body.width() - 30) / n;
    for (int i = 0; i < n; ++i) {
        // The tolerance band sits apart from the others.
        int x = body.left() + 12 + i * spacing + (i == n - 1 ? 8 : 0);
        p.setBrush(swatchColor(colors[static_cast<size_t>(i)], palette));
        p.drawRect(x, body.top(), bandW, body.height());
    }
}

QPixmap resistorsPicture(QSize size, const QFont& font, const QPalette& palette)
{
    using C = resistor::Color;
    QPixmap pix(size);
    pix.fill(Qt::white);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing, true);
    QFont f = font;
    p.setFont(f);
    const int bodyW = 100, bodyH = 22;
    const int x = size.width() - bodyW - 40;
    drawResistor(p, QRect(x, 14, bodyW, bodyH), {C::Brown, C::Black, C::Red, C::Gold}, palette);
    drawResistor(p, QRect(x, 58, bodyW, bodyH), {C::Brown, C::Black, C::Green, C::Brown, C::Brown}, palette);
    p.setPen(Qt::black);
    p.drawText(QRect(6, 6, 130, 38), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("四环: 1kΩ ±5%"));
    p.drawText(QRect(6, 50, 130, 38), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("五环: 1.05kΩ ±1%"));
    return pix;
}

// Captions are drawn in the band's colour; light colours get a dark face so
// they stay readable. Disabled buttons keep the grey text.
void paintPaletteButton(QToolButton* button, const QColor& c)
{
    QPalette pal = button->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::ButtonText, c);
        pal.setColor(group, QPalette::WindowText, c);
    }
    if (qGray(c.rgb()) > 170) {
        pal.setColor(QPalette::Button, QColor(96, 96, 96));
        pal.setColor(QPalette::Window, QColor(96, 96, 96));
        button->setAutoFillBackground(true);
    }
    button->setPalette(pal);
}

} // namespace

ColorResisterPage::ColorResisterPage(PageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::ColorResisterPage>())
{
    ui->setupUi(this);

    paintBackground(ui->shBody, kSkyBlue);
    paintBackground(ui->shLead1, QColor(110, 110, 110));
    paintBackground(ui->shLead2, QColor(110, 110, 110));
    ui->shBody->setStyleSheet(QStringLiteral("QLabel { background-color: rgb(135, 206, 235); border-radius: 10px; }"));
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(14);
    ui->lColor->setFont(mono);
    placeBands(false);

    for (int band = 1; band <= 5; ++band) {
        static const resistor::Color initial[] = {resistor::Color::Black, resistor::Color::Brown,
                                                  resistor::Color::Black, resistor::Color::Black,
                                                  resistor::Color::Gold};
        paintBackground(swatch(band), swatchColor(initial[band - 1], palette()));
    }

    for (const resistor::PaletteButton& b : resistor::palette()) {
        auto* button = findChild<QToolButton*>(fromStd(b.objectName));
        if (!button) continue;
        if (b.color != resistor::Color::None) paintPaletteButton(button, swatchColor(b.color, palette()));
        connectHandler(button, &QToolButton::clicked, this, [this, &b] { colorButtonClick(b); });
    }

    QFont big = font();
    big.setPixelSize(18);
    big.setBold(true);
    ui->lResister->setFont(big);
    paintBackground(ui->lResister, QColor(160, 160, 164));

    ui->imgResistors->setPixmap(resistorsPicture(ui->imgResistors->size(), font(), palette()));
    ui->mResisterBase->setPlainText(QString::fromUtf8(resistor::referenceText()));

    connectRadios();
}

void ColorResisterPage::connectRadios()
{
    connectHandler(ui->rb4Color, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rb4ColorClick();
    });
    connectHandler(ui->rb5Color, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rb5ColorClick();
    });
    connectHandler(ui->rbOme, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbOmeClick();
    });
    connectHandler(ui->rbKOme, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbKOmeClick();
    });
    connectHandler(ui->rbMOme, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbMOmeClick();
    });
}

ColorResisterPage::~ColorResisterPage() = default;

// The band numbers are one label of blank-padded text, so the swatches are
// placed under its digits, measured in the label's fixed-pitch font. The two
// texts put the last two digits one character apart, so those bands move
// with the band count.
void ColorResisterPage::placeBands(bool fiveBand)
{
    const QFontMetricsF fm(ui->lColor->font());
    const qreal w = fm.horizontalAdvance(QLatin1Char('0'));
    // Character positions of the digits in "1   2         3     4" and
    // "1   2    3   4     5"; band 3 only shows with five bands.
    static const qreal fourBands[] = {0, 4, 9, 14, 20};
    static const qreal fiveBands[] = {0, 4, 9, 13, 19};
    const qreal* columns = fiveBand ? fiveBands : fourBands;
    const int left = ui->lColor->x() + ui->lColor->contentsMargins().left();
    for (int band = 1; band <= 5; ++band) {
        const int centre = left + qRound(columns[band - 1] * w + w / 2);
        QLabel* s = swatch(band);
        s->move(centre - s->width() / 2, s->y());
        QLabel* n = nameLabel(band);
        n->move(centre - n->width() / 2, n->y());
    }
}

QLabel* ColorResisterPage::swatch(int band) const
{
    QLabel* const all[] = {ui->lColor1, ui->lColor2, ui->lColor3, ui->lColor4, ui->lColor5};
    return all[band - 1];
}

QLabel* ColorResisterPage::nameLabel(int band) const
{
    QLabel* const all[] = {ui->lCl1, ui->lCl2, ui->lCl3, ui->lCl4, ui->lCl5};
    return all[band - 1];
}

void ColorResisterPage::initBands() { decoder_ = resistor::Decoder{}; }

void ColorResisterPage::colorButtonClick(const resistor::PaletteButton& button)
{
    decoder_.select(button.column, button.color);
    nameLabel(button.column)->setText(QString::fromUtf8(resistor::info(button.color).name));
    paintBackground(swatch(button.column), swatchColor(button.color, palette()));
    recompute();
}

void ColorResisterPage::setColumn3Enabled(bool on)
{
    for (const resistor::PaletteButton& b : resistor::palette()) {
        if (b.column != 3) continue;
        if (auto* button = findChild<QToolButton*>(fromStd(b.objectName))) button->setEnabled(on);
    }
}

void ColorResisterPage::rb4ColorClick()
{
    setColumn3Enabled(false);
    ui->lColor->setText(QString::fromUtf8(resistor::kBandNumbers4));
    placeBands(false);
    ui->lColor3->setVisible(false);
    ui->lCl3->setVisible(false);
    recompute();
}

void ColorResisterPage::rb5ColorClick()
{
    setColumn3Enabled(true);
    ui->lColor->setText(QString::fromUtf8(resistor::kBandNumbers5));
    placeBands(true);
    ui->lColor3->setVisible(true);
    ui->lCl3->setVisible(true);
    recompute();
}

void ColorResisterPage::recompute()
{
    resistor::Unit unit = resistor::Unit::Ohm;
    if (ui->rbKOme->isChecked()) unit = resistor::Unit::KOhm;
    if (ui->rbMOme->isChecked()) unit = resistor::Unit::MOhm;
    const bool five = ui->rb5Color->isChecked();
    ui->lResister->setText(fromStd(decoder_.valueText(five, unit)));
    ui->lPrecision->setText(QString::fromUtf8(decoder_.precisionText()));
}

} // namespace quillon::resistor
