#include "talvo/numeric/interpolate.hpp"

#include <algorithm>
#include <cmath>

namespace talvo {

Interpolated interpolate_linear(std::span<const double> x, std::span<const double> y, std::span<const double> sigma,
                                std::span<const double> xi) {
  Interpolated out;
  out.y.resize(xi.size());
  out.sigma.assign(xi.size(), 0.0);
  out.left.resize(xi.size());
  out.t.resize(xi.size());
  std::size_t j = 0;
  for (std::size_t i = 0; i < xi.size(); ++i) {
    const double v = std::clamp(xi[i], x.front(), x.back());
    while (j + 2 < x.size() && x[j + 1] < v) ++j;
    const double t = (v - x[j]) / (x[j + 1] - x[j]);
    out.y[i] = (1.0 - t) * y[j] + t * y[j + 1];
    if (!sigma.empty()) out.sigma[i] = std::hypot((1.0 - t) * sigma[j], t * sigma[j + 1]);
    out.left[i] = j;
    out.t[i] = t;
  }
  return out;
}

double sigma_of_sum(const Interpolated& in, std::span<const double> a, std::span<const double> sigma) {
  std::vector<double> w(sigma.size(), 0.0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    w[in.left[i]] += a[i] * (1.0 - in.t[i]);
    if (in.left[i] + 1 < w.size()) w[in.left[i] + 1] += a[i] * in.t[i];
  }
  double var = 0.0;
  for (std::size_t j = 0; j < sigma.size(); ++j) var += w[j] * w[j] * sigma[j] * sigma[j];
  return std::sqrt(var);
}

}  // namespace talvo
