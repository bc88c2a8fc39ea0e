// A material as X-rays of one energy see it, in double precision:
//
//   f1_i, f2_i         the atomic scattering factors at the energy: Henke's to
//                      30 keV, Chantler's FFAST above (dispersion.hpp; f_table)
//   electrons          sum_i n_i Z_i per formula unit
//   sld + i sld_im     r_e sum_i N_i (f1_i + i f2_i), 1e-6 per A^2, N_i atoms of
//                      element i per A^3 (as periodictable's xray_sld)
//   delta, beta        lambda^2 (sld, sld_im) / 2 pi: n = 1 - delta + i beta
//   critical_angle     sqrt(2 delta), in degrees; none where delta is not above 0
//   sigma_photo        2 r_e lambda f2, per atom
//   sigma_coh          Rayleigh: pi r_e^2 int_-1^1 (1 + cos^2 2theta) f0(Q)^2 dcos 2theta,
//                      f0 the Waasmaier-Kirfel form factor of the neutral atom,
//                      integrated exactly (f0^2 is a sum of Gaussians in Q^2)
//   sigma_incoh        Compton: pi r_e^2 int_-1^1 KN(2theta) S(x, Z) dcos 2theta, with
//                      the Klein-Nishina factor KN = P^2 (P + 1/P - sin^2 2theta),
//                      P = 1 / (1 + (E / m_e c^2)(1 - cos 2theta)), S from Hubbell
//                      (compton.hpp), by Gauss-Legendre quadrature in x = sin(theta)/lambda
//   mu_*               sum_i N_i sigma_i, per cm; mu_total = mu_photo + mu_coh + mu_incoh
//   attenuation_length 1 / mu, cm;  transmission exp(-mu t)
//
// r_e and m_e c^2 are CODATA 2018. An ion's charge and an isotope do not
// change f1, f2 or the cross-sections here (all are the element's).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"
#include "talvo/xray/dispersion.hpp"

namespace talvo {

// The classical electron radius in Angstrom and the electron's rest energy
// in keV (CODATA 2018).
inline constexpr double kElectronRadius = 2.8179403262e-5;
inline constexpr double kElectronRestEnergyKev = 510.99895;

// Atoms of one element in a formula unit. Any formula front end fills these.
struct XrayAtoms {
  std::string symbol;            // element ("Fe", "D"; an ion "Fe3+" counts as its element)
  double count = 0.0;            // atoms per formula unit, above 0
  std::optional<double> mass{};  // amu per atom; the element table's mean weight when not given
};

struct XrayComposition {
  std::string name;                 // the formula as given, for the output
  std::vector<XrayAtoms> atoms;     // one entry per element, in order
  std::optional<double> density{};  // g/cm3
};

struct XrayMaterialOptions {
  std::optional<double> density{};    // g/cm3; overrides the composition's
  std::optional<double> thickness{};  // cm, for the transmissions
};

struct XrayMaterialElement {
  std::string symbol;
  int z = 0;
  double count = 0.0, fraction = 0.0;  // per formula unit, atomic fraction
  double f1 = 0.0, f2 = 0.0;           // electrons
  double f_prime = 0.0, f_double_prime = 0.0;
  double f_rel = 0.0, f_nt = 0.0;  // the table's corrections (Dispersion)
  double sigma_photo = 0.0, sigma_coh = 0.0, sigma_incoh = 0.0;  // barn per atom
};

struct XrayMaterial {
  std::string formula;
  double energy = 0.0;         // keV
  double wavelength = 0.0;     // Angstrom
  DispersionTable f_table = DispersionTable::kHenke93;  // the table of every f1, f2
  double atoms = 0.0;          // per formula unit
  double electrons = 0.0;      // per formula unit
  std::optional<double> mass;  // amu per formula unit, where every element's mass is known
  double f1 = 0.0, f2 = 0.0;   // sums per formula unit
  // Per atom, barn: the fractions' mean.
  double sigma_photo = 0.0, sigma_coh = 0.0, sigma_incoh = 0.0, sigma_total = 0.0;
  // With a density only.
  std::optional<double> density, number_density;  // g/cm3, atoms per A^3
  std::optional<double> sld, sld_im;              // 1e-6 per A^2
  std::optional<double> delta, beta;
  std::optional<double> critical_angle;                                // degrees
  std::optional<double> mu_photo, mu_coh, mu_incoh, mu_total;          // per cm
  std::optional<double> attenuation_length_photo, attenuation_length;  // cm: 1/mu_photo, 1/mu_total
  // With a thickness too.
  std::optional<double> thickness;                         // cm
  std::optional<double> transmission_photo, transmission;  // exp(-mu_photo t), exp(-mu_total t)
  std::vector<XrayMaterialElement> elements;
};

// The material of a composition at a photon energy in keV. Errors:
// kInvalidArgument (no atoms, a count, mass, density or thickness that is
// not a finite number above 0, a NaN energy), kNotFound (an unknown
// element), kOutOfRange (an energy outside the tables' 10 eV-432.9 keV or below an
// element's first tabulated f1, an element beyond U, a density that gives
// values beyond the range of numbers).
Result<XrayMaterial> xray_material(const XrayComposition& composition, double energy_kev,
                                   const XrayMaterialOptions& options = {});

// The same for a formula in the notation of parse_mixture ("SiO2",
// "Fe{3+}2O{2-}3", "D2O@1n", "50%vol H2O@1 // D2O@1n"; isotopes scatter as
// their element and weigh their own mass; a density in the formula is the
// composition's, and where it came from is said as a warning): the parser's
// error when it does not parse; with a density, kNotFound for
// an isotope whose mass is not listed (atom_mass). Without a density such an
// isotope leaves the mass unknown.
Result<XrayMaterial> xray_material_from_formula(std::string_view formula, double energy_kev,
                                                const XrayMaterialOptions& options = {});

// The material as one JSON object: energy (keV) and wavelength (A) first,
// then formula, f_table (henke93 or chantler-ffast), atoms, electrons, mass, f1, f2, density, number_density, sld,
// sld_im (1e-6/A^2), delta, beta, critical_angle (degrees), mu_photo, mu_coh,
// mu_incoh, mu_total (1/cm), attenuation_length_photo, attenuation_length (cm),
// thickness, transmission_photo, transmission, per_atom {sigma_photo,
// sigma_coh, sigma_incoh, sigma_total} (barn) and elements [...]. Numbers are
// the shortest text that reads back to the same double; a value not known is
// null.
std::string xray_material_json(const XrayMaterial& material);

}  // namespace talvo
