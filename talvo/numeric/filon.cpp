#include "talvo/numeric/filon.hpp"

#include <algorithm>
#include <cmath>

namespace talvo {

FilonWeights filon_abc(double theta) {
  if (theta == 0.0) return {0.0, 2.0 / 3.0, 4.0 / 3.0};
  const double t = theta;
  if (std::fabs(t) < kFilonSeriesTheta) {
    const double t2 = t * t;
    const double alpha =
        t * t2 * (2.0 / 45 + t2 * (-2.0 / 315 + t2 * (2.0 / 4725 + t2 * (-8.0 / 467775 + t2 * (4.0 / 8513505)))));
    const double beta =
        2.0 / 3 + t2 * (2.0 / 15 + t2 * (-4.0 / 105 + t2 * (2.0 / 567 + t2 * (-4.0 / 22275 + t2 * (4.0 / 675675)))));
    const double gamma =
        4.0 / 3 +
        t2 * (-2.0 / 15 + t2 * (1.0 / 210 + t2 * (-1.0 / 11340 + t2 * (1.0 / 997920 + t2 * (-1.0 / 129729600)))));
    return {alpha, beta, gamma};
  }
  const double s = std::sin(t), c = std::cos(t);
  const double t2 = t * t, t3 = t2 * t;
  return {1.0 / t + s * c / t2 - 2.0 * s * s / t3, 2.0 * ((1.0 + c * c) / t2 - 2.0 * s * c / t3),
          4.0 * (s / t3 - c / t2)};
}

namespace {

Status check_grid(std::size_t nx, std::size_t nf) {
  if (nx != nf) return Status::error(3, "filon: x and f hold different numbers of points");
  if (nx < 3) return Status::error(1, "filon: at least 3 points are needed");
  return {};
}

double combine(const FilonWeights& w, double h, double ends_cos, double s_odd, double s_even) {
  return h * (w.alpha * ends_cos + w.beta * s_odd + w.gamma * s_even);
}

}  // namespace

Status filon_integral(std::span<const double> x, std::span<const double> f, double h, double k, double& result) {
  Status s = check_grid(x.size(), f.size());
  if (!s.ok()) return s;
  const std::size_t n = x.size();
  if (n % 2 == 0) return Status::error(2, "filon_integral: the number of points must be odd");
  double s_odd = 0.0, s_even = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = f[i] * std::sin(k * x[i]);
    // Point numbers count from 1: index 0 is point 1, an odd one.
    if (i % 2 == 0)
      s_odd += v;
    else
      s_even += v;
  }
  s_odd -= 0.5 * (f[0] * std::sin(k * x[0]) + f[n - 1] * std::sin(k * x[n - 1]));
  const double ends = f[0] * std::cos(k * x[0]) - f[n - 1] * std::cos(k * x[n - 1]);
  result = combine(filon_abc(h * k), h, ends, s_odd, s_even);
  return {};
}

Status filon_ft(std::vector<double>& x, std::vector<double>& f, std::span<const double> k, std::span<double> result) {
  Status s = check_grid(x.size(), f.size());
  if (!s.ok()) return s;
  const double h = x[1] - x[0];
  if (x.size() % 2 == 0) {
    x.push_back(x.back() + h);
    f.push_back(0.0);
  }
  const std::size_t n = x.size();
  const std::size_t nk = std::min(k.size(), result.size());

  // sin(k x_i) along the grid by the angle-addition recurrence, several k at
  // a time; every kReseed points the sines are taken afresh, which keeps the
  // drift far below single precision.
  constexpr std::size_t kBlock = 8;
  constexpr std::size_t kReseed = 64;
  for (std::size_t m0 = 0; m0 < nk; m0 += kBlock) {
    const std::size_t nb = std::min(kBlock, nk - m0);
    double sn[kBlock] = {}, cs[kBlock] = {}, sd[kBlock] = {}, cd[kBlock] = {}, odd[kBlock] = {}, even[kBlock] = {};
    double kk[kBlock] = {};
    for (std::size_t b = 0; b < nb; ++b) {
      kk[b] = k[m0 + b];
      sd[b] = std::sin(kk[b] * h);
      cd[b] = std::cos(kk[b] * h);
    }
    for (std::size_t i0 = 0; i0 < n; i0 += kReseed) {
      for (std::size_t b = 0; b < nb; ++b) {
        sn[b] = std::sin(kk[b] * x[i0]);
        cs[b] = std::cos(kk[b] * x[i0]);
      }
      const std::size_t i1 = std::min(n, i0 + kReseed);
      for (std::size_t i = i0; i < i1; ++i) {
        const double fi = f[i];
        double* acc = i % 2 == 0 ? odd : even;
        for (std::size_t b = 0; b < kBlock; ++b) {
          acc[b] += fi * sn[b];
          const double ns = sn[b] * cd[b] + cs[b] * sd[b];
          const double nc = cs[b] * cd[b] - sn[b] * sd[b];
          sn[b] = ns;
          cs[b] = nc;
        }
      }
    }
    for (std::size_t b = 0; b < nb; ++b) {
      const double kb = kk[b];
      const double s_first = f[0] * std::sin(kb * x[0]), s_last = f[n - 1] * std::sin(kb * x[n - 1]);
      const double ends = f[0] * std::cos(kb * x[0]) - f[n - 1] * std::cos(kb * x[n - 1]);
      const double value = combine(filon_abc(h * kb), h, ends, odd[b] - 0.5 * (s_first + s_last), even[b]);
      result[m0 + b] = static_cast<float>(value);
    }
  }
  return {};
}

}  // namespace talvo
