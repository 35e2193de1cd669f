#pragma once
// Temperature-resistance rows computed from a thermistor model instead of a
// datasheet table: the Beta equation or Steinhart-Hart, and a Steinhart-Hart
// fit through three measured points.

#include "tools/thermistor/rt_table.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace quillon::thermistor {

inline constexpr long double kZeroCelsius = 273.15L;

// R(T) = R25 * exp(B * (1/T - 1/T25)), temperatures in kelvin inside.
struct BetaModel {
    long double beta = 0;
    long double r25 = 0;  // kilo-ohms, like the grid
    long double t25 = 25; // degrees Celsius
};

// 1/T = A + B ln(R) + C ln(R)^3 with T in kelvin and R in ohms, the way
// datasheets and calculators give the coefficients.
struct SteinhartHart {
    long double a = 0, b = 0, c = 0;
};

using Model = std::variant<BetaModel, SteinhartHart>;

// A model that cannot give a positive, finite resistance at that temperature.
struct ModelError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Resistance in kilo-ohms at `celsius`. Throws ModelError.
long double resistanceAt(const Model& model, long double celsius);
// Temperature in degrees Celsius at `kiloOhms` (Steinhart-Hart is explicit in this direction).
long double temperatureAt(const SteinhartHart& model, long double kiloOhms);

struct Point {
    long double celsius = 0;
    long double kiloOhms = 0;
};

// The coefficients whose curve passes through the three points exactly.
// Throws ModelError when the points do not determine one (equal resistances,
// a temperature at or below absolute zero, a non-positive resistance).
SteinhartHart fitSteinhartHart(const std::array<Point, 3>& points);

// The temperatures from..to in steps of `step` (the sign of the step follows
// the direction; `to` is included when a step lands on it). Throws ModelError
// for a zero step or more than kMaxRows rows.
inline constexpr size_t kMaxRows = 100000;
std::vector<long double> temperatureRange(long double from, long double to, long double step);

// Grid rows for the temperatures: each temperature as the grid's stepping
// writes it, each resistance in kilo-ohms to seven significant digits.
std::vector<Row> modelRows(const Model& model, const std::vector<long double>& celsius);

} // namespace quillon::thermistor
