#include "tests/support/frame_fixture.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

using namespace quillon;
using namespace quillon::test;

namespace {

class ColorResisterPageTest : public FrameTest {
protected:
    void SetUp() override
    {
        makeFrame();
        find<QTabWidget>("pcToolSet")->setCurrentIndex(2);
    }
    void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    void clickAll(std::initializer_list<const char*> names)
    {
        for (const char* n : names) click(n);
    }
    QString text(const char* label) { return find<QLabel>(label)->text(); }
    QColor swatch(const char* label) { return find<QLabel>(label)->palette().color(QPalette::Window); }
};

} // namespace

TEST_F(ColorResisterPageTest, StartsAsBlackBrownBlackGold)
{
    EXPECT_EQ(text("lResister"), "1");
    EXPECT_EQ(text("lPrecision"), "精度: ±5%");
    EXPECT_EQ(text("lColor"), "1   2         3     4");
    EXPECT_EQ(text("lCl1"), "黑");
    EXPECT_EQ(text("lCl2"), "棕");
    EXPECT_EQ(text("lCl4"), "黑");
    EXPECT_EQ(text("lCl5"), "金");
    EXPECT_EQ(swatch("lColor2"), QColor(128, 0, 0));
    EXPECT_EQ(swatch("lColor5"), QColor(128, 128, 0));
    EXPECT_TRUE(find<QLabel>("lColor3")->isHidden());
    EXPECT_TRUE(find<QLabel>("lCl3")->isHidden());
    EXPECT_TRUE(find<QRadioButton>("rb4Color")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("rbOme")->isChecked());
    EXPECT_EQ(find<QRadioButton>("rbKOme")->text(), "几K 欧");
    EXPECT_FALSE(find<QToolButton>("sb3Red")->isEnabled());
    EXPECT_TRUE(find<QToolButton>("sb2Red")->isEnabled());
    EXPECT_EQ(find<QToolButton>("sb4Silver")->text(), "█银");
    EXPECT_EQ(find<QToolButton>("sb5Gray")->text(), "");
    EXPECT_EQ(find<QToolButton>("sb1White")->palette().color(QPalette::ButtonText), QColor(255, 255, 255));
    auto* memo = find<QPlainTextEdit>("mResisterBase");
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->toPlainText().startsWith("一、常用电阻器的标志方法:"));
    EXPECT_TRUE(memo->toPlainText().contains("二、电阻器的正确选用"));
}

TEST_F(ColorResisterPageTest, WorkedExamplesInEveryUnit)
{
    struct Case {
        bool five;
        std::initializer_list<const char*> buttons;
        const char *ohm, *kohm, *mohm, *precision;
    };
    const Case cases[] = {
        {false, {"sb1Brown", "sb2Black", "sb4Red", "sb5Gold"}, "1000", "1", "0.001", "精度: ±5%"},
        {false, {"sb1Blue", "sb2Gray", "sb4Orange", "sb5Gold"}, "68000", "68", "0.068", "精度: ±5%"},
        {true, {"sb1Brown", "sb2Black", "sb3Green", "sb4Brown", "sb5Brown"}, "1050", "1.05", "0.00105", "精度: ±1%"},
        {false, {"sb1Yellow", "sb2Purple", "sb4Silver", "sb5Black"}, "0.47", "0.00047", "4.7e-07", "精度: ±20%"},
        {true,
         {"sb1White", "sb2White", "sb3White", "sb4White", "sb5White"},
         "9.99e+11",
         "9.99e+08",
         "999000",
         "精度: +5~-20%"},
    };
    for (const Case& c : cases) {
        click(c.five ? "rb5Color" : "rb4Color");
        click("rbOme");
        clickAll(c.buttons);
        EXPECT_EQ(text("lResister"), c.ohm);
        click("rbKOme");
        EXPECT_EQ(text("lResister"), c.kohm);
        click("rbMOme");
        EXPECT_EQ(text("lResister"), c.mohm);
        EXPECT_EQ(text("lPrecision"), c.precision);
    }
}

TEST_F(ColorResisterPageTest, BandCountSwitchKeepsTheThirdDigit)
{
    clickAll({"sb1Brown", "sb2Black"});
    EXPECT_EQ(text("lResister"), "10");
    click("rb5Color");
    EXPECT_EQ(text("lResister"), "100");
    EXPECT_EQ(text("lColor"), "1   2    3   4     5");
    EXPECT_FALSE(find<QLabel>("lColor3")->isHidden());
    EXPECT_TRUE(find<QToolButton>("sb3Red")->isEnabled());
    click("sb3Red");
    EXPECT_EQ(text("lResister"), "102");
    EXPECT_EQ(text("lCl3"), "红");
    EXPECT_EQ(swatch("lColor3"), QColor(255, 0, 0));
    click("rb4Color");
    EXPECT_EQ(text("lResister"), "10");
    EXPECT_FALSE(find<QToolButton>("sb3Red")->isEnabled());
    // The multiplier column paints band 4, never the hidden third digit.
    click("sb4Gold");
    EXPECT_EQ(text("lResister"), "1");
    EXPECT_EQ(text("lCl4"), "金");
    EXPECT_EQ(text("lCl3"), "红");
    click("rb5Color");
    EXPECT_EQ(text("lResister"), "10.2");
}

TEST_F(ColorResisterPageTest, BlankToleranceButtonsMeanNoBand)
{
    for (const char* name : {"sb5Black", "sb5Gray"}) {
        click("sb5Silver");
        EXPECT_EQ(text("lPrecision"), "精度: ±10%");
        click(name);
        EXPECT_EQ(text("lCl5"), "无");
        EXPECT_EQ(text("lPrecision"), "精度: ±20%");
        EXPECT_EQ(swatch("lColor5"), find<QLabel>("lColor5")->palette().color(QPalette::Button));
    }
}

TEST_F(ColorResisterPageTest, BandNumbersSitUnderTheirSwatchesInBothModes)
{
    auto* numbers = find<QLabel>("lColor");
    // Which swatch each digit of the label text numbers.
    const std::pair<const char*, std::vector<const char*>> modes[] = {
        {"rb4Color", {"lColor1", "lColor2", "lColor4", "lColor5"}},
        {"rb5Color", {"lColor1", "lColor2", "lColor3", "lColor4", "lColor5"}},
        {"rb4Color", {"lColor1", "lColor2", "lColor4", "lColor5"}},
    };
    for (const auto& [radio, swatches] : modes) {
        click(radio);
        const QString text = numbers->text();
        const QFontMetricsF fm(numbers->font());
        const qreal left = numbers->x() + numbers->contentsMargins().left();
        size_t band = 0;
        for (int i = 0; i < text.size(); ++i) {
            if (text[i] == QLatin1Char(' ')) continue;
            ASSERT_LT(band, swatches.size());
            const qreal digitCentre = left + fm.horizontalAdvance(text.left(i)) + fm.horizontalAdvance(text[i]) / 2;
            auto* s = find<QLabel>(swatches[band]);
            const qreal swatchCentre = s->x() + s->width() / 2.0;
            EXPECT_NEAR(digitCentre, swatchCentre, 1.5) << radio << " band " << swatches[band];
            const std::string name = "lCl" + std::string(swatches[band]).substr(6);
            EXPECT_NEAR(find<QLabel>(name.c_str())->geometry().center().x(), s->geometry().center().x(), 1.5);
            ++band;
        }
        EXPECT_EQ(band, swatches.size());
    }
}
