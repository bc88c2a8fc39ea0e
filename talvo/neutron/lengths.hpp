// Energy-dependent bound coherent scattering lengths of the resonant rare
// earths (Lynn & Seeger 1990): where a nucleus has a resonance near thermal
// energies, its length, and with it the absorption, changes with the neutron's
// energy far more than the 1/v law allows.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <string_view>

namespace talvo {

// One tabulated point of a curve.
struct LengthPoint {
  const char* symbol;
  int a;          // mass number; 0 for the natural element
  double energy;  // eV
  double re, im;  // fm; im < 0 for absorption
};

// The curve of one natural element or isotope, in rising energy.
struct LengthCurve {
  std::string_view symbol;
  int a = 0;
  std::span<const LengthPoint> points;
  double lowest_energy() const { return points.front().energy; }
  double highest_energy() const { return points.back().energy; }
};

// The curve of an element (a = 0) or isotope, or nullptr where the table has none.
const LengthCurve* find_length_curve(std::string_view symbol, int a);

// E = h^2 / (2 m_n lambda^2): the energy in eV of a neutron of the wavelength
// in Angstrom, and the inverse (CODATA 2018 constants).
double neutron_energy(double wavelength);
double neutron_wavelength(double energy);

struct CurveValue {
  std::complex<double> b;  // fm
  bool outside = false;    // the energy is outside the table: b is the value at its nearer end
};

// The length at a wavelength in Angstrom, interpolated linearly in energy
// between the tabulated points.
CurveValue length_at(const LengthCurve& curve, double wavelength);
// The same, starting the search at the interval `hint` (updated), which
// makes a sweep through neighbouring wavelengths cheap.
CurveValue length_at(const LengthCurve& curve, double wavelength, std::size_t& hint);
// The same at an energy in eV.
CurveValue length_at_energy(const LengthCurve& curve, double energy, std::size_t& hint);

}  // namespace talvo
