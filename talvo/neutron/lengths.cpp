#include "talvo/neutron/lengths.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace talvo {
namespace {

constexpr LengthPoint kPoints[] = {
#include "talvo/neutron/lynn_seeger_table.inc"
};

// h^2 / (2 m_n e) in eV A^2, from the CODATA 2018 values of h, m_n and e.
constexpr double kPlanck = 6.62607015e-34, kNeutronKg = 1.67492749804e-27, kElectronVolt = 1.602176634e-19;
constexpr double kEnergyTimesWavelength2 = kPlanck * kPlanck / (2.0 * kNeutronKg * kElectronVolt) * 1e20;

// The curves, each a run of rows of the generated table (sorted by symbol,
// mass number and energy).
std::vector<LengthCurve> make_curves() {
  std::vector<LengthCurve> curves;
  const std::span<const LengthPoint> all(kPoints);
  std::size_t start = 0;
  for (std::size_t i = 1; i <= all.size(); ++i) {
    if (i < all.size() && std::string_view(all[i].symbol) == all[start].symbol && all[i].a == all[start].a) continue;
    curves.push_back({all[start].symbol, all[start].a, all.subspan(start, i - start)});
    start = i;
  }
  return curves;
}

}  // namespace

const LengthCurve* find_length_curve(std::string_view symbol, int a) {
  static const std::vector<LengthCurve> curves = make_curves();
  for (const LengthCurve& c : curves)
    if (c.symbol == symbol && c.a == a) return &c;
  return nullptr;
}

double neutron_energy(double wavelength) { return kEnergyTimesWavelength2 / (wavelength * wavelength); }
double neutron_wavelength(double energy) { return std::sqrt(kEnergyTimesWavelength2 / energy); }

// Linear in energy: the table is given on steps of energy, and between its
// points the length varies smoothly with energy (the resonance is a
// Breit-Wigner shape in E), so straight lines in E follow it most closely;
// the points are dense enough (0.001-0.05 eV) that the difference from any
// smoother rule is far below the table's two decimals.
CurveValue length_at(const LengthCurve& curve, double wavelength) {
  std::size_t hint = 0;
  return length_at(curve, wavelength, hint);
}

CurveValue length_at(const LengthCurve& curve, double wavelength, std::size_t& hint) {
  return length_at_energy(curve, neutron_energy(wavelength), hint);
}

CurveValue length_at_energy(const LengthCurve& curve, double e, std::size_t& hint) {
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
