// Energy-dependent bound coherent scattering lengths of the resonant rare
// earths (Lynn & Seeger 1990): where a nucleus has a resonance near thermal
// energies, its length, and with it the absorption, changes with the neutron's
// energy far more than the 1/v law allows.
#pragma once

#include <algorithm>
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

// h^2 / (2 m_n e) in eV A^2, from the CODATA 2018 values of h, m_n and e.
inline constexpr double kEnergyTimesWavelength2 =
    6.62607015e-34 * 6.62607015e-34 / (2.0 * 1.67492749804e-27 * 1.602176634e-19) * 1e20;

// E = h^2 / (2 m_n lambda^2): the energy in eV of a neutron of the wavelength
// in Angstrom, and the inverse.
inline double neutron_energy(double wavelength) { return kEnergyTimesWavelength2 / (wavelength * wavelength); }
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
// The same at an energy in eV (inline: a sweep calls it for every wavelength).
// Linear in energy: the table is given on steps of energy, and between its
// points the length varies smoothly with energy (the resonance is a
// Breit-Wigner shape in E), so straight lines in E follow it most closely;
// the points are dense enough (0.001-0.05 eV) that the difference from any
// smoother rule is far below the table's two decimals.
inline CurveValue length_at_energy(const LengthCurve& curve, double e, std::size_t& hint) {
  const std::span<const LengthPoint> p = curve.points;
  if (!(e > p.front().energy)) return {{p.front().re, p.front().im}, e < p.front().energy};
  if (!(e < p.back().energy)) return {{p.back().re, p.back().im}, e > p.back().energy};
  // The interval lo <= e < hi: the hint's, a neighbour's, else by bisection.
  std::size_t i = hint < p.size() - 1 ? hint : 0;
  if (!(p[i].energy <= e && e < p[i + 1].energy)) {
    if (i + 2 < p.size() && p[i + 1].energy <= e && e < p[i + 2].energy) {
      ++i;
    } else if (i > 0 && p[i - 1].energy <= e && e < p[i].energy) {
      --i;
    } else {
      const auto upper =
          std::upper_bound(p.begin(), p.end(), e, [](double v, const LengthPoint& q) { return v < q.energy; });
      i = static_cast<std::size_t>(upper - p.begin()) - 1;
    }
  }
  hint = i;
  const LengthPoint& lo = p[i];
  const LengthPoint& hi = p[i + 1];
  const double t = (e - lo.energy) / (hi.energy - lo.energy);
  return {{lo.re + t * (hi.re - lo.re), lo.im + t * (hi.im - lo.im)}, false};
}

}  // namespace talvo
