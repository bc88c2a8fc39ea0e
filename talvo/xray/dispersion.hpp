// Anomalous dispersion of X-rays from two published tables of f1 and f2, and
// the photon energies a front end may name.
//
//   f'(E)  = f1(E) - Z*
//   f''(E) = f2(E)
//
// where Z* is the high-energy limit of the table's f1, so that f' is the
// anomalous part alone and goes to 0 far above every edge in both tables:
//
// - henke93: B. L. Henke, E. M. Gullikson and J. C. Davis, At. Data Nucl.
//   Data Tables 54 (1993) 181-342, Z = 1-92, 10 eV-30 keV (f1 from about
//   29 eV, 19 eV for a few light elements). Its f1 holds Henke's relativistic
//   correction, so Z* = Z - (Z / 82.5)^2.37; it gives no nuclear Thomson term.
// - chantler-ffast: C. T. Chantler, J. Phys. Chem. Ref. Data 24 (1995) 71 and
//   29 (2000) 597 (NIST FFAST), Z = 1-92, on its coarse mesh to 432.9 keV.
//   Its f1 holds neither the relativistic correction frel nor the nuclear
//   Thomson term fNT (U's f1 is 92.17 at 433 keV, not 92 + frel): Z* = Z.
//   Each element's header gives both: frel (two estimates, H82 and 3/5 CL)
//   and fNT; the total forward amplitude is f1 + frel + fNT + i f2, which is
//   what xraylib's (Kissel's) f' + Z holds. `f_rel` and `f_nt` carry them.
//
// Henke's table is used to 30 keV, Chantler's above it (one may ask for
// either where it holds). The two agree in f' to 0.01 electrons for the light
// elements and to about 0.3 electrons (f'' 8 %) for the heavy ones at
// 20-30 keV, where FFAST's mesh is coarse near the L edges; keeping Henke
// below 30 keV keeps every result there as it was.
//
// f1 and f2 are interpolated linearly in log f against log E between the
// tabulated points (linearly in f where a value is not above 0). An absorption
// edge is a step: Henke's table holds the two points 0.1 eV either side, and
// below the edge's middle the values come from the points below it, above from
// those above; FFAST's coarse mesh holds a point either side of an edge, some
// per cent apart, and between them the value is that of the point on the
// energy's side of the edge (the edge energies its headers give).
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
// The heaviest element it holds (and Chantler's).
inline constexpr int kHenkeMaxZ = 92;
// The last point of Chantler's coarse mesh, keV: the highest energy either
// table reaches.
inline constexpr double kFfastMaxKev = 432.9451;

// Which table made f1 and f2. kAuto: Henke's to 30 keV, Chantler's above.
enum class DispersionTable { kAuto, kHenke93, kChantlerFfast };
// "henke93", "chantler-ffast" (kAuto: "auto"), as outputs name them.
std::string_view dispersion_table_name(DispersionTable table);
// The table a given energy takes under kAuto.
DispersionTable dispersion_table_at(double energy_kev);

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
  DispersionTable table = DispersionTable::kHenke93;  // the one that made f1, f2
  double f1 = 0.0, f2 = 0.0;    // electrons, interpolated from the table
  double z_star = 0.0;          // henke93: Z - (Z/82.5)^2.37; chantler-ffast: Z
  double f_prime = 0.0;         // f1 - Z*
  double f_double_prime = 0.0;  // f2
  // The relativistic correction and the nuclear Thomson term the table gives:
  // henke93: f_rel = Z* - Z, already in f1, and no f_nt (0); chantler-ffast:
  // its 3/5 CL estimate of frel and its fNT, neither in f1.
  double f_rel = 0.0, f_nt = 0.0;
};

// By element symbol (case-blind; an ion's charge, "Fe3+", and isotopes do
// not matter here: give the element) or by atomic number. kNotFound for an
// unknown symbol; kOutOfRange for Z above 92 or an energy outside the table
// (10 eV-432.9 keV for kAuto; Henke 10 eV-30 keV; FFAST to 432.9 keV) or
// below the element's first tabulated f1; kInvalidArgument for a NaN energy.
Result<Dispersion> dispersion(std::string_view element, double energy_kev,
                              DispersionTable table = DispersionTable::kAuto);
Result<Dispersion> dispersion(int z, double energy_kev, DispersionTable table = DispersionTable::kAuto);

}  // namespace talvo
