// Element symbols and atomic numbers with the classic interface: symbols as
// 2 blank-padded characters, error numbers and print flags. The modern
// lookups are element_named and element_of_z (talvo/elements/elements.hpp).
#pragma once

#include <iosfwd>
#include <string>

#include "talvo/classic/status.hpp"

namespace talvo::classic {

// Symbol to atomic number and weight (single precision, widened). TABs in
// the caller's symbol become blanks; the symbol is read as 2 characters. The
// first of the table's entries that matches case-blind wins. Error 1
// "ele2z: Unrecognised element symbol: Qq".
Status ele2z(std::string& symbol, int& z, double& weight, int iprint, std::ostream& out);

// Atomic number to symbol (2 characters) and weight; Z = 1 gives "H ", never
// "D ". Symbol and weight stay unchanged when there is no entry (Error 1).
Status z2ele(std::string& symbol, int z, double& weight, int iprint, std::ostream& out);

}  // namespace talvo::classic
