// Incoherent (Compton) X-ray scattering of free atoms, per atom of a formula
// in electron units:
//
//   C(Q) = sum_i c_i S(x, Z_i) [ (lambda / lambda')^n ],   x = sin(theta)/lambda = Q / 4 pi
//
// c_i the atomic fractions. S(x, Z) is, by default, the table of Hubbell et
// al., J. Phys. Chem. Ref. Data 4 (1975) 471-538 (Z = 1-98), interpolated by
// a natural cubic spline in x through every tabulated point (the tabulated
// values are reproduced exactly; below the first, S grows as x^2 from 0;
// beyond the last, S = Z; for hydrogen the exact S = 1 - f^2, which its row
// of the table follows to 1.3e-4); or, on request,
// the analytic fit of H. H. M. Balyuzi, Acta Cryst. A31 (1975) 600 (Z = 1-92),
//
//   S(x) = Z - sum_{j=1..5} a_j exp(-b_j x^2),
//
// fitted up to x = 1.4 per Angstrom (a warning beyond). The Balyuzi fit of
// hydrogen is helium's halved, about half the exact value.
//
// With a wavelength, each S is multiplied by the Breit-Dirac recoil factor
// (lambda/lambda')^n, lambda' = lambda + lambda_C (1 - cos 2theta) the Compton
// shifted wavelength, n = 2 or 3 (3 by default: the intensity per unit solid
// angle of a counter that counts photons; 2 for one that integrates energy),
// or 0: no factor (S as tabulated, as some reductions take it).
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

// The Compton wavelength h / (m_e c) in Angstrom (CODATA 2018).
inline constexpr double kComptonWavelength = 0.0242631023867;
// The largest x = sin(theta)/lambda to which the Balyuzi fit holds.
inline constexpr double kBalyuziMaxX = 1.4;

enum class IncoherentModel { kHubbell, kBalyuzi };
// A model by name ("hubbell", "balyuzi", case-blind); nothing for another.
std::optional<IncoherentModel> incoherent_model_named(std::string_view name);
std::string_view incoherent_model_name(IncoherentModel model);

struct ComptonOptions {
  IncoherentModel model = IncoherentModel::kHubbell;
  std::optional<double> wavelength{};  // Angstrom: applies the Breit-Dirac factor
  int breit_dirac_power = 3;           // n: 0 (none), 2 or 3
};

// S(x, Z) of one element (symbol case-blind; an ion's charge is ignored) at
// each x = sin(theta)/lambda in 1/Angstrom. kNotFound for an unknown element,
// kOutOfRange for one beyond the model's table (Z > 98 Hubbell, Z > 92
// Balyuzi), kInvalidArgument for an x that is negative or not finite.
// Balyuzi past x = 1.4 warns.
Result<std::vector<double>> incoherent_function(std::string_view element, std::span<const double> x,
                                                IncoherentModel model = IncoherentModel::kHubbell);

// C(Q) of a formula (any formula parse_formula takes: isotopes scatter as
// their element, charges are ignored) on a Q grid in 1/Angstrom. Errors:
// kParseError (formula), kNotFound (element), kOutOfRange (element beyond
// the table; Q beyond 4 pi / lambda with a wavelength), kInvalidArgument (an
// empty grid, a Q below 0 or not finite, a wavelength not above 0, a power
// other than 2 or 3).
Result<std::vector<double>> compton(std::string_view formula, std::span<const double> q,
                                    const ComptonOptions& options = {});

namespace detail {

// The Hubbell S(x) of element z (1-98) at points x taken in any order; fastest
// in increasing order (the spline's interval is searched from the last one).
class IncoherentSpline {
 public:
  explicit IncoherentSpline(int z);
  double operator()(double x);
  // At every point of x, into s.
  void operator()(std::span<const double> x, double* s);

 private:
  const double *x_, *y_, *m_, *inverse_h_;  // points, values, second derivatives, 1 / (x_i+1 - x_i)
  std::size_t n_, i_ = 0;
  double z_;
};

}  // namespace detail
}  // namespace talvo
