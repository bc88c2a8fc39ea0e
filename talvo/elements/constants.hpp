// The physical constants of the modern code, one home each (CODATA 2018).
// The classic routines keep the constants they were defined with; those live
// in talvo/classic/, each saying why.
#pragma once

namespace talvo {

// Mass of one atomic mass unit in 1e-24 g, for densities in g/cm3 and atoms
// per cubic Angstrom (1 A^3 = 1e-24 cm3).
inline constexpr double kAtomicMassUnitGrams = 1.66053906660;

// Avogadro's number per mole (exact since the 2019 SI).
inline constexpr double kAvogadro = 6.02214076e23;

// Boltzmann's constant in eV per K (exact since the 2019 SI).
inline constexpr double kBoltzmannEv = 8.617333262e-5;

}  // namespace talvo
