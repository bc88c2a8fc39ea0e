// A model glass for the reduction's round trips: g(r) as Gaussian shells over
// a continuum that rises smoothly to 1, its S(Q) by the sine transform
//   S(Q) - 1 = (4 pi rho0 / Q) int r (g(r) - 1) sin(Qr) dr,
// done here by a midpoint sum on a fine r grid. G(r) = 4 pi rho0 r (g - 1) is
// exactly -4 pi rho0 r below the first shell.
#pragma once

#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace talvo::test_support {

struct Shell {
  double r, n, width;  // position, neighbours per atom, standard deviation (Angstrom)
};

inline std::vector<double> glass_sq(std::span<const double> q, double rho0, std::span<const Shell> shells, double rc,
                                    double rise) {
  constexpr double kPi = std::numbers::pi;
  constexpr double h = 0.002;
  std::vector<double> r, w;  // r and r (g - 1) h
  for (int j = 0; j < 15000; ++j) {
    const double x = (j + 0.5) * h;
    double g = 1.0 / (1.0 + std::exp(-(x - rc) / rise));
    for (const Shell& s : shells)
      g += s.n / (4.0 * kPi * rho0 * x * x) * std::exp(-0.5 * (x - s.r) * (x - s.r) / (s.width * s.width)) /
           (std::sqrt(2.0 * kPi) * s.width);
    r.push_back(x);
    w.push_back(x * (g - 1.0) * h);
  }
  std::vector<double> s(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) {
    double sum = 0.0;
    for (std::size_t j = 0; j < r.size(); ++j) sum += w[j] * std::sin(q[i] * r[j]);
    s[i] = 1.0 + 4.0 * kPi * rho0 / q[i] * sum;
  }
  return s;
}

}  // namespace talvo::test_support
