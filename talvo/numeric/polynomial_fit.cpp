#include "talvo/numeric/polynomial_fit.hpp"

#include <cmath>
#include <string>

namespace talvo {
namespace {

// The basis functions at x into row: T_0 .. T_degree of t, or x/top T_0 .. T_(degree-1).
void basis_row(double x, const PolynomialBasis& b, std::vector<double>& t, std::vector<double>& row) {
  const double u = 2.0 * x / b.top - 1.0;
  const int n = b.through_zero ? b.degree - 1 : b.degree;
  std::vector<double>& cheb = b.through_zero ? t : row;
  cheb.assign(static_cast<std::size_t>(n + 1), 1.0);
  if (n >= 1) cheb[1] = u;
  for (std::size_t k = 2; k < cheb.size(); ++k) cheb[k] = 2.0 * u * cheb[k - 1] - cheb[k - 2];
  if (b.through_zero) {
    row.resize(t.size());
    for (std::size_t k = 0; k < t.size(); ++k) row[k] = x / b.top * t[k];
  }
}

Error invalid(std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); }

}  // namespace

Result<std::vector<double>> polynomial_fit(std::span<const double> x, std::span<const double> y,
                                           const PolynomialBasis& basis, std::span<const double> x_eval) {
  const std::size_t m = x.size();
  if (basis.degree < (basis.through_zero ? 1 : 0))
    return invalid("a polynomial of degree " + std::to_string(basis.degree) + " cannot be fitted" +
                   (basis.through_zero ? " through 0" : ""));
  if (!(basis.top > 0.0) || !std::isfinite(basis.top))
    return invalid("a polynomial fit needs the top of its range above 0");
  const auto n = static_cast<std::size_t>(basis.through_zero ? basis.degree : basis.degree + 1);
  if (y.size() != m) return invalid("a polynomial fit needs as many values as abscissae");
  if (m <= n)
    return invalid("a polynomial of degree " + std::to_string(basis.degree) + " needs more than " + std::to_string(n) +
                   " points and the fit range holds " + std::to_string(m));
  // Householder QR of the m x n design matrix, column by column, applied to y as it goes.
  std::vector<double> a(m * n), b(y.begin(), y.end()), t, row;
  for (std::size_t i = 0; i < m; ++i) {
    basis_row(x[i], basis, t, row);
    for (std::size_t k = 0; k < n; ++k) a[k * m + i] = row[k];
  }
  std::vector<double> diag(n);
  for (std::size_t k = 0; k < n; ++k) {
    double* col = &a[k * m];
    double norm = 0.0;
    for (std::size_t i = k; i < m; ++i) norm += col[i] * col[i];
    norm = std::sqrt(norm);
    // A column that the ones before already span: the points do not determine this term.
    double before = 0.0;
    for (std::size_t i = 0; i < k; ++i) before += col[i] * col[i];
    if (!(norm > 1e-12 * std::sqrt(before + norm * norm)))
      return invalid("the polynomial fit is singular: the fit range holds too few distinct x");
    const double alpha = col[k] > 0.0 ? -norm : norm;
    col[k] -= alpha;
    double vv = 0.0;
    for (std::size_t i = k; i < m; ++i) vv += col[i] * col[i];
    for (std::size_t j = k + 1; j < n; ++j) {
      double* cj = &a[j * m];
      double dot = 0.0;
      for (std::size_t i = k; i < m; ++i) dot += col[i] * cj[i];
      const double f = 2.0 * dot / vv;
      for (std::size_t i = k; i < m; ++i) cj[i] -= f * col[i];
    }
    double dot = 0.0;
    for (std::size_t i = k; i < m; ++i) dot += col[i] * b[i];
    const double f = 2.0 * dot / vv;
    for (std::size_t i = k; i < m; ++i) b[i] -= f * col[i];
    diag[k] = alpha;
  }
  std::vector<double> c(n);
  for (std::size_t kk = n; kk-- > 0;) {
    double v = b[kk];
    for (std::size_t j = kk + 1; j < n; ++j) v -= a[j * m + kk] * c[j];
    c[kk] = v / diag[kk];
  }
  std::vector<double> out(x_eval.size());
  for (std::size_t i = 0; i < x_eval.size(); ++i) {
    basis_row(x_eval[i], basis, t, row);
    double v = 0.0;
    for (std::size_t k = 0; k < n; ++k) v += c[k] * row[k];
    out[i] = v;
  }
  return out;
}

}  // namespace talvo
