#include "talvo/numeric/least_squares.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "talvo/text/format.hpp"

namespace talvo {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

bool all_finite(std::span<const double> v) {
  return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

double half_sum_of_squares(std::span<const double> r) {
  double s = 0.0;
  for (double x : r) s += x * x;
  return 0.5 * s;
}

// Solves the symmetric positive definite n x n system a x = b (by rows) by
// Cholesky; false when a is not positive definite.
bool cholesky_solve(std::vector<double> a, std::size_t n, std::vector<double>& x) {
  for (std::size_t j = 0; j < n; ++j) {
    double d = a[j * n + j];
    for (std::size_t k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
    if (!(d > 0.0)) return false;
    d = std::sqrt(d);
    a[j * n + j] = d;
    for (std::size_t i = j + 1; i < n; ++i) {
      double s = a[i * n + j];
      for (std::size_t k = 0; k < j; ++k) s -= a[i * n + k] * a[j * n + k];
      a[i * n + j] = s / d;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    double s = x[i];
    for (std::size_t k = 0; k < i; ++k) s -= a[i * n + k] * x[k];
    x[i] = s / a[i * n + i];
  }
  for (std::size_t i = n; i-- > 0;) {
    double s = x[i];
    for (std::size_t k = i + 1; k < n; ++k) s -= a[k * n + i] * x[k];
    x[i] = s / a[i * n + i];
  }
  return true;
}

// The eigenvalues (into w) and eigenvectors (the columns of v) of the
// symmetric n x n matrix a, by cyclic Jacobi rotations.
void symmetric_eigen(std::vector<double> a, std::size_t n, std::vector<double>& w, std::vector<double>& v) {
  v.assign(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) v[i * n + i] = 1.0;
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0.0, diag = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      diag += a[i * n + i] * a[i * n + i];
      for (std::size_t j = i + 1; j < n; ++j) off += a[i * n + j] * a[i * n + j];
    }
    if (off <= 1e-30 * diag || off == 0.0) break;
    for (std::size_t p = 0; p < n; ++p)
      for (std::size_t q = p + 1; q < n; ++q) {
        const double apq = a[p * n + q];
        if (apq == 0.0) continue;
        const double theta = (a[q * n + q] - a[p * n + p]) / (2.0 * apq);
        const double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (std::size_t k = 0; k < n; ++k) {  // columns p and q
          const double akp = a[k * n + p], akq = a[k * n + q];
          a[k * n + p] = c * akp - s * akq;
          a[k * n + q] = s * akp + c * akq;
        }
        for (std::size_t k = 0; k < n; ++k) {  // rows p and q
          const double apk = a[p * n + k], aqk = a[q * n + k];
          a[p * n + k] = c * apk - s * aqk;
          a[q * n + k] = s * apk + c * aqk;
        }
        for (std::size_t k = 0; k < n; ++k) {
          const double vkp = v[k * n + p], vkq = v[k * n + q];
          v[k * n + p] = c * vkp - s * vkq;
          v[k * n + q] = s * vkp + c * vkq;
        }
      }
  }
  w.resize(n);
  for (std::size_t i = 0; i < n; ++i) w[i] = a[i * n + i];
}

class Fitter {
 public:
  Fitter(const ResidualFunction& f, std::size_t m, std::size_t n, const LeastSquaresOptions& o)
      : f_(f), m_(m), n_(n), lower_(n, -kInf), upper_(n, kInf), typical_(n, 1.0) {
    if (!o.lower.empty()) lower_ = o.lower;
    if (!o.upper.empty()) upper_ = o.upper;
    if (!o.typical.empty()) typical_ = o.typical;
  }

  const std::vector<double>& lower() const { return lower_; }
  const std::vector<double>& upper() const { return upper_; }
  const std::vector<double>& typical() const { return typical_; }

  // r(p); false (with `error` set) when the function fails or gives a value
  // that is not finite.
  bool evaluate(std::span<const double> p, std::vector<double>& r, Error* error) {
    r.assign(m_, 0.0);
    ++evaluations_;
    Outcome out = f_(p, r);
    if (!out.ok()) {
      if (error) *error = out.error();
      return false;
    }
    if (!all_finite(r)) {
      if (error) *error = invalid("the residuals are not finite numbers at the starting parameters");
      return false;
    }
    return true;
  }

  // The forward-difference Jacobian at p (m x n by rows), each step taken
  // inwards from a bound and never past the other one: bounds closer than
  // the step give a step to the farther of them, and a fixed parameter a
  // column of 0 with no evaluation. false when a function value fails.
  bool jacobian(const std::vector<double>& p, const std::vector<double>& r, std::vector<double>& jac) {
    jac.assign(m_ * n_, 0.0);
    std::vector<double> q = p, rq;
    for (std::size_t k = 0; k < n_; ++k) {
      const double h0 = std::sqrt(std::numeric_limits<double>::epsilon()) * std::max(std::abs(p[k]), typical_[k]);
      q[k] = p[k] + h0;
      if (q[k] > upper_[k]) q[k] = p[k] - h0;
      if (q[k] < lower_[k]) q[k] = upper_[k] - p[k] >= p[k] - lower_[k] ? upper_[k] : lower_[k];
      const double h = q[k] - p[k];  // the step the arithmetic made
      if (h == 0.0) continue;
      if (!evaluate(q, rq, nullptr)) return false;
      for (std::size_t i = 0; i < m_; ++i) jac[i * n_ + k] = (rq[i] - r[i]) / h;
      q[k] = p[k];
    }
    return true;
  }

  int evaluations() const { return evaluations_; }
  std::size_t residual_count() const { return m_; }
  std::size_t parameter_count() const { return n_; }

 private:
  const ResidualFunction& f_;
  std::size_t m_, n_;
  std::vector<double> lower_, upper_, typical_;
  int evaluations_ = 0;
};

// Each parameter's bounds, start and typical size, and enough residuals for
// the parameters that are not fixed.
Outcome check_start(const Fitter& fit, std::span<const double> start) {
  const std::size_t n = start.size(), m = fit.residual_count();
  for (std::size_t k = 0; k < n; ++k) {
    const double lo = fit.lower()[k], hi = fit.upper()[k], p = start[k];
    if (std::isnan(lo) || std::isnan(hi) || !(lo <= hi))
      return invalid("parameter " + std::to_string(k + 1) + " has the bounds " + shortest(lo) + " and " + shortest(hi) +
                     ": the lower must not be above the upper");
    if (!std::isfinite(p) || p < lo || p > hi)
      return invalid("parameter " + std::to_string(k + 1) + " starts at " + shortest(p) + ", outside its bounds " +
                     shortest(lo) + " to " + shortest(hi));
    if (!(fit.typical()[k] > 0.0) || !std::isfinite(fit.typical()[k]))
      return invalid("parameter " + std::to_string(k + 1) + " has the typical size " + shortest(fit.typical()[k]) +
                     ": it must be a finite number above 0");
  }
  std::size_t fixed = 0;
  for (std::size_t k = 0; k < n; ++k) fixed += fit.lower()[k] == fit.upper()[k] ? 1u : 0u;
  if (m < n - fixed)
    return invalid("a least-squares fit of " + std::to_string(n - fixed) + " parameters needs at least as many " +
                   "residuals, not " + std::to_string(m));
  return Done{};
}

// Where the descent stands: the parameters reached, their residuals and
// cost, the damping, and the Jacobians taken.
struct Descent {
  std::vector<double> p, r;
  double cost = 0.0;
  double lambda = 1e-3;
  int iterations = 0;
  bool converged = false;
};

// The gradient g = J^T r and a = J^T J (both triangles) of the m x n
// Jacobian by rows.
void normal_equations(const std::vector<double>& jac, const std::vector<double>& r, std::size_t m, std::size_t n,
                      std::vector<double>& g, std::vector<double>& a) {
  std::fill(g.begin(), g.end(), 0.0);
  std::fill(a.begin(), a.end(), 0.0);
  for (std::size_t i = 0; i < m; ++i) {
    const double* row = &jac[i * n];
    for (std::size_t k = 0; k < n; ++k) {
      g[k] += row[k] * r[i];
      for (std::size_t l = 0; l <= k; ++l) a[k * n + l] += row[k] * row[l];
    }
  }
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t l = 0; l < k; ++l) a[l * n + k] = a[k * n + l];
}

// The parameters the next step moves: a parameter at a bound that the
// descent would push through stays there.
std::vector<std::size_t> movable_parameters(const Fitter& fit, const std::vector<double>& p,
                                            const std::vector<double>& g) {
  std::vector<std::size_t> idx;
  for (std::size_t k = 0; k < p.size(); ++k) {
    const bool held = fit.lower()[k] == fit.upper()[k] || (p[k] <= fit.lower()[k] && g[k] > 0.0) ||
                      (p[k] >= fit.upper()[k] && g[k] < 0.0);
    if (!held) idx.push_back(k);
  }
  return idx;
}

enum class StepEnd { kTaken, kConverged, kExhausted };

// One iteration's step over the parameters idx: the damping rises until a
// step, projected into the bounds, does not raise the cost; the step taken
// goes into d.
StepEnd damped_step(Fitter& fit, const std::vector<double>& g, const std::vector<double>& a,
                    const std::vector<std::size_t>& idx, double dmax, const LeastSquaresOptions& options, Descent& d) {
  const std::size_t n = fit.parameter_count(), nf = idx.size();
  const double tol = options.tolerance;
  std::vector<double> trial_r;
  while (true) {
    if (fit.evaluations() >= options.max_evaluations) return StepEnd::kExhausted;
    std::vector<double> sys(nf * nf), step(nf);
    for (std::size_t i = 0; i < nf; ++i) {
      for (std::size_t j = 0; j < nf; ++j) sys[i * nf + j] = a[idx[i] * n + idx[j]];
      sys[i * nf + i] += d.lambda * std::max(a[idx[i] * n + idx[i]], 1e-12 * dmax);
      step[i] = -g[idx[i]];
    }
    if (!cholesky_solve(sys, nf, step)) {
      d.lambda *= 10.0;
      if (d.lambda > 1e16) return StepEnd::kConverged;
      continue;
    }
    std::vector<double> trial = d.p;
    double moved = 0.0;
    for (std::size_t i = 0; i < nf; ++i) {
      const std::size_t k = idx[i];
      trial[k] = std::clamp(d.p[k] + step[i], fit.lower()[k], fit.upper()[k]);
      moved = std::max(moved, std::abs(trial[k] - d.p[k]) / std::max(std::abs(d.p[k]), fit.typical()[k]));
    }
    const bool evaluated = fit.evaluate(trial, trial_r, nullptr);
    const double trial_cost = evaluated ? half_sum_of_squares(trial_r) : kInf;
    if (evaluated && trial_cost <= d.cost) {
      const double drop = d.cost - trial_cost;
      d.p = std::move(trial);
      d.r = trial_r;
      d.cost = trial_cost;
      d.lambda = std::max(d.lambda / 10.0, 1e-12);
      return drop <= tol * d.cost || moved <= tol ? StepEnd::kConverged : StepEnd::kTaken;
    }
    d.lambda *= 10.0;
    // No step, however short, lowers the cost: p is the optimum to the precision of the differences.
    if (d.lambda > 1e16 || moved <= tol) return StepEnd::kConverged;
  }
}

// Levenberg-Marquardt iterations from d until they converge or use up the
// evaluations.
Outcome descend(Fitter& fit, const LeastSquaresOptions& options, Descent& d) {
  const std::size_t n = fit.parameter_count(), m = fit.residual_count();
  std::vector<double> g(n), a(n * n), jac;
  while (true) {
    if (!fit.jacobian(d.p, d.r, jac)) return invalid("the residuals cannot be computed beside the parameters reached");
    ++d.iterations;
    normal_equations(jac, d.r, m, n, g, a);
    const std::vector<std::size_t> idx = movable_parameters(fit, d.p, g);
    double dmax = 0.0;
    for (std::size_t k : idx) dmax = std::max(dmax, a[k * n + k]);
    // Nothing can move, or the residuals do not move with any free parameter.
    if (idx.empty() || !(dmax > 0.0)) {
      d.converged = true;
      return Done{};
    }
    const StepEnd end = damped_step(fit, g, a, idx, dmax, options, d);
    if (end == StepEnd::kExhausted) return Done{};
    if (end == StepEnd::kConverged) {
      d.converged = true;
      return Done{};
    }
  }
}

// The parameters free at the optimum, at_bound marking the others: held as
// in the descent, and also at a bound where the gradient is 0.
std::vector<std::size_t> free_at_optimum(const Fitter& fit, const std::vector<double>& jac,
                                         const std::vector<double>& r, const std::vector<double>& p,
                                         std::vector<bool>& at_bound) {
  const std::size_t n = fit.parameter_count(), m = fit.residual_count();
  std::vector<std::size_t> idx;
  for (std::size_t k = 0; k < n; ++k) {
    double gk = 0.0;
    for (std::size_t i = 0; i < m; ++i) gk += jac[i * n + k] * r[i];
    const bool held = fit.lower()[k] == fit.upper()[k] || (p[k] <= fit.lower()[k] && gk >= 0.0) ||
                      (p[k] >= fit.upper()[k] && gk <= 0.0);
    at_bound[k] = held;
    if (!held) idx.push_back(k);
  }
  return idx;
}

// J^T J over the columns idx of the m x n Jacobian, scaled to unit length
// (norm: the columns' lengths; a column of 0 stays 0).
void unit_normal_matrix(const std::vector<double>& jac, const std::vector<std::size_t>& idx, std::size_t m,
                        std::size_t n, std::vector<double>& norm, std::vector<double>& jtj) {
  const std::size_t nf = idx.size();
  norm.assign(nf, 0.0);
  jtj.assign(nf * nf, 0.0);
  for (std::size_t i = 0; i < nf; ++i) {
    for (std::size_t row = 0; row < m; ++row) norm[i] += jac[row * n + idx[i]] * jac[row * n + idx[i]];
    norm[i] = std::sqrt(norm[i]);
  }
  for (std::size_t i = 0; i < nf; ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      double s = 0.0;
      if (norm[i] > 0.0 && norm[j] > 0.0)
        for (std::size_t row = 0; row < m; ++row) s += jac[row * n + idx[i]] * jac[row * n + idx[j]];
      s = norm[i] > 0.0 && norm[j] > 0.0 ? s / (norm[i] * norm[j]) : 0.0;
      jtj[i * nf + j] = jtj[j * nf + i] = s;
    }
}

// The covariance and sigma of the free parameters idx into out, from
// (J^T J)^-1 on the columns scaled to unit length, by its eigenvectors: a
// direction of no curvature is an infinite variance, not a failure. Returns
// the numbers of the parameters so undetermined ("1, 2").
std::string fill_covariance(const std::vector<double>& jac, const std::vector<std::size_t>& idx, std::size_t m,
                            std::size_t n, LeastSquaresFit& out) {
  const std::size_t nf = idx.size();
  std::vector<double> norm, jtj, w, v;
  unit_normal_matrix(jac, idx, m, n, norm, jtj);
  symmetric_eigen(jtj, nf, w, v);
  const double wmax = *std::max_element(w.begin(), w.end());
  std::vector<bool> undetermined(nf, false);
  for (std::size_t e = 0; e < nf; ++e) {
    if (w[e] > 1e-13 * wmax && wmax > 0.0) continue;
    for (std::size_t i = 0; i < nf; ++i)
      if (std::abs(v[i * nf + e]) > 1e-6) undetermined[i] = true;
  }
  for (std::size_t i = 0; i < nf; ++i)
    for (std::size_t j = 0; j < nf; ++j) {
      double c = 0.0;
      if (!undetermined[i] && !undetermined[j]) {
        for (std::size_t e = 0; e < nf; ++e)
          if (w[e] > 1e-13 * wmax) c += v[i * nf + e] * v[j * nf + e] / w[e];
        c *= out.residual_variance / (norm[i] * norm[j]);
      } else if (i == j) {
        c = kInf;
      }
      out.covariance[idx[i] * n + idx[j]] = c;
    }
  std::string undetermined_names;
  for (std::size_t i = 0; i < nf; ++i) {
    out.sigma[idx[i]] = std::sqrt(out.covariance[idx[i] * n + idx[i]]);
    if (undetermined[i]) undetermined_names += (undetermined_names.empty() ? "" : ", ") + std::to_string(idx[i] + 1);
  }
  return undetermined_names;
}

}  // namespace

Result<LeastSquaresFit> least_squares(const ResidualFunction& residuals, std::span<const double> start,
                                      std::size_t residual_count, const LeastSquaresOptions& options) {
  const std::size_t n = start.size(), m = residual_count;
  if (n == 0) return invalid("a least-squares fit needs at least one parameter");
  for (const auto* v : {&options.lower, &options.upper, &options.typical})
    if (!v->empty() && v->size() != n)
      return invalid("a least-squares fit of " + std::to_string(n) + " parameters was given " +
                     std::to_string(v->size()) + " bounds or typical sizes");
  Fitter fit(residuals, m, n, options);
  TALVO_RETURN_IF_ERROR(check_start(fit, start));

  LeastSquaresFit out;
  Descent d;
  d.p.assign(start.begin(), start.end());
  Error error;
  if (!fit.evaluate(d.p, d.r, &error)) return error;
  d.cost = half_sum_of_squares(d.r);
  out.initial_cost = d.cost;
  TALVO_RETURN_IF_ERROR(descend(fit, options, d));

  // The covariance from the Jacobian at the optimum.
  out.p = d.p;
  out.residuals = d.r;
  out.cost = d.cost;
  out.converged = d.converged;
  out.iterations = d.iterations;
  out.at_bound.assign(n, false);
  out.sigma.assign(n, 0.0);
  out.covariance.assign(n * n, 0.0);
  std::vector<double> jac;
  if (!fit.jacobian(d.p, d.r, jac)) return invalid("the residuals cannot be computed beside the fitted parameters");
  const std::vector<std::size_t> idx = free_at_optimum(fit, jac, d.r, d.p, out.at_bound);
  const std::size_t nf = idx.size();
  out.residual_variance = options.scale_covariance && m > nf ? 2.0 * d.cost / static_cast<double>(m - nf) : 1.0;
  const std::string undetermined_names = nf > 0 ? fill_covariance(jac, idx, m, n, out) : std::string();
  out.evaluations = fit.evaluations();
  Result<LeastSquaresFit> result(std::move(out));
  if (!undetermined_names.empty())
    result.add_warning("the residuals do not determine parameter(s) " + undetermined_names +
                       " apart from the others: their sigma is infinite");
  if (!d.converged)
    result.add_warning("the least-squares fit stopped after " + std::to_string(result->evaluations) +
                       " evaluations without converging");
  return result;
}

}  // namespace talvo
