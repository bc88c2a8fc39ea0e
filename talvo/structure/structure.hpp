// A crystal structure: its unit cell, its sites (element or ion, fractional
// position, occupancy, displacement) and its symmetry operations; the full
// cell they expand into, and what each site's symmetry lets move.
//
// Displacements are held as U_cart, the mean-square displacement tensor in
// the Cartesian frame of the cell matrix A (square Angstrom). A CIF's U_ij
// are in the frame of the reciprocal axes: U_cart = M U_cif M^T with
// M = A diag(a*, b*, c*) (Grosse-Kunstleve & Adams, J. Appl. Cryst. 35 (2002) 477).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"
#include "talvo/structure/geometry.hpp"
#include "talvo/structure/symmetry.hpp"

namespace talvo {

// Biso = 8 pi^2 Uiso.
inline constexpr double kBisoPerUiso = 78.95683520871486;

struct UnitCell {
  double a = 1, b = 1, c = 1;              // Angstrom
  double alpha = 90, beta = 90, gamma = 90;  // degrees
  // Columns are the cell vectors: cartesian = A fractional; a along x, b in
  // the xy plane.
  Mat3 A = identity3();
  Mat3 A_inverse = identity3();
  double volume = 1;      // cubic Angstrom
  Vec3 reciprocal{1, 1, 1};  // a*, b*, c* (1/Angstrom, without 2 pi)

  Vec3 cartesian(const Vec3& fractional) const { return A * fractional; }
  Vec3 fractional(const Vec3& cartesian) const { return A_inverse * cartesian; }
  // M = A diag(a*, b*, c*): the CIF's U_ij to U_cart and back.
  Mat3 u_cif_to_cartesian(const Mat3& u_cif) const;
  Mat3 u_cartesian_to_cif(const Mat3& u_cart) const;
};

// The cell of six lengths and angles. kInvalidArgument for a length not above
// 0, an angle not within (0, 180) or angles that make no cell (volume 0 or
// imaginary), each named in the message.
Result<UnitCell> make_cell(double a, double b, double c, double alpha, double beta, double gamma);

struct Site {
  std::string label;    // "Ti1"; the species when the file gives none
  std::string species;  // element or ion as written: "Ti", "O2-"
  std::string element;  // its element's symbol as the element table spells it: "O"
  int z = 0;            // its atomic number
  int charge = 0;
  Vec3 xyz{};            // fractional
  double occupancy = 1.0;
  Mat3 u{};              // U_cart, square Angstrom (all 0: none given)
  bool anisotropic = false;
};

struct Structure {
  std::string name;         // the CIF's block, the .stru title, the xyz comment
  std::string space_group;  // as the file names it, "" when it does not
  UnitCell cell;
  bool periodic = true;     // false: a finite box (xyz), cartesian positions in `cartesian`
  std::vector<Site> sites;  // the asymmetric unit (every atom for P1, a .stru or a box)
  std::vector<SymmetryOperation> operations;  // the identity at least
  std::vector<Vec3> cartesian;  // a box's positions (Angstrom), one a site
};

// The element and charge of a species name ("O2-", "Fe3+", "Ni", "NI",
// "Cd1" as CIF type symbols sometimes carry a number): fills site.element,
// z and charge. kNotFound for a name that starts with no element symbol.
Outcome assign_species(Site& site, std::string_view species);

// U_cart of an isotropic U (the same in every frame).
inline Mat3 isotropic_u(double u) { return u * identity3(); }
// Uiso = trace(U_cart) / 3.
inline double u_equivalent(const Mat3& u) { return (u[0][0] + u[1][1] + u[2][2]) / 3.0; }

// Checks that a displacement tensor is symmetric and positive definite (all
// zero stands for "none given" and passes). kInvalidArgument naming `what`.
Outcome check_displacement(const Mat3& u, std::string_view what);

// One atom of the full cell: site's image.
struct Atom {
  std::size_t site = 0;  // its site in Structure::sites
  Vec3 xyz{};            // fractional, in [0, 1) (for a box: cartesian)
  Vec3 cartesian{};      // Angstrom
  Mat3 u{};              // U_cart
  double occupancy = 1.0;
};

// Every image of every site by the operations, wrapped into [0, 1), images
// of one site within 1e-3 Angstrom of one kept being the same atom; U_cart
// rotated as R_c U R_c^T with R_c = A R A^-1. A box's atoms are its sites.
// kInvalidArgument for an operation that is not an isometry of the cell, two
// sites whose atoms overlap (closer than 0.5 Angstrom with occupancies
// summing above 1) and a displacement that is not positive definite.
Result<std::vector<Atom>> expand(const Structure& structure);

// Checks a structure as expand does, without keeping the atoms.
Outcome check_structure(const Structure& structure);

// The operations that map a site onto itself (modulo whole cells), within
// 1e-3 Angstrom.
std::vector<SymmetryOperation> site_symmetry(const Structure& structure, std::size_t site);

// What the site's symmetry lets move: of its coordinates x, y, z (components
// 0-2), and of its U in the CIF's frame, U11 U22 U33 U12 U13 U23 (0-5).
SiteConstraint position_constraint(const Structure& structure, std::size_t site);
SiteConstraint displacement_constraint(const Structure& structure, std::size_t site);

}  // namespace talvo
