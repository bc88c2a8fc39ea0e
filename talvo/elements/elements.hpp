// The element table: 97 entries, H, D (deuterium), then He to Cm, each with
// its atomic number and mean atomic weight (single precision).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "talvo/elements/constants.hpp"
#include "talvo/result.hpp"

namespace talvo {

struct ElementEntry {
  const char* symbol;
  int z;
  float weight;
};

std::span<const ElementEntry> element_table();

// The position in element_table() of the entry for a symbol, compared
// case-blind as a 2-character field (blank-padded, cut after 2: "fe" and
// "Fe" are Fe); the first entry of a symbol wins. Nothing when no entry has it.
std::optional<std::size_t> find_element(std::string_view symbol);

// The entry of an element symbol of 1 or 2 letters, case-blind ("fe" is Fe;
// "D" is deuterium). kNotFound for any other text: "unknown element symbol
// "Qq"".
Result<ElementEntry> element_named(std::string_view symbol);

// The entry of an atomic number; Z = 1 is H, never D. kNotFound: "no element
// with Z = 0 in the element table (Z = 1 to 96)".
Result<ElementEntry> element_of_z(int z);

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
