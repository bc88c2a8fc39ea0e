#include "talvo/xray/xray_average.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>

#include "talvo/elements/elements.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/text/format.hpp"
#include "talvo/xray/form_factor_sums.hpp"

namespace talvo {
namespace {

constexpr double kPi = 3.141592653589793;

Status check_grid(std::span<const double> q) {
  if (q.empty()) return Status::error(kXrayBadGrid, "the Q grid is empty");
  for (double v : q)
    if (!(v >= 0.0) || !std::isfinite(v))
      return Status::error(kXrayBadGrid, "Q must be finite and not below 0: " + shortest(v));
  return {};
}

Status coefficients(std::string_view symbol, FormFactorTable table, FormFactorParams& p) {
  const std::optional<FormFactorParams> found = published_coefficients(symbol, table);
  if (!found)
    return Status::error(kXrayNoCoefficients, "no " + std::string(form_factor_table_title(table)) +
                                                  " form-factor coefficients for element " + std::string(symbol));
  p = *found;
  return {};
}

double f_at_zero(const FormFactorParams& p) {
  double f = p.c;
  for (std::size_t j = 0; j < static_cast<std::size_t>(p.n); ++j) f += p.a[j];
  return f;
}

// The element table holds each weight as the single-precision value nearest
// to the published decimal; the shortest text of that value is the decimal
// (for the five weights of eight digits, within one unit of the last).
double published_weight(const char* symbol) {
  const std::string text = shortest(element_table()[static_cast<std::size_t>(find_element(symbol))].weight);
  double weight = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), weight);
  return weight;
}

// Mean atomic weight of one element of a formula: the element table's for
// the natural element and for deuterium; no other isotope's is known here.
std::optional<double> element_mass(const FormulaElement& e) {
  double mass = 0.0;
  for (const FormulaIsotope& iso : e.isotopes) {
    const char* entry = iso.a == 0 ? e.symbol.c_str() : e.symbol == "H" && iso.a == 2 ? "D" : nullptr;
    if (!entry) return std::nullopt;
    mass += iso.count * published_weight(entry);
  }
  return mass / e.count;
}

std::string isotope_text(const FormulaElement& e) {
  for (const FormulaIsotope& iso : e.isotopes)
    if (iso.a != 0 && !(e.symbol == "H" && iso.a == 2)) return e.symbol + "[" + std::to_string(iso.a) + "]";
  return e.symbol;
}

Status number_density_of(const Formula& formula, const XrayAverageOptions& options, XrayAverage& r) {
  if (options.density && options.number_density)
    return Status::error(kXrayBadOption, "give a density or a number density, not both");
  if (options.density && !(*options.density > 0.0 && std::isfinite(*options.density)))
    return Status::error(kXrayBadOption, "the density must be above 0 g/cm3");
  if (options.number_density && !(*options.number_density > 0.0 && std::isfinite(*options.number_density)))
    return Status::error(kXrayBadOption, "the number density must be above 0 atoms per cubic Angstrom");
  if (!options.density && !options.number_density) return {};
  double mean_mass = 0.0;  // amu per atom
  bool mass_known = true;
  for (std::size_t i = 0; i < formula.elements.size(); ++i) {
    const std::optional<double> m = element_mass(formula.elements[i]);
    if (!m) {
      if (options.density)
        return Status::error(kXrayNoMass, "the mass of " + isotope_text(formula.elements[i]) +
                                              " is not known here: give the number density instead");
      mass_known = false;
      continue;
    }
    mean_mass += r.fractions[i] * *m;
  }
  if (options.density) {
    r.density = options.density;
    r.number_density = *options.density / (kAtomicMassUnitGrams * mean_mass);
  } else {
    r.number_density = options.number_density;
    if (mass_known) r.density = *options.number_density * kAtomicMassUnitGrams * mean_mass;
  }
  return {};
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

FormFactorResult form_factor(std::string_view symbol, std::span<const double> q, const FormFactorOptions& options) {
  FormFactorResult r;
  FormFactorParams p;
  r.status = coefficients(symbol, options.table, p);
  if (r.status.failed()) return r;
  if (q.empty()) return r;
  r.status = check_grid(q);
  if (r.status.failed()) return r;
  r.f.resize(q.size());
  detail::form_factor_sums(q.data(), q.size(), p, r.f.data());
  if (auto warning = beyond_fit_warning(options.table, q)) r.status = Status::warning(kXrayBeyondFit, *warning);
  return r;
}

namespace {

XrayAverage averages(std::string_view formula, std::span<const double> q, const XrayAverageOptions& options) {
  XrayAverage r;
  r.formula = std::string(formula);
  Formula parsed;
  if (Status s = parse_formula(formula, parsed); s.failed()) {
    r.status = Status::error(kXrayBadFormula, s.message);
    return r;
  }
  if (parsed.elements.empty()) {
    r.status = Status::error(kXrayNoCoefficients, "the formula has no elements");
    return r;
  }
  std::vector<FormFactorParams> params(parsed.elements.size());
  for (std::size_t i = 0; i < parsed.elements.size(); ++i) {
    r.status = coefficients(parsed.elements[i].symbol, options.table, params[i]);
    if (r.status.failed()) return r;
  }
  r.status = check_grid(q);
  if (r.status.failed()) return r;

  const double atoms = parsed.atoms();
  for (std::size_t i = 0; i < parsed.elements.size(); ++i) {
    r.symbols.push_back(parsed.elements[i].symbol);
    r.fractions.push_back(parsed.elements[i].count / atoms);
    r.f0.push_back(f_at_zero(params[i]));
    r.f0_mean += r.fractions[i] * r.f0[i];
  }
  r.status = number_density_of(parsed, options, r);
  if (r.status.failed()) return r;
  if (r.number_density) r.t0 = 4.0 * kPi * r.f0_mean * r.f0_mean * *r.number_density;

  const std::size_t n = r.symbols.size(), nq = q.size();
  // Counted in double, which cannot overflow here, before anything is taken.
  const double weights = static_cast<double>(n) * static_cast<double>(n + 1) / 2;
  const double values = (weights + 3) * static_cast<double>(nq);
  if (values > kXrayMaxValues) {
    const double most_q = std::floor(kXrayMaxValues / (weights + 3));
    std::string message = "the result would hold " + shortest(values) + " numbers (" + shortest(weights);
    message += " weights at " + std::to_string(nq) + " Q), more than " + shortest(kXrayMaxValues);
    message += ": at most " + shortest(most_q) + " Q at a time for this formula";
    r.status = Status::error(kXrayOutOfMemory, message);
    return r;
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
  if (auto warning = beyond_fit_warning(options.table, q)) r.status = Status::warning(kXrayBeyondFit, *warning);
  return r;
}

}  // namespace

XrayAverage xray_average(std::string_view formula, std::span<const double> q, const XrayAverageOptions& options) {
  try {
    return averages(formula, q, options);
  } catch (const std::bad_alloc&) {
    // Whatever was taken is given back as the unwinding frees it.
    XrayAverage r;
    r.status = Status::error(kXrayOutOfMemory, "out of memory for the averages of " + std::to_string(q.size()) + " Q");
    return r;
  }
}

}  // namespace talvo
