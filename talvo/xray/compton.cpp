#include "talvo/xray/compton.hpp"

#include <array>
#include <cmath>
#include <numbers>
#include <string>

#include "talvo/elements/elements.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo {
namespace {

struct HubbellIndex {
  int z;
  int first, count;
};
struct HubbellPoint {
  double x, s;
};
constexpr HubbellIndex kHubbellIndex[] = {
#include "talvo/xray/hubbell_index.inc"
};
constexpr HubbellPoint kHubbell[] = {
#include "talvo/xray/hubbell_table.inc"
};
constexpr int kHubbellMaxZ = static_cast<int>(std::size(kHubbellIndex));
static_assert(kHubbellMaxZ == 98);

struct BalyuziRow {
  int z;
  double a[5], b[5];
};
constexpr BalyuziRow kBalyuzi[] = {
#include "talvo/xray/balyuzi_table.inc"
};
constexpr int kBalyuziMaxZ = static_cast<int>(std::size(kBalyuzi));
static_assert(kBalyuziMaxZ == 92);

// The natural cubic splines of every element, built once: x, S and the
// second derivatives side by side.
struct Splines {
  std::vector<double> x, y, m, inverse_h;  // inverse_h[k] = 1 / (x[k+1] - x[k])
  Splines() : x(std::size(kHubbell)), y(x.size()), m(x.size()), inverse_h(x.size()) {
    for (std::size_t k = 0; k < x.size(); ++k) {
      x[k] = kHubbell[k].x;
      y[k] = kHubbell[k].s;
    }
    std::vector<double> c(x.size());
    for (const HubbellIndex& e : kHubbellIndex) {
      const std::size_t f = static_cast<std::size_t>(e.first), n = static_cast<std::size_t>(e.count);
      double* xs = x.data() + f;
      double* ys = y.data() + f;
      double* ms = m.data() + f;
      double* cs = c.data() + f;
      // The tridiagonal system of the natural spline (M = 0 at both ends).
      ms[0] = ms[n - 1] = 0.0;
      cs[0] = 0.0;
      for (std::size_t i = 1; i + 1 < n; ++i) {
        const double h0 = xs[i] - xs[i - 1], h1 = xs[i + 1] - xs[i];
        const double rhs = 6.0 * ((ys[i + 1] - ys[i]) / h1 - (ys[i] - ys[i - 1]) / h0);
        const double diag = 2.0 * (h0 + h1) - h0 * cs[i - 1];
        cs[i] = h1 / diag;
        ms[i] = (rhs - h0 * ms[i - 1]) / diag;
      }
      for (std::size_t i = n - 2; i >= 1; --i) ms[i] -= cs[i] * ms[i + 1];
      for (std::size_t i = 0; i + 1 < n; ++i) inverse_h[f + i] = 1.0 / (xs[i + 1] - xs[i]);
    }
  }
};

const Splines& splines() {
  static const Splines s;
  return s;
}

Result<int> atomic_number(std::string_view element) {
  const std::optional<std::size_t> index = element_entry_of(element);
  if (!index) return make_error(ErrorKind::kNotFound, "unknown element " + quote_for_message(element));
  return element_table()[*index].z;
}

Outcome check_z(int z, IncoherentModel model, std::string_view element) {
  const int max = model == IncoherentModel::kHubbell ? kHubbellMaxZ : kBalyuziMaxZ;
  if (z > max)
    return make_error(ErrorKind::kOutOfRange,
                      std::string(model == IncoherentModel::kHubbell ? "the Hubbell table holds Z = 1 to 98"
                                                                     : "the Balyuzi fit holds Z = 1 to 92") +
                          ", not " + std::string(element) + " (Z = " + std::to_string(z) + ")");
  return Done{};
}

// The hydrogen atom's exact S = 1 - f^2, f = (1 + (2 pi a0 x)^2)^-2, a0 the
// Bohr radius (CODATA 2018), in Angstrom. Hubbell's row for H is this
// function rounded; it departs from it by up to 1.3e-4 (at x = 0.22188).
double hydrogen(double x) {
  constexpr double kBohrRadius = 0.529177210903;
  const double u = 2.0 * std::numbers::pi * kBohrRadius * x;
  const double f = 1.0 / ((1.0 + u * u) * (1.0 + u * u));
  return 1.0 - f * f;
}

double balyuzi(const BalyuziRow& row, double x) {
  double f = 0.0;
  for (std::size_t j = 0; j < 5; ++j) f += row.a[j] * std::exp(-row.b[j] * x * x);
  return static_cast<double>(row.z) - f;
}

// S at every x (already checked) of one element, added times `weight` to `out`.
void add_incoherent(int z, IncoherentModel model, std::span<const double> x, double weight, double* out) {
  if (model == IncoherentModel::kBalyuzi) {
    const BalyuziRow& row = kBalyuzi[z - 1];
    for (std::size_t k = 0; k < x.size(); ++k) out[k] += weight * balyuzi(row, x[k]);
    return;
  }
  if (z == 1) {
    for (std::size_t k = 0; k < x.size(); ++k) out[k] += weight * hydrogen(x[k]);
    return;
  }
  detail::IncoherentSpline spline(z);
  for (std::size_t k = 0; k < x.size(); ++k) out[k] += weight * spline(x[k]);
}

std::string balyuzi_warning(double largest) {
  return "the Balyuzi fit holds up to sin(theta)/lambda = 1.4 per Angstrom (Q = 17.59): the values up to "
         "sin(theta)/lambda = " +
         shortest(largest) + " are extrapolated";
}

}  // namespace

namespace detail {

IncoherentSpline::IncoherentSpline(int z) {
  const Splines& s = splines();
  const HubbellIndex& e = kHubbellIndex[z - 1];
  const auto f = static_cast<std::size_t>(e.first);
  x_ = s.x.data() + f;
  y_ = s.y.data() + f;
  m_ = s.m.data() + f;
  inverse_h_ = s.inverse_h.data() + f;
  n_ = static_cast<std::size_t>(e.count);
  z_ = static_cast<double>(z);
}

double IncoherentSpline::operator()(double x) {
  if (z_ == 1.0) return hydrogen(x);
  if (x >= x_[n_ - 1]) return z_;
  // Below the first tabulated x (0.001 for most elements) S grows as x^2.
  if (x <= x_[0]) return x_[0] > 0.0 ? y_[0] * (x / x_[0]) * (x / x_[0]) : y_[0];
  // The interval [x_i, x_i+1] holding x: from the last one, forward in
  // steps (an increasing grid moves by one at a time), else by bisection.
  std::size_t i = i_;
  if (x < x_[i]) i = 0;
  while (i + 1 < n_ && x_[i + 1] < x) {
    if (i + 8 < n_ && x_[i + 8] < x) {
      std::size_t lo = i + 8, hi = n_ - 1;
      while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        (x_[mid] < x ? lo : hi) = mid;
      }
      i = lo;
      break;
    }
    ++i;
  }
  i_ = i;
  const double h = x_[i + 1] - x_[i];
  const double b = (x - x_[i]) * inverse_h_[i], a = 1.0 - b;
  constexpr double kSixth = 1.0 / 6.0;
  return a * y_[i] + b * y_[i + 1] + ((a * a * a - a) * m_[i] + (b * b * b - b) * m_[i + 1]) * (h * h) * kSixth;
}

void IncoherentSpline::operator()(std::span<const double> x, double* s) {
  for (std::size_t k = 0; k < x.size(); ++k) s[k] = (*this)(x[k]);
}

}  // namespace detail

Result<std::vector<double>> incoherent_function(std::string_view element, std::span<const double> x,
                                                IncoherentModel model) {
  Result<int> z = atomic_number(element);
  if (!z.ok()) return z.error();
  if (Outcome ok = check_z(*z, model, element); !ok.ok()) return ok.error();
  double largest = 0.0;
  for (double v : x) {
    if (!(v >= 0.0) || !std::isfinite(v))
      return make_error(ErrorKind::kInvalidArgument,
                        "sin(theta)/lambda must be finite and not below 0: " + shortest(v));
    largest = std::max(largest, v);
  }
  std::vector<double> s(x.size(), 0.0);
  add_incoherent(*z, model, x, 1.0, s.data());
  Result<std::vector<double>> r(std::move(s));
  if (model == IncoherentModel::kBalyuzi && largest > kBalyuziMaxX) r.add_warning(balyuzi_warning(largest));
  return r;
}

Result<std::vector<double>> compton(std::string_view formula, std::span<const double> q,
                                    const ComptonOptions& options) {
  Result<Formula> read = parse_formula(formula);
  if (!read.ok()) return make_error(ErrorKind::kParseError, read.error().message);
  const Formula& parsed = *read;
  if (q.empty()) return make_error(ErrorKind::kInvalidArgument, "the Q grid is empty");
  if (options.breit_dirac_power != 0 && options.breit_dirac_power != 2 && options.breit_dirac_power != 3)
    return make_error(ErrorKind::kInvalidArgument,
                      "the Breit-Dirac power is 0 (none), 2 or 3, not " + std::to_string(options.breit_dirac_power));
  if (options.wavelength && !(*options.wavelength > 0.0 && std::isfinite(*options.wavelength)))
    return make_error(ErrorKind::kInvalidArgument,
                      "the wavelength must be a number above 0 Angstrom, not " + shortest(*options.wavelength));
  double largest = 0.0;
  for (double v : q) {
    if (!(v >= 0.0) || !std::isfinite(v))
      return make_error(ErrorKind::kInvalidArgument, "Q must be finite and not below 0: " + shortest(v));
    largest = std::max(largest, v);
  }
  const double four_pi = 4.0 * std::numbers::pi;
  if (options.wavelength && largest * *options.wavelength > four_pi)
    return make_error(ErrorKind::kOutOfRange, "Q = " + shortest(largest) + " is beyond 4 pi / lambda = " +
                                                  shortest(four_pi / *options.wavelength) + " per Angstrom");
  std::vector<int> zs;
  for (const FormulaElement& e : parsed.elements) {
    Result<int> z = atomic_number(e.symbol);
    if (!z.ok()) return z.error();
    if (Outcome ok = check_z(*z, options.model, e.symbol); !ok.ok()) return ok.error();
    zs.push_back(*z);
  }
  std::vector<double> x(q.size());
  for (std::size_t k = 0; k < q.size(); ++k) x[k] = q[k] / four_pi;
  std::vector<double> c(q.size(), 0.0);
  const double atoms = parsed.atoms();
  for (std::size_t i = 0; i < zs.size(); ++i)
    add_incoherent(zs[i], options.model, x, parsed.elements[i].count / atoms, c.data());
  if (options.wavelength && options.breit_dirac_power != 0) {
    // lambda' = lambda + lambda_C (1 - cos 2theta) = lambda + 2 lambda_C sin^2 theta, sin theta = x lambda.
    const double lambda = *options.wavelength;
    for (std::size_t k = 0; k < q.size(); ++k) {
      const double sin_theta = x[k] * lambda;
      const double ratio = lambda / (lambda + 2.0 * kComptonWavelength * sin_theta * sin_theta);
      c[k] *= options.breit_dirac_power == 3 ? ratio * ratio * ratio : ratio * ratio;
    }
  }
  Result<std::vector<double>> r(std::move(c));
  if (options.model == IncoherentModel::kBalyuzi && largest / four_pi > kBalyuziMaxX)
    r.add_warning(balyuzi_warning(largest / four_pi));
  return r;
}

std::optional<IncoherentModel> incoherent_model_named(std::string_view name) {
  for (const IncoherentModel m : {IncoherentModel::kHubbell, IncoherentModel::kBalyuzi})
    if (equal_case_blind(name, incoherent_model_name(m))) return m;
  return std::nullopt;
}

std::string_view incoherent_model_name(IncoherentModel model) {
  return model == IncoherentModel::kBalyuzi ? "balyuzi" : "hubbell";
}

}  // namespace talvo
