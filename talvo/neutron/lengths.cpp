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

double neutron_wavelength(double energy) { return std::sqrt(kEnergyTimesWavelength2 / energy); }

CurveValue length_at(const LengthCurve& curve, double wavelength) {
  std::size_t hint = 0;
  return length_at(curve, wavelength, hint);
}

CurveValue length_at(const LengthCurve& curve, double wavelength, std::size_t& hint) {
  return length_at_energy(curve, neutron_energy(wavelength), hint);
}

}  // namespace talvo
