#include "talvo/text/axis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "talvo/text/decimal.hpp"
#include "talvo/text/quote.hpp"

namespace talvo {
namespace {

double power_of_ten(int e) {
  static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (e >= 0 && e <= 22) return kExact[e];
  return std::pow(10.0, e);
}

// n x 10^e as a person writes it: "0.25", "-15", "2500".
std::string plain_decimal(long long n, int e) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  if (n == 0) return "0";
  if (e >= 0) {
    digits.append(static_cast<std::size_t>(e), '0');
  } else {
    const auto point = static_cast<std::size_t>(-e);
    if (digits.size() <= point) digits.insert(0, point + 1 - digits.size(), '0');
    digits.insert(digits.size() - point, ".");
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  return n < 0 ? "-" + digits : digits;
}

// The same as mantissa and exponent: "1.5e-12", "2e6".
std::string scientific_decimal(long long n, int e) {
  if (n == 0) return "0";
  std::string digits = std::to_string(n < 0 ? -n : n);
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
    ++e;
  }
  const int exponent = e + static_cast<int>(digits.size()) - 1;
  std::string out = n < 0 ? "-" : "";
  out += digits[0];
  if (digits.size() > 1) out += "." + digits.substr(1);
  return out + "e" + std::to_string(exponent);
}

}  // namespace

Axis round_axis(double lo, double hi, int most_ticks) {
  Axis a;
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0.0, hi = 1.0;
  if (lo > hi) std::swap(lo, hi);
  // Too narrow for its doubles to hold most_ticks distinct round numbers.
  const double size = std::max(std::abs(lo), std::abs(hi));
  if (!(hi - lo > 1e-9 * size)) {
    const double mid = lo / 2 + hi / 2;
    const double half = mid == 0.0 ? 1.0 : 0.05 * std::abs(mid);
    lo = mid - half;
    hi = mid + half;
  }
  if (!std::isfinite(hi - lo)) lo /= 2, hi /= 2;  // never in a picture; keeps the arithmetic finite
  a.lo = lo;
  a.hi = hi;
  most_ticks = std::clamp(most_ticks, 2, 1000);  // no axis shows more; the tick numbers stay far inside long long
  const int e0 = static_cast<int>(std::floor(std::log10((hi - lo) / most_ticks)));
  long long first = 0, last = 0, m = 1;
  int e = e0;
  // Some step of 10^e0 to 10^(e0 + 2) gives at most most_ticks ticks.
  for (bool found = false; !found; ++e)
    for (const long long mult : {1, 2, 5}) {
      const double step = static_cast<double>(mult) * power_of_ten(e);
      first = static_cast<long long>(std::ceil(lo / step - 1e-9));
      last = static_cast<long long>(std::floor(hi / step + 1e-9));
      if (last - first + 1 <= most_ticks) {
        m = mult;
        a.step = step;
        found = true;
        break;
      }
    }
  --e;
  long long largest = std::max(std::abs(first), std::abs(last)) * m;
  int digits = 0;
  for (; largest > 0; largest /= 10) ++digits;
  const bool scientific = e < -5 || digits + e > 6;
  for (long long k = first; k <= last; ++k) {
    std::string label = scientific ? scientific_decimal(k * m, e) : plain_decimal(k * m, e);
    double v = 0;
    read_decimal(label.data(), label.data() + label.size(), v);
    a.ticks.push_back(v);
    a.labels.push_back(std::move(label));
  }
  return a;
}

std::string xml_text(std::string_view s) {
  const std::string shown = escape_for_message(s, 160);
  std::string out;
  out.reserve(shown.size() + 16);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char c = shown[i];
    if (c == '\xef' && shown.compare(i, 2, "\xef\xbf") == 0 && i + 2 < shown.size() &&
        (shown[i + 2] == '\xbe' || shown[i + 2] == '\xbf')) {
      out += shown[i + 2] == '\xbe' ? "\\ufffe" : "\\uffff";
      i += 2;
      continue;
    }
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace talvo
