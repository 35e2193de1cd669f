#include "tools/thermistor/rt_codegen.h"
#include "tools/thermistor/rt_model.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace quillon::thermistor;

namespace {

const BetaModel kNtc10k{3950, 10, 25};

} // namespace

TEST(ThermistorModel, BetaCurveGivesTheDatasheetValues)
{
    EXPECT_NEAR(resistanceAt(kNtc10k, 25), 10.0L, 1e-12);
    EXPECT_NEAR(resistanceAt(kNtc10k, 0), 33.62L, 0.005);
    EXPECT_NEAR(resistanceAt(kNtc10k, 100) * 1000, 697.5L, 0.05);
    // Another reference point moves the whole curve.
    EXPECT_NEAR(resistanceAt(BetaModel{3950, 10, 0}, 0), 10.0L, 1e-12);

    EXPECT_THROW(resistanceAt(kNtc10k, -273.15L), ModelError);
    EXPECT_THROW(resistanceAt(kNtc10k, -300), ModelError);
    EXPECT_THROW(resistanceAt(BetaModel{3950, 0, 25}, 0), ModelError);
    // exp overflows long before a real thermistor would.
    EXPECT_THROW(resistanceAt(BetaModel{1e9, 10, 25}, -270), ModelError);
}

// Three points of the Beta curve pin a Steinhart-Hart curve that passes
// through them and stays within 0.5 % of the Beta curve between them.
TEST(ThermistorModel, ThreePointFitFollowsTheCurve)
{
    const std::array<Point, 3> points = {
        {{0, resistanceAt(kNtc10k, 0)}, {25, resistanceAt(kNtc10k, 25)}, {100, resistanceAt(kNtc10k, 100)}}};
    const SteinhartHart sh = fitSteinhartHart(points);
    EXPECT_GT(sh.b, 0);
    for (const Point& p : points) {
        EXPECT_NEAR(resistanceAt(sh, p.celsius) / p.kiloOhms, 1.0L, 1e-12) << p.celsius;
        EXPECT_NEAR(temperatureAt(sh, p.kiloOhms), p.celsius, 1e-9);
    }
    long double worst = 0;
    for (long double t = 0; t <= 100; t += 0.5L) {
        const long double err = std::fabs(resistanceAt(sh, t) / resistanceAt(kNtc10k, t) - 1);
        worst = std::max(worst, err);
        EXPECT_NEAR(temperatureAt(sh, resistanceAt(sh, t)), t, 1e-9);
    }
    EXPECT_LT(worst, 0.005L);
    EXPECT_GT(worst, 0); // the two models do differ between the points

    // Rounded datasheet points give a slightly negative C; the curve still
    // passes through them and stays on its rising branch in between.
    const std::array<Point, 3> rounded = {{{0, 33.6L}, {25, 10}, {100, 0.7L}}};
    const SteinhartHart bent = fitSteinhartHart(rounded);
    EXPECT_LT(bent.c, 0);
    for (const Point& p : rounded) EXPECT_NEAR(resistanceAt(bent, p.celsius) / p.kiloOhms, 1.0L, 1e-12) << p.celsius;
    for (long double t = 0; t <= 100; t += 5) EXPECT_GT(resistanceAt(bent, t), resistanceAt(bent, t + 5));

    // The points must tell the curve apart.
    EXPECT_THROW(fitSteinhartHart({{{0, 10}, {25, 10}, {100, 1}}}), ModelError);
    EXPECT_THROW(fitSteinhartHart({{{0, 10}, {25, 0}, {100, 1}}}), ModelError);
    EXPECT_THROW(fitSteinhartHart({{{-280, 10}, {25, 5}, {100, 1}}}), ModelError);
}

TEST(ThermistorModel, CoefficientsOfOhmsAsDatasheetsGiveThem)
{
    // Coefficients of a 10 kΩ NTC: ln R is taken of ohms, the rows are kilo-ohms.
    const SteinhartHart sh{1.009249522e-3L, 2.378405444e-4L, 2.019202697e-7L};
    const long double l = std::log(10000.0L);
    const long double celsius = 1 / (sh.a + sh.b * l + sh.c * l * l * l) - kZeroCelsius;
    EXPECT_NEAR(celsius, 24.7L, 0.1);
    EXPECT_NEAR(resistanceAt(sh, celsius), 10.0L, 1e-9);
    // With C = 0 the curve is a Beta curve through T0 = 1/A.
    const SteinhartHart linear{1 / (25 + kZeroCelsius) - std::log(10000.0L) / 3950, 1 / 3950.0L, 0};
    EXPECT_NEAR(resistanceAt(linear, 100), resistanceAt(kNtc10k, 100), 1e-12);
    EXPECT_THROW(resistanceAt(SteinhartHart{1e-3L, 0, 0}, 25), ModelError);
}

TEST(ThermistorModel, TemperatureRangeIncludesItsEnd)
{
    auto range = temperatureRange(-40, 125, 5);
    ASSERT_EQ(range.size(), 34u);
    EXPECT_EQ(range.front(), -40);
    EXPECT_EQ(range.back(), 125);
    // Counting down, whichever sign the step has.
    EXPECT_EQ(temperatureRange(125, -40, 5), temperatureRange(125, -40, -5));
    EXPECT_EQ(temperatureRange(125, -40, 5).back(), -40);
    // A step that does not land on the end stops before it.
    EXPECT_EQ(temperatureRange(0, 10, 3).back(), 9);
    EXPECT_EQ(temperatureRange(7, 7, 1).size(), 1u);
    // Tenths add up to 1 up to rounding; the end is still there.
    EXPECT_EQ(temperatureRange(0, 1, 0.1L).size(), 11u);

    EXPECT_THROW(temperatureRange(0, 10, 0), ModelError);
    EXPECT_THROW(temperatureRange(0, 1e6L, 1e-3L), ModelError);
    EXPECT_THROW(temperatureRange(0, NAN, 1), ModelError);
}

// The rows read back as the numbers they stand for, written the way the
// grid writes stepped temperatures.
TEST(ThermistorModel, RowsAsTheGridHoldsThem)
{
    const auto rows = modelRows(kNtc10k, temperatureRange(0, 1, 0.1L));
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[3].temperature, "0.3");
    EXPECT_EQ(rows[10].temperature, "1");
    EXPECT_EQ(rows[0].resistance, "33.6206");
    const auto hot = modelRows(kNtc10k, {100, -5.5L});
    EXPECT_EQ(hot[0].resistance, "0.6975198");
    EXPECT_EQ(hot[1].temperature, "-5.5");
    // Seven significant digits keep every code of a 10-bit table.
    const auto table = modelRows(kNtc10k, temperatureRange(-40, 125, 1));
    for (size_t i = 0; i < table.size(); ++i) {
        const long double t = -40 + static_cast<long double>(i);
        EXPECT_EQ(adcCode(1023, 10, std::stold(table[i].resistance), Circuit::Rt_Above_R),
                  adcCode(1023, 10, resistanceAt(kNtc10k, t), Circuit::Rt_Above_R))
            << table[i].temperature;
    }
    EXPECT_THROW(modelRows(kNtc10k, {-274}), ModelError);
}
