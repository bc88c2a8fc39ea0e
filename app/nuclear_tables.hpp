// The cross-section and atomic-weight tables read from the data files.
#pragma once

#include <string>
#include <vector>

#include "talvo/console/console.hpp"

namespace talvo {

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

struct AtomicWeight {
  std::string symbol;
  int z = 0;
  int a = 0;
  double mass = 0.0;
};

// Each reader prints the data-file messages and throws RunEnd when the file
// cannot be used.
std::vector<NuclearEntry> read_natural_file(Console& con, const std::string& name);
std::vector<NuclearEntry> read_isotope_file(Console& con, const std::string& name);
std::vector<AtomicWeight> read_atomic_weights(Console& con, const std::string& name);

// Gives every entry the mass of the atomic-weights entry with the same Z and
// mass number (the last such entry wins); without one, warns and uses the
// mass number.
void attach_masses(Console& con, std::vector<NuclearEntry>& entries, const std::vector<AtomicWeight>& weights);

// The entry for a symbol (case-blind) and mass number, or null.
const NuclearEntry* find_entry(const std::vector<NuclearEntry>& entries, const std::string& symbol, int a);

// The " File ...read successfully" and entry-count lines.
void report_loaded(Console& con, const std::string& name, std::size_t count);

}  // namespace talvo
