// Sums over one scattering unit, averages per atom, density-dependent values
// and the weights of the partial functions, all in single precision.
#pragma once

#include <vector>

#include "talvo/elements/composition.hpp"
#include "talvo/classic/nuclear_tables.hpp"

namespace talvo::classic {

// Smallest atom count, density or fraction taken as non-zero.
inline constexpr float kSmall = 1.0e-6f;

// The data of one isotope of the sample, as matched in the table.
struct IsotopeData {
  float b = 0.0f;
  float mass = 0.0f;  // atomic mass rounded to single precision
  float sig_scatt = 0.0f;
  float sig_abs = 0.0f;
};

// The data of a matched table entry, in the precision the averages use.
IsotopeData isotope_data(const NuclearEntry& e);

// A coefficient for the pair of elements (l, m); for l != m `reverse` is the
// coefficient stated for the pair in the other order.
struct PairValue {
  int l = 0;
  int m = 0;
  float value = 0.0f;
  float reverse = 0.0f;
};

struct Totals {
  float atomic_weight = 0.0f;
  float b_bound = 0.0f;
  float b_free = 0.0f;
  float sig_coh = 0.0f;
  float sig_inc = 0.0f;
  float sig_bound = 0.0f;
  float sig_free = 0.0f;
  float sig_abs = 0.0f;
  float sig_abs1 = 0.0f;
  float sig_abs18 = 0.0f;
  // The cross-sections divided by 4 pi (per unit) or 4 pi N (per atom).
  float sig_coh_4pi = 0.0f;
  float sig_inc_4pi = 0.0f;
  float sig_bound_4pi = 0.0f;
  float sig_free_4pi = 0.0f;
};

struct Results {
  float atoms = 0.0f;           // N
  std::vector<float> fraction;  // c_k
  std::vector<float> b_mean;    // mean b of each element
  bool density_known = false;
  float density_gcc = 0.0f;
  float units_per_a3 = 0.0f;  // n_u
  float atoms_per_a3 = 0.0f;  // n_a
  Totals unit;
  Totals atom;
  // T0 constant (with density) or T0 constant / number density.
  bool t0_unit_with_density = false;
  bool t0_atom_with_density = false;
  float t0_unit = 0.0f;
  float t0_atom = 0.0f;
  // Only with a number density above the smallest one.
  float sld = 0.0f;
  float mu = 0.0f;
  float mean_free_path = 0.0f;
  std::vector<PairValue> tr_unit;  // like pairs, then unlike pairs
  std::vector<PairValue> tr_atom;
  std::vector<PairValue> fz;  // value normalised, reverse un-normalised
};

// data[k][l] belongs to isotope l of element k of the composition. The
// amounts, fractions and density are taken in single precision.
Results compute_averages(const Composition& c, const std::vector<std::vector<IsotopeData>>& data);

// The same for the entries a composition was matched with.
Results compute_averages(const Composition& c, const std::vector<std::vector<const NuclearEntry*>>& matched);

}  // namespace talvo::classic
