// Links talvo_numeric and nothing above it: a numeric routine that needed the
// console, the files or any table would fail to link here. It also checks one
// value, the integral of sin(x) from 0 to pi (2), so the program is no stub.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "talvo/numeric/filon.hpp"

int main() {
  const int n = 101;
  const double h = std::numbers::pi / (n - 1);
  std::vector<double> x(n), f(n, 1.0);
  for (int i = 0; i < n; ++i) x[static_cast<std::size_t>(i)] = i * h;
  const talvo::Result<double> integral = talvo::filon_integral(x, f, h, 1.0);
  if (!integral.ok()) {
    std::printf("filon_integral of sin(x) over [0, pi] refused: %s\n", integral.error().message.c_str());
    return 1;
  }
  if (std::abs(*integral - 2.0) > 1e-9) {
    std::printf("filon_integral of sin(x) over [0, pi] gave %.12g\n", *integral);
    return 1;
  }
  return 0;
}
