// Chemical formulas in the notation of the field's Python tools:
//   Ni0.3Ti0.7     decimal counts
//   Ca(OH)2        groups, nested to any depth
//   Li[6]2O        an isotope by its mass number; D and T are H[2] and H[3]
//   CuSO4+5H2O     hydrates and other sums of parts, each with its multiplier
//   Fe{3+}2O{2-}3  ions, the charge in braces after the element (and after its
//                  isotope): {+}, {2+}, {-}, {2-}; only X-ray form factors use it
// Blanks between the parts of a formula are ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

struct FormulaIsotope {
  int a = 0;           // mass number; 0 for the natural element
  double count = 0.0;  // atoms of this isotope in one formula unit
};

struct FormulaCharge {
  int charge = 0;      // in elementary charges; 0 for the neutral atom
  double count = 0.0;  // atoms of the element with this charge in one formula unit
};

// An element of a formula with its isotopes and its charges, which keep the
// order in which they first appear.
struct FormulaElement {
  std::string symbol;  // as in the element table: "H", "Fe" (D and T are "H")
  double count = 0.0;  // all atoms of the element in one formula unit
  std::vector<FormulaIsotope> isotopes;
  std::vector<FormulaCharge> charges;
};

struct Formula {
  std::string text;                      // as given
  std::vector<FormulaElement> elements;  // in order of first appearance
  double atoms() const;
};

// The formula of a text. The error's message names the offending text and
// its position (counted from 1); its kind: kParseError for an empty formula,
// a character or group out of place, a missing ")" or "]"; kNotFound for a
// symbol that is no element; kOutOfRange for a count, mass number or charge
// that is zero, negative or too large.
Result<Formula> parse_formula(std::string_view text);

// The mean mass in amu of one atom of a formula's element: the element
// table's weight for its natural atoms, the isotope table's mass for each
// isotope (D is H[2]: 2.014102). kNotFound names an isotope that is not
// listed ("Li[5]") or an element that is not in the table.
Result<double> atom_mass(const FormulaElement& element);

}  // namespace talvo
