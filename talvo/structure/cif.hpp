// Crystal structures from CIF, the crystallographers' file (Hall, Allen &
// Brown, Acta Cryst. A47 (1991) 655): the cell, the atom sites with their
// displacements, and the symmetry operations.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "talvo/result.hpp"
#include "talvo/structure/structure.hpp"

namespace talvo {

struct CifOptions {
  // The data block to read, with or without its "data_" (case-blind); empty: the first.
  std::string block;
};

// Reads _cell_length_a/b/c and _cell_angle_alpha/beta/gamma (an angle left
// out is 90, with a warning), the _atom_site_ loop (label, type_symbol,
// fract_x/y/z, occupancy, U_iso_or_equiv or B_iso_or_equiv), the
// _atom_site_aniso_ loop (U_11 ... U_23 or B_11 ... B_23, in the CIF's frame
// of the reciprocal axes), and the operations of _symmetry_equiv_pos_as_xyz or
// _space_group_symop_operation_xyz. Numbers may carry their standard
// uncertainty in parentheses ("4.6059(2)"); "?" and "." are values not given.
// The structure is checked as expand() checks it.
// Errors: kParseError for text that is not CIF, a tag given twice in a block
// (as items, loop columns or both), a number that is not one or an operation
// that is not one (with the line); kInvalidArgument for no cell,
// a bad cell or a structure expand() refuses; kNotFound for an unknown
// element or a block not in the file (the message lists the blocks);
// kUnsupported for a space group named without its operations.
// `source` names the text in messages.
Result<Structure> read_cif_text(std::string_view text, std::string_view source, const CifOptions& options = {});

// The same from a file (kNotFound, kIoError when it cannot be read).
Result<Structure> read_cif(const std::string& file, const CifOptions& options = {});

// A value with its standard uncertainty as CIF writes it: the uncertainty
// to one digit (two when that digit would be 1), the value to the same
// place: 3.5317537 with 0.0000354 is "3.53175(4)"; without an uncertainty
// (0 or not finite) the value to 8 significant digits.
std::string value_with_uncertainty(double value, double sigma);

// The standard uncertainties to write, by name: "a" ... "gamma" and, by a
// site's label, "x:LABEL", "y:LABEL", "z:LABEL", "occ:LABEL", "uiso:LABEL".
using CifUncertainties = std::map<std::string, double, std::less<>>;

// The structure as a CIF data block: the cell, the space group's name and
// its operations, the atom sites (U_iso_or_equiv and, for an anisotropic
// site, the _atom_site_aniso_ loop in the CIF's frame), uncertainties in
// parentheses where given. What read_cif_text reads back to the same
// structure (to the digits written). A box is refused (kUnsupported).
Result<std::string> cif_text(const Structure& structure, const CifUncertainties& sigma = {});

}  // namespace talvo
