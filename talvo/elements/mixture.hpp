// Mixtures and densities in the formula, in the notation periodictable users
// write:
//   D2O@1.107                 a density in g/cm3
//   D2O@1n                    the density of the natural-isotope compound (H2O at 1 g/cm3), scaled by mass
//   H2O@1 // D2O@1.107        one formula unit of each
//   50%vol H2O@1 // D2O@1n    fractions by volume (each component needs a density), the last takes the rest
//   20%wt NaCl@2.16 // H2O@1  fractions by mass
//   5 mL H2O@1 // 3 mL D2O@1n amounts: g, mg, kg by mass; mL, uL, L by volume (these need a density)
// Mixing is ideal: the volumes of the components add. A pure element with no
// density given takes its density from the element table (CRC Handbook).
#pragma once

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/elements/formula.hpp"
#include "talvo/result.hpp"

namespace talvo {

// The mass in amu of an isotope (a > 0) or of the natural element (a = 0), or
// nothing where the caller's table has none.
using MassOf = std::function<std::optional<double>(std::string_view symbol, int a)>;

struct MixtureComponent {
  std::string text;          // as typed, without the blanks around it
  std::size_t position = 0;  // of its first character in the whole text, from 1
  Formula formula;
  double mass =
      std::numeric_limits<double>::quiet_NaN();  // amu per formula unit; NaN for a lone formula that needs none
  std::optional<double> density;                 // g/cm3, given or derived
  double units = 0.0;                            // formula units of the component in one unit of the mixture
};

struct Mixture {
  Formula formula;                // every component together, per unit of the mixture
  std::optional<double> density;  // g/cm3, when every component's volume is known
  bool density_typed = false;     // a density was written in the text ("@"), not only taken from the table
  std::vector<MixtureComponent> components;
  std::vector<std::string> notes;  // where a density came from
};

// The mixture of a text. One component without an amount is its formula as
// parse_formula reads it; the units of several components are scaled so that
// they add up to 1. Errors name the component and its position.
Result<Mixture> parse_mixture(std::string_view text, const MassOf& mass_of);

// The warning of every material given a thickness but no density: it has no
// transmission to give.
inline constexpr std::string_view kThicknessWithoutDensity =
    "a thickness without a density gives no transmission: give a density (@DENSITY in the formula, or --density)";

// The density in g/cm3 of a natural element from the element table, or
// nothing where it is not known.
std::optional<double> element_density(std::string_view symbol);

}  // namespace talvo
