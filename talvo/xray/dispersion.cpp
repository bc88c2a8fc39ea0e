#include "talvo/xray/dispersion.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "talvo/elements/elements.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo {
namespace {

// A characteristic line of an X-ray tube's anode.
struct AnodeLine {
  const char* anode;  // "Cu"
  double ka1, ka2;    // keV
};

// K alpha 1 and K alpha 2 in keV: J. A. Bearden, Rev. Mod. Phys. 39 (1967)
// 78-124, as listed in the X-ray Data Booklet (LBNL, 2009), Table 1-2.
constexpr AnodeLine kAnodes[] = {
    {"Cr", 5.41472, 5.405509}, {"Fe", 6.40384, 6.39084},  {"Co", 6.93032, 6.91530}, {"Cu", 8.04778, 8.02783},
    {"Mo", 17.47934, 17.3743}, {"Ag", 22.16292, 21.9903}, {"W", 59.31824, 57.9817},
};

struct HenkeIndex {
  int z;
  int first, count;
};
struct HenkePoint {
  double e, f1, f2;  // eV, electrons
};
constexpr HenkeIndex kHenkeIndex[] = {
#include "talvo/xray/henke_index.inc"
};
constexpr HenkePoint kHenke[] = {
#include "talvo/xray/henke_table.inc"
};
static_assert(std::size(kHenkeIndex) == kHenkeMaxZ);

struct FfastIndex {
  int z;
  int first, count;
  double frel_h82, frel_cl, fnt;  // electrons
};
struct FfastPoint {
  double e, f1, f2;  // keV, electrons
};
struct FfastEdge {
  int z;
  double e;  // keV
};
constexpr FfastIndex kFfastIndex[] = {
#include "talvo/xray/ffast_index.inc"
};
constexpr FfastPoint kFfast[] = {
#include "talvo/xray/ffast_table.inc"
};
constexpr FfastEdge kFfastEdges[] = {
#include "talvo/xray/ffast_edges.inc"
};
static_assert(std::size(kFfastIndex) == kHenkeMaxZ);
// kFfastMaxKev is the files' last point, the same for every element: the
// code offers the whole range the table holds and no more.
static_assert([] {
  for (const FfastIndex& index : kFfastIndex)
    if (kFfast[index.first + index.count - 1].e != kFfastMaxKev) return false;
  return true;
}());

// Two points closer than this (relative) are the two sides of an edge; the
// table's mesh is otherwise about 1.6 % apart.
constexpr double kEdgeGap = 1e-4;

double loglog(double e, double e0, double e1, double v0, double v1) {
  const double t = std::log(e / e0) / std::log(e1 / e0);
  if (v0 > 0.0 && v1 > 0.0) return v0 * std::exp(t * std::log(v1 / v0));
  return v0 + t * (v1 - v0);
}

std::string kev_text(double kev) { return shortest(kev) + " keV"; }

}  // namespace

Result<double> energy_of_wavelength(double angstrom) {
  if (!(angstrom > 0.0) || !std::isfinite(angstrom))
    return make_error(ErrorKind::kInvalidArgument,
                      "the wavelength must be a number above 0 Angstrom, not " + shortest(angstrom));
  return kHcKevAngstrom / angstrom;
}

Result<double> wavelength_of_energy(double kev) {
  if (!(kev > 0.0) || !std::isfinite(kev))
    return make_error(ErrorKind::kInvalidArgument, "the energy must be a number above 0 keV, not " + shortest(kev));
  return kHcKevAngstrom / kev;
}

Result<double> anode_energy(std::string_view name) {
  std::string text;
  for (char c : name)
    if (c != ' ' && c != '\t') text += c;
  for (const AnodeLine& a : kAnodes) {
    const std::string_view anode = a.anode;
    if (text.size() < anode.size() || !equal_case_blind(std::string_view(text).substr(0, anode.size()), anode))
      continue;
    const std::string_view line = std::string_view(text).substr(anode.size());
    // "Co" must not be read as C plus a line "o", nor "Cr" as C: the anode
    // matched in full, so a line name follows or nothing does.
    if (line.empty() || equal_case_blind(line, "Ka1")) return a.ka1;
    if (equal_case_blind(line, "Ka2")) return a.ka2;
    if (equal_case_blind(line, "Ka")) {
      const double l1 = kHcKevAngstrom / a.ka1, l2 = kHcKevAngstrom / a.ka2;
      return kHcKevAngstrom / ((2.0 * l1 + l2) / 3.0);
    }
    if (line.size() <= 3 && !line.empty() && (line[0] == 'K' || line[0] == 'k'))
      return make_error(ErrorKind::kNotFound,
                        "no line " + quote_for_message(line) + " of the " + a.anode + " anode: Ka1, Ka2 or Ka");
  }
  return make_error(ErrorKind::kNotFound, "no anode " + quote_for_message(name) + ": Cr, Fe, Co, Cu, Mo, Ag or W");
}

namespace {

Result<Dispersion> henke(int z, double energy_kev) {
  if (!(energy_kev >= kHenkeMinKev && energy_kev <= kHenkeMaxKev))
    return make_error(ErrorKind::kOutOfRange,
                      "the energy " + kev_text(energy_kev) + " is outside the Henke table's 10 eV to 30 keV");
  const HenkeIndex& index = kHenkeIndex[z - 1];
  const HenkePoint* first = kHenke + index.first;
  const HenkePoint* last = first + index.count;
  const double e = energy_kev * 1000.0;
  if (e < first->e)
    return make_error(ErrorKind::kOutOfRange, "the Henke table gives f1 of Z = " + std::to_string(z) + " from " +
                                                  shortest(first->e) + " eV, not at " + kev_text(energy_kev));
  // The first point above e (the last point holds e = 30 keV itself).
  const HenkePoint* hi = std::upper_bound(first, last, e, [](double v, const HenkePoint& p) { return v < p.e; });
  if (hi == last) --hi;
  const HenkePoint* lo = hi - 1;
  Dispersion d;
  d.z = z;
  d.energy = energy_kev;
  if (e == hi->e) {
    d.f1 = hi->f1;
    d.f2 = hi->f2;
  } else if (hi->e - lo->e < kEdgeGap * lo->e) {
    // Inside an edge: the side of its middle that e is on.
    const HenkePoint* side = e < 0.5 * (lo->e + hi->e) ? lo : hi;
    d.f1 = side->f1;
    d.f2 = side->f2;
  } else {
    d.f1 = loglog(e, lo->e, hi->e, lo->f1, hi->f1);
    d.f2 = loglog(e, lo->e, hi->e, lo->f2, hi->f2);
  }
  // Henke's relativistic correction, once per element.
  static const std::array<double, kHenkeMaxZ> z_star = [] {
    std::array<double, kHenkeMaxZ> zs{};
    for (std::size_t i = 0; i < zs.size(); ++i) {
      const double zd = static_cast<double>(i + 1);
      zs[i] = zd - std::pow(zd / 82.5, 2.37);
    }
    return zs;
  }();
  d.z_star = z_star[static_cast<std::size_t>(z - 1)];
  d.f_rel = d.z_star - z;
  d.f_prime = d.f1 - d.z_star;
  d.f_double_prime = d.f2;
  return d;
}

Result<Dispersion> ffast(int z, double energy_kev) {
  if (!(energy_kev <= kFfastMaxKev))
    return make_error(ErrorKind::kOutOfRange, "the energy " + kev_text(energy_kev) +
                                                  " is beyond Chantler's FFAST table, which ends at " +
                                                  kev_text(kFfastMaxKev));
  const FfastIndex& index = kFfastIndex[z - 1];
  const FfastPoint* first = kFfast + index.first;
  const FfastPoint* last = first + index.count;
  if (energy_kev < first->e)
    return make_error(ErrorKind::kOutOfRange, "Chantler's FFAST table gives f1 of Z = " + std::to_string(z) +
                                                  " from " + kev_text(first->e) + ", not at " + kev_text(energy_kev));
  const FfastPoint* hi =
      std::upper_bound(first, last, energy_kev, [](double v, const FfastPoint& p) { return v < p.e; });
  if (hi == last) --hi;
  const FfastPoint* lo = hi == first ? hi : hi - 1;
  Dispersion d;
  d.z = z;
  d.energy = energy_kev;
  d.table = DispersionTable::kChantlerFfast;
  // An edge between the two points: the point on the energy's side of it.
  const FfastPoint* side = nullptr;
  for (const FfastEdge& edge : kFfastEdges)
    if (edge.z == z && edge.e > lo->e && edge.e < hi->e) side = energy_kev < edge.e ? lo : hi;
  if (energy_kev == hi->e || lo == hi) side = hi;
  if (side != nullptr) {
    d.f1 = side->f1;
    d.f2 = side->f2;
  } else {
    d.f1 = loglog(energy_kev, lo->e, hi->e, lo->f1, hi->f1);
    d.f2 = loglog(energy_kev, lo->e, hi->e, lo->f2, hi->f2);
  }
  d.z_star = z;
  d.f_prime = d.f1 - d.z_star;
  d.f_double_prime = d.f2;
  d.f_rel = index.frel_cl;
  d.f_nt = index.fnt;
  return d;
}

}  // namespace

std::string_view dispersion_table_name(DispersionTable table) {
  switch (table) {
    case DispersionTable::kHenke93: return "henke93";
    case DispersionTable::kChantlerFfast: return "chantler-ffast";
    case DispersionTable::kAuto: break;
  }
  return "auto";
}

DispersionTable dispersion_table_at(double energy_kev) {
  return energy_kev > kHenkeMaxKev ? DispersionTable::kChantlerFfast : DispersionTable::kHenke93;
}

Result<Dispersion> dispersion(int z, double energy_kev, DispersionTable table) {
  if (std::isnan(energy_kev)) return make_error(ErrorKind::kInvalidArgument, "the energy is not a number");
  if (z < 1 || z > kHenkeMaxZ)
    return make_error(ErrorKind::kOutOfRange,
                      "the tables of f1, f2 hold Z = 1 to 92, not Z = " + std::to_string(z));
  if (table == DispersionTable::kAuto) {
    if (!(energy_kev >= kHenkeMinKev && energy_kev <= kFfastMaxKev))
      return make_error(ErrorKind::kOutOfRange, "the energy " + kev_text(energy_kev) +
                                                    " is outside the tables' 10 eV to " + kev_text(kFfastMaxKev) +
                                                    " (Henke's to 30 keV, Chantler's FFAST above)");
    table = dispersion_table_at(energy_kev);
  }
  return table == DispersionTable::kHenke93 ? henke(z, energy_kev) : ffast(z, energy_kev);
}

Result<Dispersion> dispersion(std::string_view element, double energy_kev, DispersionTable table) {
  const std::optional<std::size_t> index = element_entry_of(element);
  if (!index) return make_error(ErrorKind::kNotFound, "unknown element " + quote_for_message(element));
  const ElementEntry& entry = element_table()[*index];
  Result<Dispersion> d = dispersion(entry.z, energy_kev, table);
  if (!d.ok() && d.kind() == ErrorKind::kOutOfRange && entry.z > kHenkeMaxZ)
    return make_error(ErrorKind::kOutOfRange, "the tables of f1, f2 hold H to U (Z = 1 to 92), not " +
                                                  std::string(entry.symbol) + " (Z = " + std::to_string(entry.z) + ")");
  return d;
}

}  // namespace talvo
