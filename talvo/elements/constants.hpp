// The physical constants of the modern code, one home each (CODATA 2018).
// The classic routines keep the constants they were defined with; those live
// in talvo/classic/, each saying why.
#pragma once

#include <string_view>

namespace talvo {

// Mass of one atomic mass unit in 1e-24 g, for densities in g/cm3 and atoms
// per cubic Angstrom (1 A^3 = 1e-24 cm3).
inline constexpr double kAtomicMassUnitGrams = 1.66053906660;

// Avogadro's number per mole (exact since the 2019 SI).
inline constexpr double kAvogadro = 6.02214076e23;

// Boltzmann's constant in eV per K (exact since the 2019 SI).
inline constexpr double kBoltzmannEv = 8.617333262e-5;

// The unit of a scattering-length density, neutron or X-ray, as the values
// are given and labelled: 1e-6 per square Angstrom.
inline constexpr std::string_view kSldUnit = "1e-6/A2";

}  // namespace talvo
