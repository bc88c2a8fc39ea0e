// Anomalous dispersion of X-rays from the Henke table, and the photon
// energies a front end may name:
//
//   f'(E)  = f1(E) - Z*,   Z* = Z - (Z / 82.5)^2.37   (Henke's relativistic Z)
//   f''(E) = f2(E)
//
// f1 and f2 are interpolated linearly in log f against log E between the
// tabulated points (linearly in f where a value is not above 0). The two
// points of an absorption edge (0.1 eV either side) are kept apart: below the
// edge's middle the values come from the points below it, above from those
// above, so an edge is a step and is never smeared.
//
// Source: B. L. Henke, E. M. Gullikson and J. C. Davis, At. Data Nucl. Data
// Tables 54 (1993) 181-342, Z = 1-92, 10 eV-30 keV; f1 is tabulated from
// about 29 eV (19 eV for a few light elements).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "talvo/result.hpp"

namespace talvo {

// h c in keV Angstrom (CODATA 2018): E = kHcKevAngstrom / lambda.
inline constexpr double kHcKevAngstrom = 12.398419843320026;
// The energies the Henke table covers, keV.
inline constexpr double kHenkeMinKev = 0.010, kHenkeMaxKev = 30.0;
// The heaviest element it holds.
inline constexpr int kHenkeMaxZ = 92;

// The photon energy (keV) of an anode's line (Cr, Fe, Co, Cu, Mo, Ag, W): "Cu"
// or "CuKa1" is Ka1, "CuKa2" Ka2, "CuKa" the mean of Ka1 and Ka2 weighted 2:1
// in wavelength (as their intensities are); a blank may stand between anode and
// line ("Cu Ka"), case-blind. kNotFound names an anode or a line that is not in
// the table.
Result<double> anode_energy(std::string_view name);

// keV from Angstrom and back; kInvalidArgument for a value that is not a
// finite number above 0.
Result<double> energy_of_wavelength(double angstrom);
Result<double> wavelength_of_energy(double kev);

// f1, f2 and the dispersion corrections of an element at one energy.
struct Dispersion {
  int z = 0;
  double energy = 0.0;          // keV
  double f1 = 0.0, f2 = 0.0;    // electrons, interpolated from the table
  double z_star = 0.0;          // Z - (Z/82.5)^2.37
  double f_prime = 0.0;         // f1 - Z*
  double f_double_prime = 0.0;  // f2
};

// By element symbol (case-blind; an ion's charge, "Fe3+", and isotopes do
// not matter here: give the element) or by atomic number. kNotFound for an
// unknown symbol; kOutOfRange for Z above 92 or an energy outside
// 10 eV-30 keV or below the element's first tabulated f1; kInvalidArgument
// for a NaN energy.
Result<Dispersion> dispersion(std::string_view element, double energy_kev);
Result<Dispersion> dispersion(int z, double energy_kev);

}  // namespace talvo
