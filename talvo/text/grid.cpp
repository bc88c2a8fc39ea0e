#include "talvo/text/grid.hpp"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "talvo/text/quote.hpp"

namespace talvo {
namespace {

constexpr double kExact = 9007199254740992.0;  // 2^53: whole numbers below it are exact in a double

// A value as a whole number of units of 10^-decimals, with the fewest
// decimals (at most 22, where 10^decimals is exact) that give the value back
// in one rounding: 0.37 is 37 units of 10^-2, 2e-7 is 2 of 10^-7. A value
// read from a decimal of up to 15 digits gives back that decimal (two such
// decimals never round to one double). Nothing where the units would reach
// 2^53 (0.30000000000000004) or the decimals pass 22 (1e-300).
struct Decimal {
  double units = 0.0;
  int decimals = 0;
};

std::optional<Decimal> as_decimal(double value) {
  double scale = 1.0;
  for (int decimals = 0; decimals <= 22; ++decimals, scale *= 10.0) {
    const double units = std::nearbyint(value * scale);
    if (!(std::fabs(units) < kExact)) return std::nullopt;
    if (units / scale == value) return Decimal{units, decimals};
  }
  return std::nullopt;
}

}  // namespace

double grid_count(double from, double to, double step) {
  return std::max(0.0, std::floor((to - from) / step + 1e-3) + 1);
}

std::vector<double> grid_points(double from, double to, double step, std::size_t most) {
  std::vector<double> points;
  if (!(step > 0.0) || !std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step)) return points;
  // As decimals: F + i S units of 10^-decimals, exact while below 2^53,
  // divided by 10^decimals (exact up to 10^22) with one rounding.
  std::optional<Decimal> first = as_decimal(from), by = as_decimal(step);
  double scale = 1.0;
  bool as_decimals = false;
  if (first && by) {
    const int decimals = std::max(first->decimals, by->decimals);
    for (int k = 0; k < decimals; ++k) scale *= 10.0;
    // Both in units of 10^-decimals, while they stay exact.
    const auto widen = [&](Decimal& d) {
      for (; d.decimals < decimals; ++d.decimals) {
        if (std::fabs(d.units) * 10.0 >= kExact) return false;
        d.units *= 10.0;
      }
      return true;
    };
    as_decimals = widen(*first) && widen(*by) &&
                  std::fabs(first->units) + static_cast<double>(most) * std::fabs(by->units) < kExact;
  }
  points.reserve(most);
  for (std::size_t i = 0; i < most; ++i) {
    const double v = as_decimals ? (first->units + static_cast<double>(i) * by->units) / scale
                                 : from + static_cast<double>(i) * step;
    if (v > to + step / 1000) break;
    points.push_back(v);
  }
  return points;
}

bool grid_increasing(std::span<const double> points) {
  return std::adjacent_find(points.begin(), points.end(), std::greater_equal<>()) == points.end();
}

namespace {

// A count as a message gives it: the shortest text below 10^15, 6 digits
// above (no whole number there is exact), and past the doubles as what it is.
std::string count_text(double count) {
  char buffer[40];
  if (!std::isfinite(count)) {
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, std::numeric_limits<double>::max());
    return "more than " + std::string(buffer, r.ptr);
  }
  const auto r = count < 1e15 ? std::to_chars(buffer, buffer + sizeof buffer, count)
                              : std::to_chars(buffer, buffer + sizeof buffer, count, std::chars_format::general, 6);
  return std::string(buffer, r.ptr);
}

}  // namespace

Result<std::vector<double>> read_grid(std::string_view spec, const GridOptions& options) {
  const std::string quoted = quote_for_message(spec);
  std::vector<double> parts;
  NumberOptions number;
  number.quantity = options.quantity;
  number.range = true;
  // Every field, a last empty one too ("0:1:0.5:" is no grid).
  for (std::size_t start = 0;;) {
    const std::size_t end = spec.find(':', start);
    const Result<double> v =
        read_number(spec.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start),
                    "grid value", number);
    if (!v.ok()) return v.error();
    parts.push_back(*v);
    if (end == std::string_view::npos || parts.size() > 3) break;
    start = end + 1;
  }
  if (parts.size() != 3 || !(parts[2] > 0))
    return make_error(ErrorKind::kParseError, "a grid is FROM:TO:STEP with STEP > 0: " + quoted);
  const double from = parts[0], to = parts[1], step = parts[2];
  if (to < from)
    return make_error(ErrorKind::kInvalidArgument, "a grid FROM:TO:STEP needs TO at or above FROM: " + quoted);
  if (!std::isfinite(to - from))
    return make_error(ErrorKind::kOutOfRange, "a grid's TO - FROM passes the largest number: " + quoted);
  const auto too_large = [&](double count) {
    char most[40];
    const auto r = std::to_chars(most, most + sizeof most, options.most);
    return make_error(ErrorKind::kOutOfRange, "grid too large: " + quoted + " has " + count_text(count) +
                                                  " points, at most " + std::string(most, r.ptr));
  };
  // The count first, so that a grid too large takes no memory.
  const double count = grid_count(from, to, step);
  if (count > options.most) return too_large(count);
  std::vector<double> points = grid_points(from, to, step, static_cast<std::size_t>(count) + 1);
  // The count may fall one short of the points where TO lies a thousandth of a step below one.
  if (static_cast<double>(points.size()) > options.most) return too_large(static_cast<double>(points.size()));
  if (!grid_increasing(points))
    return make_error(ErrorKind::kInvalidArgument,
                      "a grid's STEP is too small for its points to differ as numbers: " + quoted);
  return points;
}

}  // namespace talvo
