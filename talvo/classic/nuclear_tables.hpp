// The cross-section and atomic-weight tables of the calculator, read from its
// data files, and the matching of a composition against them. The readers
// print nothing: what they found wrong is in their status.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/elements/composition.hpp"
#include "talvo/classic/status.hpp"

namespace talvo::classic {

inline constexpr int kMaxEntries = 400;

// One element (A = 0) or isotope of a cross-section data file.
struct NuclearEntry {
  int z = 0;
  int a = 0;           // mass number; 0 for the natural element
  double mass = 0.0;   // atomic mass, amu
  std::string symbol;  // 2 characters
  float b = 0.0f;      // bound coherent scattering length, fm
  float sig_scatt = 0.0f;
  float sig_abs = 0.0f;
};

struct NuclearTable {
  std::string file;  // the file it was read from, as named
  std::vector<NuclearEntry> entries;
};

struct AtomicWeight {
  std::string symbol;
  int z = 0;
  int a = 0;
  double mass = 0.0;
};

// Codes of the readers and of the matching. The messages are the lines the
// calculator shows (without their leading blank).
enum TableCode {
  kTableMissing = 1,     // "Failure locating file NAME"
  kTableUnreadable = 2,  // "Error reading file NAME": a header or line that does not read
  kTooManyEntries = 3,   // "The data file has more than the maximum allowed number of entries 400"
  kNotInTable = 4,       // "Element Xx is not in NAME" / "Isotope 57Fe is not in NAME"
};

// sears91.dat: a header count, that many lines, then one natural element per
// fixed-column line until the first line that does not fit.
Status read_natural_file(const std::string& name, NuclearTable& table);

// sears.ascii: 38 header lines, then TAB-separated entries (label, abundance,
// b_coh, b_inc, sig_coh, sig_inc, sig_scatt, sig_abs); uncertainties in
// brackets are dropped, the byte 208 reads as "-".
Status read_isotope_file(const std::string& name, NuclearTable& table);

// at_weights.dat: symbol, Z, A and atomic mass in fixed columns.
Status read_atomic_weights(const std::string& name, std::vector<AtomicWeight>& weights);

// Gives every entry the mass of the atomic-weights entry with the same Z and
// mass number (the last such entry wins). An entry without one gets its mass
// number: those entries are returned, in table order, for the caller to warn.
std::vector<const NuclearEntry*> attach_masses(NuclearTable& table, const std::vector<AtomicWeight>& weights);

// The entry for a symbol (case-blind) and mass number, or null.
const NuclearEntry* find_entry(const NuclearTable& table, std::string_view symbol, int a);

// What to say of an element (a = 0) or isotope the table does not hold:
// "Element Xx is not in NAME", "Isotope 57Fe is not in NAME".
std::string not_in_table(const NuclearTable& table, std::string_view symbol, int a);

// The entry of every isotope of the composition, element by element; natural
// elements are looked up with mass number 0. An error names the first
// element or isotope that the table does not hold; `matched` then holds the
// entries found before it.
Status match_composition(const Composition& c, const NuclearTable& table,
                         std::vector<std::vector<const NuclearEntry*>>& matched);

}  // namespace talvo::classic
