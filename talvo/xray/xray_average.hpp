// X-ray form factors in double precision, and the averages over a sample's
// composition that normalise total X-ray scattering:
//
//   f_i(Q)    = c + sum_j a_j exp(-b_j s^2),  s = Q / 4 pi, with the
//               published coefficients unrounded; with an energy E,
//               f_i = f_i(Q) + f'_i(E) + i f''_i(E) (see dispersion.hpp), and
//               below |f|^2 for f^2, Re(f_i f_j*) for f_i f_j
//   <f^2>(Q)  = sum_i c_i f_i^2               c_i the atomic fractions
//   <f>^2(Q)  = (sum_i c_i f_i)^2
//   w_ii(Q)   = c_i^2 f_i^2 / <f>^2           Faber-Ziman weights of the
//   w_ij(Q)   = 2 c_i c_j f_i f_j / <f>^2     partial structure factors (i < j)
//   T0        = 4 pi <f(0)>^2 n_a             electrons^2 per cubic Angstrom
//
// The weights add to 1 at every Q. T0 is the slope of the T(r) of an X-ray
// measurement at small r, per atom, as the neutron report's T0(r) constant
// 4 pi <b>^2 n_a / 100 is for neutrons; times r_e^2 = 0.0794079 barn (the
// Thomson length squared) it is in barn per cubic Angstrom like that one.
// Sums run over the elements in the order of the formula; the ions of an
// element ("Fe{2+}Fe{3+}2O{2-}4") count as species of their own, each with
// its own coefficients, in the order in which they first appear.
#pragma once

#include <complex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"
#include "talvo/xray/dispersion.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo {

// The most numbers one xray_average result may hold: Q, <f^2>, <f>^2 and
// the n (n + 1) / 2 weights of n elements at every Q (a 40-element formula
// has 820 weights). Refused before any memory is taken, as the program
// would otherwise fail part way or be stopped by the system; 2^27 doubles
// are 1 GiB.
inline constexpr double kXrayMaxValues = 134217728;

struct FormFactorOptions {
  FormFactorTable table = FormFactorTable::kWaasmaierKirfel;
};

// f(Q) of an element's neutral atom or of an ion (symbol compared
// case-blind), in double precision, one value per Q in electrons. An empty
// grid gives no values. Errors: kNotFound (no coefficients for the atom or
// ion, see published_coefficients), kInvalidArgument (a Q below 0 or not
// finite). A warning, the values given, where Q passes the table's fitted
// range (beyond_fit_warning).
Result<std::vector<double>> form_factor(std::string_view symbol, std::span<const double> q,
                                        const FormFactorOptions& options = {});

// f0(Q) + f'(E) + i f''(E) of an atom or ion ("Fe", "Fe3+", "O2-") at a
// photon energy in keV: the form factor above with the element's dispersion
// corrections, Henke's to 30 keV and Chantler's above (dispersion.hpp; they
// do not depend on Q or the charge).
// Errors: kNotFound (no coefficients for the atom or ion; the message lists
// the ions the table has), kOutOfRange (an energy outside 10 eV-432.9 keV, an
// element beyond U), kInvalidArgument (a Q below 0 or not finite, a NaN
// energy). The warning of Q beyond the fit comes as a warning.
Result<std::vector<std::complex<double>>> form_factor(std::string_view symbol, std::span<const double> q,
                                                      double energy_kev, const FormFactorOptions& options = {});

struct XrayAverageOptions {
  FormFactorTable table = FormFactorTable::kWaasmaierKirfel;
  std::optional<double> density{};         // g/cm3
  std::optional<double> number_density{};  // atoms per cubic Angstrom (give one of the two, or neither)
  std::optional<double> energy{};          // keV: <f^2>, <f>^2 and the weights with f' and f''
                                           // (f0, f0_mean and T0 stay those of f0(Q) alone)
};

// The weight of one pair of elements, "Si-O", at every Q.
struct XrayPartial {
  std::string pair;
  std::vector<double> weight;
};

struct XrayAverage {
  std::string formula;
  std::vector<std::string> symbols;  // in the order of the formula; isotopes count as their element,
                                     // ions are named with their charge ("Fe3+")
  std::vector<double> fractions;     // c_i
  std::optional<double> energy;      // keV, where asked
  DispersionTable f_table = DispersionTable::kHenke93;  // the table of f', f'' (with an energy)
  std::vector<double> f_prime;       // f'_i, f''_i at the energy (with an energy only)
  std::vector<double> f_double_prime;
  std::vector<double> f0;  // f_i(0) = c + sum a
  double f0_mean = 0.0;    // <f(0)>
  std::vector<double> q;
  std::vector<double> f2;            // <f^2>, with an energy <|f|^2>
  std::vector<double> f_mean_sq;     // <f>^2, with an energy |<f>|^2
  std::vector<XrayPartial> weights;  // w_11, w_22, ..., then w_12, w_13, ..., w_23, ...
  // With a density only.
  std::optional<double> density, number_density;  // g/cm3 (where the weights are known), atoms per A^3
  std::optional<double> t0;                       // electrons^2 per A^3
};

// The averages of a formula ("SiO2", "Ca(OH)2", "D2O", "Al{3+}2O{2-}3") on a Q grid. A density
// in g/cm3 takes the natural atoms' mean weights from the element table and
// the isotopes' masses from the isotope table (atom_mass; an isotope it does
// not list needs the number density instead). Errors:
//   kParseError       the formula does not parse (the message says where)
//   kNotFound         an element or ion the coefficient table lacks, a formula of no
//                     elements, an isotope without a mass when a density in g/cm3 is given
//   kInvalidArgument  no Q, a Q below 0 or not finite; a density or number density not
//                     above 0, both given, or one giving a T0 beyond the range of numbers
//   kOutOfRange       an energy outside the tables of f1, f2, or an element beyond them
//   kOutOfMemory      a result larger than kXrayMaxValues, or memory that runs out
// Q beyond the range the coefficients were fitted to is a warning.
Result<XrayAverage> xray_average(std::string_view formula, std::span<const double> q,
                                 const XrayAverageOptions& options = {});

// The warning for Q beyond the range the table's coefficients were fitted
// to, naming the largest Q of the grid; nothing when the grid stays within.
std::optional<std::string> beyond_fit_warning(FormFactorTable table, std::span<const double> q);

}  // namespace talvo
