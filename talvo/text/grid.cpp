#include "talvo/text/grid.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

namespace talvo {
namespace {

// A number written in decimals ("0.37", "-2", "10.", "2e-7") as a whole
// number of units of 10^-decimals: 37 and 2, -2 and 0, 2 and 7. The
// exponent as the number reader takes it too: after d, D, q or Q, or a sign
// alone ("2d-7", "2-7"). Nothing for more than 15 digits, a scale past
// 10^-22 or anything else.
struct PlainDecimal {
  long long units = 0;
  int decimals = 0;
};

std::optional<PlainDecimal> plain_decimal(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  PlainDecimal d;
  bool negative = false, point = false;
  int digits = 0;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t i = 0;
  constexpr std::string_view kExponentStarts = "eEdDqQ+-";
  for (; i < text.size() && kExponentStarts.find(text[i]) == std::string_view::npos; ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 15) return std::nullopt;
      d.units = d.units * 10 + (c - '0');
      d.decimals += point;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size()) {  // the exponent: a sign and at most three digits
    std::string_view e = text.substr(text[i] == '+' || text[i] == '-' ? i : i + 1);
    const bool down = !e.empty() && e.front() == '-';
    if (!e.empty() && (e.front() == '-' || e.front() == '+')) e.remove_prefix(1);
    if (e.empty() || e.size() > 3) return std::nullopt;
    int exponent = 0;
    for (const char c : e) {
      if (c < '0' || c > '9') return std::nullopt;
      exponent = exponent * 10 + (c - '0');
    }
    d.decimals += down ? exponent : -exponent;
    for (; d.decimals < 0; ++d.decimals) {
      if (d.units >= 100'000'000'000'000) return std::nullopt;
      d.units *= 10;
    }
  }
  if (d.decimals > 22) return std::nullopt;
  if (negative) d.units = -d.units;
  return d;
}

}  // namespace

double grid_count(double from, double to, double step) {
  return std::max(0.0, std::floor((to - from) / step + 1e-3) + 1);
}

std::vector<double> grid_points(double from, double to, double step, std::size_t most, std::string_view from_text,
                                std::string_view step_text) {
  std::vector<double> points;
  if (!(step > 0.0) || !std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step)) return points;
  // As decimals: F + i S units of 10^-decimals, exact in a double while
  // below 2^53, divided by 10^decimals (exact up to 10^22) with one rounding.
  constexpr double kExact = 9007199254740992.0;  // 2^53
  std::optional<PlainDecimal> first = plain_decimal(from_text), by = plain_decimal(step_text);
  double scale = 1.0;
  bool as_decimals = false;
  if (first && by) {
    const int decimals = std::max(first->decimals, by->decimals);
    for (int k = 0; k < decimals; ++k) scale *= 10.0;
    // Both in units of 10^-decimals, while they stay exact.
    const auto widen = [&](PlainDecimal& d) {
      for (; d.decimals < decimals; ++d.decimals) {
        if (std::fabs(static_cast<double>(d.units)) * 10.0 >= kExact) return false;
        d.units *= 10;
      }
      return true;
    };
    const bool exact = widen(*first) && widen(*by) &&
                       std::fabs(static_cast<double>(first->units)) +
                               static_cast<double>(most) * std::fabs(static_cast<double>(by->units)) <
                           kExact;
    // The texts must be those of the values (each the decimal rounded once).
    const bool same =
        exact && static_cast<double>(first->units) / scale == from && static_cast<double>(by->units) / scale == step;
    as_decimals = same;
  }
  points.reserve(most);
  for (std::size_t i = 0; i < most; ++i) {
    const double v =
        as_decimals
            ? (static_cast<double>(first->units) + static_cast<double>(i) * static_cast<double>(by->units)) / scale
            : from + static_cast<double>(i) * step;
    if (v > to + step / 1000) break;
    points.push_back(v);
  }
  return points;
}

bool grid_increasing(std::span<const double> points) {
  return std::adjacent_find(points.begin(), points.end(), std::greater_equal<>()) == points.end();
}

}  // namespace talvo
