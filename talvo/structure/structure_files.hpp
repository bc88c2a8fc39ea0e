// Structures in PDFfit's .stru format and finite boxes in the xyz format.
#pragma once

#include <string>
#include <string_view>

#include "talvo/result.hpp"
#include "talvo/structure/structure.hpp"

namespace talvo {

// A .stru file: the structure with every atom of the cell listed (no
// operations but the identity), and the model settings PDFfit writes beside it.
struct StruFile {
  Structure structure;
  double scale = 1.0;
  double delta1 = 0.0, delta2 = 0.0;  // the "sharp" line: delta2, delta1, sratio, rcut
  double sratio = 1.0, rcut = 0.0;
  double spdiameter = 0.0;            // the "shape sphere, D" line; 0: none
};

// Reads title, scale, sharp, spcgr, shape, cell and ncell, then after "atoms"
// each atom's 6 lines: "EL x y z occ", their sigmas, U11 U22 U33, sigmas,
// U12 U13 U23, sigmas; U in the frame of the reciprocal axes as in a CIF.
// Errors: kParseError for a line that is not of this format (with its line
// number), kNotFound for an unknown element, kUnsupported for a supercell
// (ncell other than 1, 1, 1), kInvalidArgument for no cell or a structure
// expand() refuses.
Result<StruFile> read_stru_text(std::string_view text, std::string_view source);
Result<StruFile> read_stru(const std::string& file);

// An xyz file: the number of atoms, a comment line, then "EL x y z" lines in
// Angstrom (more columns are ignored): a finite box with no periodicity,
// no displacements. After the atoms come blank lines or the next frames of a
// trajectory (each its count alone on a line, a comment and its atoms): the
// first frame is read, with a warning that gives the number of frames.
// Errors: kParseError (with the line) for fewer atoms than the count or a
// line after them that is neither blank nor a frame's count, kNotFound for
// an unknown element.
Result<Structure> read_xyz_text(std::string_view text, std::string_view source);
Result<Structure> read_xyz(const std::string& file);

// Reads a structure by the file's extension: .cif, .stru or .xyz (any case).
// kUnsupported for another.
Result<StruFile> read_structure(const std::string& file);

}  // namespace talvo
