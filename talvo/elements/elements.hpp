// The element table: 97 entries, H, D (deuterium), then He to Cm, each with
// its atomic number and mean atomic weight (single precision).
#pragma once

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "talvo/elements/constants.hpp"
#include "talvo/status.hpp"

namespace talvo {

struct ElementEntry {
  const char* symbol;
  int z;
  float weight;
};

std::span<const ElementEntry> element_table();

// Symbol to atomic number and weight. TABs in the caller's symbol become
// blanks. The first of the table's entries that matches case-blind wins.
Status ele2z(std::string& symbol, int& z, double& weight, int iprint, std::ostream& out);

// Atomic number to symbol and weight; Z = 1 gives "H", never "D". Symbol and
// weight stay unchanged when there is no entry.
Status z2ele(std::string& symbol, int z, double& weight, int iprint, std::ostream& out);

// Index of the entry for a symbol, or -1; no messages.
int find_element(std::string_view symbol);

// An entry's weight as the published decimal in double precision (the table
// holds the single-precision value nearest to it, whose shortest text it is).
double published_weight(const ElementEntry& entry);

// The mass of one isotope in amu (12C = 12), from the NIST atomic weights and
// isotopic compositions: every isotope of the neutron scattering table (Sears
// 1992), Z = 1 to 96. Nothing for an isotope not listed.
struct IsotopeEntry {
  int z;
  int a;  // mass number
  double mass;
};
std::span<const IsotopeEntry> isotope_table();
std::optional<double> isotope_mass(int z, int a);

}  // namespace talvo
