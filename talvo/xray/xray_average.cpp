#include "talvo/xray/xray_average.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

#include "talvo/elements/constants.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/text/format.hpp"
#include "talvo/xray/dispersion.hpp"
#include "talvo/xray/form_factor_sums.hpp"

namespace talvo {
namespace {

Outcome check_grid(std::span<const double> q) {
  if (q.empty()) return make_error(ErrorKind::kInvalidArgument, "the Q grid is empty");
  for (double v : q)
    if (!(v >= 0.0) || !std::isfinite(v))
      return make_error(ErrorKind::kInvalidArgument, "Q must be finite and not below 0: " + shortest(v));
  return Done{};
}

double f_at_zero(const FormFactorParams& p) {
  double f = p.c;
  for (std::size_t j = 0; j < static_cast<std::size_t>(p.n); ++j) f += p.a[j];
  return f;
}

Outcome number_density_of(const Formula& formula, const XrayAverageOptions& options, XrayAverage& r) {
  const auto bad = [](std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); };
  if (options.density && options.number_density) return bad("give a density or a number density, not both");
  if (options.density && !(*options.density > 0.0 && std::isfinite(*options.density)))
    return bad("the density must be above 0 g/cm3");
  if (options.number_density && !(*options.number_density > 0.0 && std::isfinite(*options.number_density)))
    return bad("the number density must be above 0 atoms per cubic Angstrom");
  if (!options.density && !options.number_density) return Done{};
  double mean_mass = 0.0;  // amu per atom
  bool mass_known = true;
  const double atoms = formula.atoms();
  for (std::size_t i = 0; i < formula.elements.size(); ++i) {
    const Result<double> m = atom_mass(formula.elements[i]);
    if (!m.ok()) {
      if (options.density)
        return make_error(ErrorKind::kNotFound, m.error().message + ": give the number density instead");
      mass_known = false;
      continue;
    }
    mean_mass += formula.elements[i].count / atoms * *m;
  }
  if (options.density) {
    r.density = options.density;
    r.number_density = *options.density / (kAtomicMassUnitGrams * mean_mass);
  } else {
    r.number_density = options.number_density;
    if (mass_known) r.density = *options.number_density * kAtomicMassUnitGrams * mean_mass;
  }
  return Done{};
}

// The averages and weights of points k0.. k0 + nb - 1 with dispersion, from
// the f0 of each species in f_block (species i at i * stride):
// <|f|^2> = sum c_i |f_i|^2, |<f>|^2, w_ii = c_i^2 |f_i|^2 / |<f>|^2,
// w_ij = 2 c_i c_j Re(f_i f_j*) / |<f>|^2, which still add to 1.
void complex_block(XrayAverage& r, std::size_t k0, std::size_t nb, const std::vector<double>& f_block,
                   std::size_t stride) {
  const std::size_t n = r.symbols.size();
  std::vector<std::complex<double>> f(n);
  for (std::size_t k = k0; k < k0 + nb; ++k) {
    double f2 = 0.0;
    std::complex<double> f_mean = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      f[i] = {f_block[i * stride + (k - k0)] + r.f_prime[i], r.f_double_prime[i]};
      f2 += r.fractions[i] * std::norm(f[i]);
      f_mean += r.fractions[i] * f[i];
    }
    const double f_mean_sq = std::norm(f_mean);
    r.f2[k] = f2;
    r.f_mean_sq[k] = f_mean_sq;
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; ++i, ++w)
      r.weights[w].weight[k] = r.fractions[i] * r.fractions[i] * std::norm(f[i]) / f_mean_sq;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j, ++w)
        r.weights[w].weight[k] = 2.0 * r.fractions[i] * r.fractions[j] * (f[i] * std::conj(f[j])).real() / f_mean_sq;
  }
}

}  // namespace

std::optional<std::string> beyond_fit_warning(FormFactorTable table, std::span<const double> q) {
  const bool wk = table == FormFactorTable::kWaasmaierKirfel;
  double largest = 0.0;
  for (double v : q) largest = std::max(largest, v);
  if (!(largest > fitted_qmax(table))) return std::nullopt;
  return "the " + std::string(form_factor_table_title(table)) +
         " coefficients are fitted up to Q = " + (wk ? "24" : "8") + " pi = " + (wk ? "75.40" : "25.13") +
         " per Angstrom (sin(theta)/lambda = " + (wk ? "6" : "2") + "): the values up to Q = " + shortest(largest) +
         " are extrapolated";
}

Result<std::vector<double>> form_factor(std::string_view symbol, std::span<const double> q,
                                        const FormFactorOptions& options) {
  const Result<FormFactorParams> p = published_coefficients(symbol, options.table);
  if (!p.ok()) return p.error();
  if (q.empty()) return std::vector<double>{};
  if (Outcome e = check_grid(q); !e.ok()) return e.error();
  Result<std::vector<double>> r(std::vector<double>(q.size()));
  detail::form_factor_sums(q.data(), q.size(), *p, r->data());
  if (auto warning = beyond_fit_warning(options.table, q)) r.add_warning(*warning);
  return r;
}

Result<std::vector<std::complex<double>>> form_factor(std::string_view symbol, std::span<const double> q,
                                                      double energy_kev, const FormFactorOptions& options) {
  const Result<FormFactorParams> p = published_coefficients(symbol, options.table);
  if (!p.ok()) return p.error();
  Result<Dispersion> d = dispersion(symbol, energy_kev);
  if (!d.ok()) return d.error();
  if (!q.empty())
    if (Outcome e = check_grid(q); !e.ok()) return e.error();
  std::vector<double> f0(q.size());
  if (!q.empty()) detail::form_factor_sums(q.data(), q.size(), *p, f0.data());
  std::vector<std::complex<double>> f(q.size());
  for (std::size_t k = 0; k < q.size(); ++k) f[k] = {f0[k] + d->f_prime, d->f_double_prime};
  Result<std::vector<std::complex<double>>> r(std::move(f));
  if (auto warning = beyond_fit_warning(options.table, q)) r.add_warning(*warning);
  return r;
}

namespace {

Result<XrayAverage> averages(std::string_view formula, std::span<const double> q, const XrayAverageOptions& options) {
  XrayAverage r;
  r.formula = std::string(formula);
  Result<Formula> read = parse_formula(formula);
  if (!read.ok()) return read.error();
  const Formula& parsed = *read;
  if (parsed.elements.empty()) return make_error(ErrorKind::kNotFound, "the formula has no elements");
  // The species: each element's atoms of each charge.
  const double atoms = parsed.atoms();
  for (const FormulaElement& e : parsed.elements)
    for (const FormulaCharge& ion : e.charges) {
      r.symbols.push_back(ion_text(e.symbol, ion.charge));
      r.fractions.push_back(ion.count / atoms);
    }
  std::vector<FormFactorParams> params(r.symbols.size());
  for (std::size_t i = 0; i < r.symbols.size(); ++i) {
    const Result<FormFactorParams> p = published_coefficients(r.symbols[i], options.table);
    if (!p.ok()) return p.error();
    params[i] = *p;
  }
  if (options.energy) {
    r.energy = options.energy;
    for (const std::string& symbol : r.symbols) {
      const Result<Dispersion> d = dispersion(symbol, *options.energy);
      if (!d.ok()) return d.error();
      r.f_prime.push_back(d->f_prime);
      r.f_double_prime.push_back(d->f_double_prime);
      r.f_table = d->table;
    }
  }
  if (Outcome e = check_grid(q); !e.ok()) return e.error();

  for (std::size_t i = 0; i < r.symbols.size(); ++i) {
    r.f0.push_back(f_at_zero(params[i]));
    r.f0_mean += r.fractions[i] * r.f0[i];
  }
  if (Outcome e = number_density_of(parsed, options, r); !e.ok()) return e.error();
  if (r.number_density) {
    r.t0 = 4.0 * std::numbers::pi * r.f0_mean * r.f0_mean * *r.number_density;
    if (!std::isfinite(*r.t0) || !std::isfinite(r.density.value_or(0.0))) {
      return make_error(ErrorKind::kInvalidArgument, options.density
                                                         ? "the density " + shortest(*options.density) +
                                                               " g/cm3 gives values beyond the range of numbers"
                                                         : "the number density " + shortest(*options.number_density) +
                                                               " gives values beyond the range of numbers");
    }
  }

  const std::size_t n = r.symbols.size(), nq = q.size();
  // Counted in double, which cannot overflow here, before anything is taken.
  const double weights = static_cast<double>(n) * static_cast<double>(n + 1) / 2;
  const double values = (weights + 3) * static_cast<double>(nq);
  if (values > kXrayMaxValues) {
    const double most_q = std::floor(kXrayMaxValues / (weights + 3));
    std::string message = "the result would hold " + shortest(values) + " numbers (" + shortest(weights);
    message += " weights at " + std::to_string(nq) + " Q), more than " + shortest(kXrayMaxValues);
    message += ": at most " + shortest(most_q) + " Q at a time for this formula";
    return make_error(ErrorKind::kOutOfMemory, message);
  }
  r.q.assign(q.begin(), q.end());
  r.f2.resize(nq);
  r.f_mean_sq.resize(nq);
  for (std::size_t i = 0; i < n; ++i) r.weights.push_back({r.symbols[i] + "-" + r.symbols[i], std::vector<double>(nq)});
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      r.weights.push_back({r.symbols[i] + "-" + r.symbols[j], std::vector<double>(nq)});
  // A block of points at a time: each element's f over the block, then the
  // averages and weights point by point.
  constexpr std::size_t kBlock = 256;
  std::vector<double> f_block(n * kBlock), f(n);
  for (std::size_t k0 = 0; k0 < nq; k0 += kBlock) {
    const std::size_t nb = std::min(kBlock, nq - k0);
    for (std::size_t i = 0; i < n; ++i)
      detail::form_factor_sums(q.data() + k0, nb, params[i], f_block.data() + i * kBlock);
    if (options.energy) {
      complex_block(r, k0, nb, f_block, kBlock);
      continue;
    }
    for (std::size_t k = k0; k < k0 + nb; ++k) {
      double f2 = 0.0, f_mean = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        f[i] = f_block[i * kBlock + (k - k0)];
        f2 += r.fractions[i] * f[i] * f[i];
        f_mean += r.fractions[i] * f[i];
      }
      const double f_mean_sq = f_mean * f_mean;
      r.f2[k] = f2;
      r.f_mean_sq[k] = f_mean_sq;
      std::size_t w = 0;
      for (std::size_t i = 0; i < n; ++i, ++w) {
        const double ci_fi = r.fractions[i] * f[i];
        r.weights[w].weight[k] = ci_fi * ci_fi / f_mean_sq;
      }
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j, ++w)
          r.weights[w].weight[k] = 2.0 * r.fractions[i] * r.fractions[j] * f[i] * f[j] / f_mean_sq;
    }
  }
  Result<XrayAverage> result(std::move(r));
  if (auto warning = beyond_fit_warning(options.table, q)) result.add_warning(*warning);
  return result;
}

}  // namespace

Result<XrayAverage> xray_average(std::string_view formula, std::span<const double> q,
                                 const XrayAverageOptions& options) {
  try {
    return averages(formula, q, options);
  } catch (const std::bad_alloc&) {
    // Whatever was taken is given back as the unwinding frees it.
    return make_error(ErrorKind::kOutOfMemory, "out of memory for the averages of " + std::to_string(q.size()) + " Q");
  }
}

}  // namespace talvo
