#include "talvo/numeric/quadrature.hpp"

namespace talvo {

std::vector<double> trapezoid_weights(std::span<const double> x) {
  std::vector<double> w(x.size(), 0.0);
  for (std::size_t i = 1; i < x.size(); ++i) {
    w[i - 1] += 0.5 * (x[i] - x[i - 1]);
    w[i] += 0.5 * (x[i] - x[i - 1]);
  }
  return w;
}

double trapezoid(std::span<const double> x, std::span<const double> y) {
  double sum = 0.0;
  for (std::size_t i = 1; i < x.size(); ++i) sum += 0.5 * (x[i] - x[i - 1]) * (y[i] + y[i - 1]);
  return sum;
}

}  // namespace talvo
