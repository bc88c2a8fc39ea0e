#include "talvo/structure/symmetry.hpp"

#include <cctype>
#include <cmath>
#include <string>

#include "talvo/text/decimal.hpp"

namespace talvo {
namespace {

Error bad_operation(std::string_view text, std::string_view why) {
  return make_error(ErrorKind::kParseError,
                    "symmetry operation \"" + std::string(text) + "\" is not of the form x,y,z: " + std::string(why));
}

// A number: digits with an optional point, or a fraction p/q.
bool read_constant(std::string_view s, std::size_t& i, double& value) {
  const std::size_t start = i;
  while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
  if (i == start) return false;
  double v = 0;
  if (read_decimal(s.data() + start, s.data() + i, v).ptr != s.data() + i) return false;
  if (i < s.size() && s[i] == '/') {
    const std::size_t q0 = ++i;
    while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
    double q = 0;
    if (i == q0 || read_decimal(s.data() + q0, s.data() + i, q).ptr != s.data() + i || q == 0) return false;
    v /= q;
  }
  value = v;
  return true;
}

}  // namespace

Result<SymmetryOperation> parse_operation(std::string_view text) {
  std::string s;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  SymmetryOperation op;
  op.r = Mat3{};
  op.text = std::string(text);
  std::size_t row = 0;
  std::size_t i = 0;
  while (true) {
    if (row > 2) return bad_operation(text, "more than three expressions");
    bool any = false;
    while (i < s.size() && s[i] != ',') {
      double sign = 1;
      if (s[i] == '+' || s[i] == '-') {
        sign = s[i] == '-' ? -1 : 1;
        ++i;
      }
      double factor = 1;
      const bool number = read_constant(s, i, factor);
      if (i < s.size() && s[i] == '*') {
        if (!number) return bad_operation(text, "'*' without a number before it");
        ++i;
      }
      if (i < s.size() && s[i] >= 'x' && s[i] <= 'z') {
        op.r[row][static_cast<std::size_t>(s[i] - 'x')] += sign * factor;
        ++i;
      } else if (number) {
        op.t[row] += sign * factor;
      } else {
        return bad_operation(text, "unexpected text at \"" + s.substr(i) + "\"");
      }
      any = true;
    }
    if (!any) return bad_operation(text, "an empty expression");
    ++row;
    if (i >= s.size()) break;
    ++i;  // the comma
  }
  if (row != 3) return bad_operation(text, "fewer than three expressions");
  return op;
}

Vec3 wrap_unit(const Vec3& x) {
  Vec3 w{};
  for (std::size_t k = 0; k < 3; ++k) {
    w[k] = x[k] - std::floor(x[k]);
    if (w[k] >= 1.0) w[k] = 0.0;  // -1e-17 wraps to 1 - 1e-17, which rounds to 1
  }
  return w;
}

Vec3 nearest_image(const Vec3& a, const Vec3& b) {
  Vec3 d = a - b;
  for (std::size_t k = 0; k < 3; ++k) d[k] -= std::floor(d[k] + 0.5);
  return d;
}

}  // namespace talvo
