#include "tools/thermistor/rt_model.h"

#include "common/numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace quillon::thermistor {

namespace {

long double kelvin(long double celsius)
{
    const long double k = celsius + kZeroCelsius;
    if (!(k > 0)) throw ModelError("temperature at or below absolute zero");
    return k;
}

long double checked(long double kiloOhms)
{
    if (!std::isfinite(kiloOhms) || !(kiloOhms > 0)) throw ModelError("the model gives no positive resistance");
    return kiloOhms;
}

long double betaAt(const BetaModel& m, long double celsius)
{
    if (!(m.r25 > 0)) throw ModelError("R25 must be above zero");
    return checked(m.r25 * std::exp(m.beta * (1 / kelvin(celsius) - 1 / kelvin(m.t25))));
}

// Solves A + B x + C x^3 = 1/T for x = ln(R). With C = 0 it is linear. A
// fit through measured points often gives a slightly negative C: the cubic
// then turns back outside the fitted range, and the resistance is the root
// on the rising part between its turning points.
long double steinhartAt(const SteinhartHart& m, long double celsius)
{
    const long double y = m.a - 1 / kelvin(celsius);
    long double x;
    if (m.c == 0) {
        if (m.b == 0) throw ModelError("B and C are both zero");
        x = -y / m.b;
    } else {
        // x^3 + 3p x + 2q = 0
        const long double p = m.b / (3 * m.c);
        const long double q = y / (2 * m.c);
        const long double disc = p * p * p + q * q;
        if (disc >= 0) {
            const long double s = std::sqrt(disc);
            x = std::cbrt(s - q) - std::cbrt(s + q);
        } else {
            // Three real roots; the middle one, the smallest in size, lies between the turning points.
            const long double r = std::sqrt(-p);
            const long double phi = std::acos(std::clamp(-q / (r * r * r), -1.0L, 1.0L));
            x = 2 * r * std::cos((phi - 2 * std::numbers::pi_v<long double>) / 3);
        }
    }
    if (!(m.b + 3 * m.c * x * x > 0)) throw ModelError("the temperature lies outside what the coefficients describe");
    return checked(std::exp(x) / 1000);
}

} // namespace

long double resistanceAt(const Model& model, long double celsius)
{
    if (const auto* beta = std::get_if<BetaModel>(&model)) return betaAt(*beta, celsius);
    return steinhartAt(std::get<SteinhartHart>(model), celsius);
}

long double temperatureAt(const SteinhartHart& m, long double kiloOhms)
{
    const long double l = std::log(checked(kiloOhms) * 1000);
    const long double inv = m.a + m.b * l + m.c * l * l * l;
    if (!(inv > 0) || !std::isfinite(inv)) throw ModelError("the coefficients give no temperature");
    return 1 / inv - kZeroCelsius;
}

SteinhartHart fitSteinhartHart(const std::array<Point, 3>& points)
{
    long double l[3], y[3];
    for (int i = 0; i < 3; ++i) {
        l[i] = std::log(checked(points[static_cast<size_t>(i)].kiloOhms) * 1000);
        y[i] = 1 / kelvin(points[static_cast<size_t>(i)].celsius);
    }
    if (l[0] == l[1] || l[0] == l[2] || l[1] == l[2])
        throw ModelError("the three points need three different resistances");
    const long double g2 = (y[1] - y[0]) / (l[1] - l[0]);
    const long double g3 = (y[2] - y[0]) / (l[2] - l[0]);
    SteinhartHart m;
    m.c = (g3 - g2) / (l[2] - l[1]) / (l[0] + l[1] + l[2]);
    m.b = g2 - m.c * (l[0] * l[0] + l[0] * l[1] + l[1] * l[1]);
    m.a = y[0] - (m.b + m.c * l[0] * l[0]) * l[0];
    if (!std::isfinite(m.a) || !std::isfinite(m.b) || !std::isfinite(m.c))
        throw ModelError("the three points do not determine a curve");
    return m;
}

std::vector<long double> temperatureRange(long double from, long double to, long double step)
{
    if (!std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step) || step == 0)
        throw ModelError("the temperature step must be a number other than zero");
    step = to < from ? -std::fabs(step) : std::fabs(step);
    // A step that lands on `to` up to rounding still includes it.
    const long double span = (to - from) / step;
    if (span > static_cast<long double>(kMaxRows)) throw ModelError("more than 100000 rows");
    const auto count = static_cast<size_t>(std::floor(span + 1e-9L)) + 1;
    std::vector<long double> out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) out.push_back(from + static_cast<long double>(i) * step);
    return out;
}

std::vector<Row> modelRows(const Model& model, const std::vector<long double>& celsius)
{
    std::vector<Row> rows;
    rows.reserve(celsius.size());
    for (long double t : celsius) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.7Lg", resistanceAt(model, t));
        rows.push_back({formatFloat(t), formatFloat(std::strtold(buf, nullptr))});
    }
    return rows;
}

} // namespace quillon::thermistor
