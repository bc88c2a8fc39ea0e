// Cells, symmetry, CIF and .stru reading, expansion and site constraints,
// checked on COD's and PDFfit's files and on hand-worked cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

#include "talvo/structure/cif.hpp"
#include "talvo/structure/structure.hpp"
#include "talvo/structure/structure_files.hpp"

namespace talvo {
namespace {

std::string data(const std::string& name) { return std::string(TALVO_TEST_FILES_DIR) + "pdf_model/" + name; }

TEST(StructureCell, VolumeAndMetricOfHandWorkedCells) {
  struct Case {
    double a, b, c, alpha, beta, gamma, volume;
  };
  // Hexagonal: V = a^2 c sqrt(3)/2; monoclinic: abc sin(beta); triclinic by the
  // Gram determinant worked separately.
  const double tri_cos[3] = {std::cos(80 * std::numbers::pi / 180), std::cos(95 * std::numbers::pi / 180),
                             std::cos(100 * std::numbers::pi / 180)};
  const double tri = 3 * 4 * 5 *
                     std::sqrt(1 - tri_cos[0] * tri_cos[0] - tri_cos[1] * tri_cos[1] - tri_cos[2] * tri_cos[2] +
                               2 * tri_cos[0] * tri_cos[1] * tri_cos[2]);
  const Case cases[] = {{4.3, 4.3, 7.02, 90, 90, 120, 4.3 * 4.3 * 7.02 * std::sqrt(3.0) / 2},
                        {5, 6, 7, 90, 110, 90, 5 * 6 * 7 * std::sin(110 * std::numbers::pi / 180)},
                        {3, 4, 5, 80, 95, 100, tri}};
  for (const Case& k : cases) {
    Result<UnitCell> c = make_cell(k.a, k.b, k.c, k.alpha, k.beta, k.gamma);
    ASSERT_TRUE(c.ok());
    EXPECT_NEAR(c->volume, k.volume, 1e-9 * k.volume);
    EXPECT_NEAR(std::fabs(determinant(c->A)), k.volume, 1e-9 * k.volume);
    // The cell vectors' lengths and the angle between b and c.
    const Vec3 a{c->A[0][0], c->A[1][0], c->A[2][0]}, b{c->A[0][1], c->A[1][1], c->A[2][1]},
        cc{c->A[0][2], c->A[1][2], c->A[2][2]};
    EXPECT_NEAR(norm(a), k.a, 1e-12);
    EXPECT_NEAR(norm(cc), k.c, 1e-12);
    EXPECT_NEAR(std::acos(dot(b, cc) / (k.b * k.c)) * 180 / std::numbers::pi, k.alpha, 1e-9);
    // a* = b c sin(alpha) / V.
    EXPECT_NEAR(c->reciprocal[0], k.b * k.c * std::sin(k.alpha * std::numbers::pi / 180) / k.volume, 1e-12);
  }
  EXPECT_EQ(make_cell(0, 1, 1, 90, 90, 90).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(make_cell(1, 1, 1, 90, 90, 180).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(make_cell(1, 1, 1, 120, 120, 120).kind(), ErrorKind::kInvalidArgument);  // flat: volume 0
}

TEST(StructureSymmetry, OperationsInTheirWrittenForms) {
  struct Case {
    const char* text;
    Mat3 r;
    Vec3 t;
  };
  const Case cases[] = {
      {"x,y,z", identity3(), {0, 0, 0}},
      {"-y, x-y, z+1/2", Mat3{Vec3{0, -1, 0}, Vec3{1, -1, 0}, Vec3{0, 0, 1}}, {0, 0, 0.5}},
      {"1/2+X,1/2-Y,-Z", Mat3{Vec3{1, 0, 0}, Vec3{0, -1, 0}, Vec3{0, 0, -1}}, {0.5, 0.5, 0}},
      {"x-y,-y,0.25-z", Mat3{Vec3{1, -1, 0}, Vec3{0, -1, 0}, Vec3{0, 0, -1}}, {0, 0, 0.25}},
      {"2*x,y,z", Mat3{Vec3{2, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}}, {0, 0, 0}},
  };
  for (const Case& k : cases) {
    Result<SymmetryOperation> op = parse_operation(k.text);
    ASSERT_TRUE(op.ok()) << k.text;
    EXPECT_EQ(max_difference(op->r, k.r), 0.0) << k.text;
    for (std::size_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(op->t[i], k.t[i]) << k.text;
  }
  for (const char* bad : {"x,y", "x,y,z,x", "x,,z", "x,y,w", "x,y,1/0", "*x,y,z"})
    EXPECT_EQ(parse_operation(bad).kind(), ErrorKind::kParseError) << bad;
}

TEST(StructureCif, ExpandsTheReferenceCellsToTheirAtoms) {
  struct Case {
    const char* file;
    std::size_t sites, operations, atoms;
    double nearest;  // the shortest interatomic distance, Angstrom
  };
  // fcc: a/sqrt2; wurtzite: the three Cd-Se bonds off the c axis,
  // sqrt(a^2/3 + ((1/2 - z) c)^2); rutile: the apical Ti-O, from Ti at 0 to
  // O at (1/2 - x, x - 1/2, 1/2), sqrt(2 ((1/2 - x) a)^2 + (c/2)^2).
  const double cdse = std::sqrt(4.30 * 4.30 / 3 + std::pow((0.5 - 0.385) * 7.02, 2));
  const double tio2 = std::sqrt(2 * std::pow((0.5 - 0.3051) * 4.60586, 2) + std::pow(2.9544 / 2, 2));
  const Case cases[] = {
      {"Ni.cif", 1, 192, 4, 3.52387 / std::sqrt(2.0)},
      {"CdSe_cadmoselite.cif", 2, 12, 4, cdse},
      {"TiO2_rutile-fit.cif", 2, 16, 6, tio2},
  };
  for (const Case& k : cases) {
    Result<Structure> s = read_cif(data(k.file));
    ASSERT_TRUE(s.ok()) << k.file << ": " << s.error().message;
    EXPECT_EQ(s->sites.size(), k.sites) << k.file;
    EXPECT_EQ(s->operations.size(), k.operations) << k.file;
    Result<std::vector<Atom>> atoms = expand(*s);
    ASSERT_TRUE(atoms.ok()) << atoms.error().message;
    EXPECT_EQ(atoms->size(), k.atoms) << k.file;
    double nearest = 1e9;
    for (const Atom& a : *atoms) {
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_GE(a.xyz[i], 0.0);
        EXPECT_LT(a.xyz[i], 1.0);
      }
      for (const Atom& b : *atoms)
        if (&a != &b) nearest = std::min(nearest, norm(s->cell.cartesian(nearest_image(a.xyz, b.xyz))));
    }
    EXPECT_NEAR(nearest, k.nearest, 2e-3) << k.file;
  }
}

TEST(StructureCif, RutileDisplacementsRotateWithTheirAtoms) {
  Result<Structure> s = read_cif(data("TiO2_rutile-fit.cif"));
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(s->sites[1].anisotropic);
  Result<std::vector<Atom>> atoms = expand(*s);
  ASSERT_TRUE(atoms.ok());
  // O at (x, x, 0) has its U11 = U22 along the cell axes and no U12; the
  // 4-fold screw moves it to (1/2 + x, 1/2 - x, 1/2), where the tensor is
  // the same but for the sign of U12: here, 0, so every O atom keeps the
  // CIF's diagonal 0.021733, 0.021733, 0.007707.
  for (const Atom& a : *atoms) {
    if (a.site != 1) continue;
    EXPECT_NEAR(a.u[0][0], 0.021733, 1e-9);
    EXPECT_NEAR(a.u[2][2], 0.007707, 1e-9);
    EXPECT_NEAR(a.u[0][1], 0.0, 1e-12);
  }
}

// A hexagonal cell whose site has U12 = U11/2 as the 3-fold axis demands;
// the 60-degree rotation of the cell frame leaves U_cart isotropic in the
// plane, which expansion must keep.
TEST(StructureCif, HexagonalSiteConstraintsAndAnisotropicU) {
  const char* cif = R"(data_test
_cell_length_a 4.30(2)
_cell_length_b 4.30
_cell_length_c 7.02
_cell_angle_alpha 90
_cell_angle_beta 90
_cell_angle_gamma 120
loop_
_space_group_symop_operation_xyz
'x,y,z' '-y,x-y,z' '-x+y,-x,z' '-x,-y,z+1/2' 'y,-x+y,z+1/2' 'x-y,x,z+1/2'
'-y,-x,z' '-x+y,y,z' 'x,x-y,z' 'y,x,z+1/2' 'x-y,-y,z+1/2' '-x,-x+y,z+1/2'
loop_
_atom_site_label
_atom_site_type_symbol
_atom_site_fract_x
_atom_site_fract_y
_atom_site_fract_z
Cd1 Cd2+ 0.3333333 0.6666667 0.0
Se1 Se2- 0.3333333 0.6666667 0.385
loop_
_atom_site_aniso_label
_atom_site_aniso_U_11 _atom_site_aniso_U_22 _atom_site_aniso_U_33
_atom_site_aniso_U_12 _atom_site_aniso_U_13 _atom_site_aniso_U_23
Cd1 0.010 0.010 0.020 0.005 0 0
Se1 0.012 0.012 0.018 0.006 0 0
)";
  Result<Structure> s = read_cif_text(cif, "hexagonal");
  ASSERT_TRUE(s.ok()) << s.error().message;
  EXPECT_EQ(s->sites[0].charge, 2);
  EXPECT_EQ(s->sites[1].element, "Se");
  EXPECT_EQ(s->sites[1].charge, -2);
  const SiteConstraint u = displacement_constraint(*s, 0);
  ASSERT_EQ(u.free, (std::vector<int>{0, 2}));  // U11 and U33 move
  // U22 = U11, U12 = U11 / 2, U13 = U23 = 0.
  EXPECT_DOUBLE_EQ(u.basis[0][1], 1.0);
  EXPECT_NEAR(u.basis[0][3], 0.5, 1e-12);
  EXPECT_EQ(u.basis[0][4], 0.0);
  EXPECT_EQ(u.basis[1][2], 1.0);
  EXPECT_EQ(u.rules, (std::vector<std::string>{"U22 = U11", "U12 = 0.5 U11", "U13 = 0", "U23 = 0"}));
  const SiteConstraint x = position_constraint(*s, 0);
  EXPECT_EQ(x.free, (std::vector<int>{2}));  // only z on the 3m axis
  EXPECT_EQ(x.rules, (std::vector<std::string>{"x fixed", "y fixed"}));
  // U11 = U22 = 2 U12 in the CIF frame is isotropic in the plane: U_cart
  // xx = yy = 3/4 U11 ... , and every image keeps it.
  Result<std::vector<Atom>> atoms = expand(*s);
  ASSERT_TRUE(atoms.ok());
  ASSERT_EQ(atoms->size(), 4u);
  for (const Atom& a : *atoms) {
    EXPECT_NEAR(a.u[0][0], a.u[1][1], 1e-12);
    EXPECT_NEAR(a.u[0][1], 0.0, 1e-12);
    EXPECT_NEAR(a.u[2][2], a.site == 0 ? 0.020 : 0.018, 1e-12);
  }
  // Back to the CIF frame.
  const Mat3 back = s->cell.u_cartesian_to_cif(s->sites[0].u);
  EXPECT_NEAR(back[0][1], 0.005, 1e-12);
}

TEST(StructureCif, MirrorSiteKeepsItsCoordinate) {
  Result<Structure> s = read_cif(data("TiO2_rutile-fit.cif"));
  ASSERT_TRUE(s.ok());
  // O at (x, x, 0) in P4_2/mnm: on the mirror z -> -z and the diagonal one.
  const SiteConstraint o = position_constraint(*s, 1);
  EXPECT_EQ(o.free, (std::vector<int>{0}));
  EXPECT_EQ(o.rules, (std::vector<std::string>{"y moves as x", "z fixed"}));
  // Ti at the origin (mmm): nothing moves; its U has U11 = U22, U12 free, U33.
  EXPECT_TRUE(position_constraint(*s, 0).free.empty());
  const SiteConstraint u = displacement_constraint(*s, 0);
  EXPECT_EQ(u.free, (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(site_symmetry(*s, 0).size(), 8u);  // mmm of the 16
  EXPECT_EQ(site_symmetry(*s, 1).size(), 4u);
}

TEST(StructureCif, BlocksUncertaintiesAndMissingValues) {
  const char* two = R"(data_first
_cell_length_a 5 _cell_length_b 5 _cell_length_c 5
loop_ _atom_site_label _atom_site_fract_x _atom_site_fract_y _atom_site_fract_z _atom_site_B_iso_or_equiv
Na1 0 0 0 0.7896(4)
data_second
# a comment; a text field follows
_publ_section_title
;
 A title; with 'quotes'
;
_cell_length_a 4.0(1) _cell_length_b 4.0 _cell_length_c 6.0
_cell_angle_alpha 90 _cell_angle_beta 90 _cell_angle_gamma 90
loop_ _atom_site_label _atom_site_type_symbol _atom_site_fract_x _atom_site_fract_y _atom_site_fract_z
_atom_site_occupancy _atom_site_U_iso_or_equiv
"O 1" O2- 0.25 0.25 0.25 0.5 ?
)";
  Result<Structure> first = read_cif_text(two, "two");
  ASSERT_TRUE(first.ok()) << first.error().message;
  EXPECT_EQ(first->name, "first");
  EXPECT_EQ(first.warnings().size(), 3u);  // three angles taken as 90
  EXPECT_NEAR(first->sites[0].u[0][0], 0.7896 / (8 * std::numbers::pi * std::numbers::pi), 1e-12);
  Result<Structure> second = read_cif_text(two, "two", CifOptions{"data_SECOND"});
  ASSERT_TRUE(second.ok()) << second.error().message;
  EXPECT_EQ(second->sites[0].label, "O 1");
  EXPECT_EQ(second->sites[0].occupancy, 0.5);
  EXPECT_EQ(second->sites[0].u[0][0], 0.0);
  EXPECT_EQ(second->cell.a, 4.0);
  Result<Structure> none = read_cif_text(two, "two", CifOptions{"third"});
  ASSERT_EQ(none.kind(), ErrorKind::kNotFound);
  EXPECT_NE(none.error().message.find("first, second"), std::string::npos);
}

TEST(StructureCif, BadInputSaysWhatIsWrong) {
  struct Case {
    const char* name;
    std::string text;
    ErrorKind kind;
    const char* says;
  };
  const std::string cell = "_cell_length_a 4 _cell_length_b 4 _cell_length_c 4\n"
                           "_cell_angle_alpha 90 _cell_angle_beta 90 _cell_angle_gamma 90\n";
  const std::string sites = "loop_ _atom_site_label _atom_site_fract_x _atom_site_fract_y _atom_site_fract_z\n";
  const std::string ops = "loop_ _symmetry_equiv_pos_as_xyz x,y,z\n";
  const Case cases[] = {
      {"no cell", "data_x\n" + sites + "Ni 0 0 0\n", ErrorKind::kInvalidArgument, "no cell"},
      {"unknown element", "data_x\n" + cell + sites + "Qq1 0 0 0\n", ErrorKind::kNotFound, "Qq1"},
      {"not an isometry",
       "data_x\n" + cell + "loop_ _symmetry_equiv_pos_as_xyz x,y,z 2*x,y,z\n" + sites + "Ni 0.1 0 0\n",
       ErrorKind::kInvalidArgument, "not an isometry"},
      {"overlap", "data_x\n" + cell + sites + "Ni1 0 0 0\nNi2 0.05 0 0\n", ErrorKind::kInvalidArgument, "overlap"},
      {"U not positive definite",
       "data_x\n" + cell + sites + "Ni1 0 0 0\nloop_ _atom_site_aniso_label _atom_site_aniso_U_11 "
       "_atom_site_aniso_U_22 _atom_site_aniso_U_33 Ni1 0.01 -0.01 0.01\n",
       ErrorKind::kInvalidArgument, "positive definite"},
      {"symbol only", "data_x\n" + cell + "_symmetry_space_group_name_H-M 'F m -3 m'\n" + sites + "Ni 0 0 0\n",
       ErrorKind::kUnsupported, "F m -3 m"},
      {"bad number", "data_x\n" + cell + sites + "Ni 0.1.2 0 0\n", ErrorKind::kParseError, "line 5"},
      {"ragged loop", "data_x\n" + cell + sites + "Ni 0 0\n", ErrorKind::kParseError, "whole number of rows"},
      {"no block", cell, ErrorKind::kParseError, "before any data_ block"},
      // A two-letter symbol the table lacks is no one-letter element: californium is not carbon.
      {"unknown two-letter symbol",
       "data_x\n" + cell + "loop_ _atom_site_label _atom_site_type_symbol _atom_site_fract_x _atom_site_fract_y "
       "_atom_site_fract_z\nA1 Cf 0 0 0\n",
       ErrorKind::kNotFound, "no element of the table is called \"Cf\""},
      {"number only", "data_x\n" + cell + "_space_group_IT_number 225\n" + sites + "Ni 0 0 0\n",
       ErrorKind::kUnsupported, "number \"225\""},
      {"rounded special position",
       "data_x\n" + cell + "loop_ _symmetry_equiv_pos_as_xyz x,y,z -x,-y,-z\n" + sites + "Ni1 0.0005 0 0\n",
       ErrorKind::kInvalidArgument, "too few digits"},
      // A tag given twice would let one value silently replace the other: as items, as columns, or as both,
      // in any case of its letters.
      {"item twice", "data_x\n" + cell + "_cell_length_a 5\n" + sites + "Ni 0 0 0\n", ErrorKind::kParseError,
       "line 4: the tag \"_cell_length_a\" is given again in the block data_x (first on line 2)"},
      {"item twice in other case", "data_x\n" + cell + "_CELL_Angle_Gamma 120\n" + sites + "Ni 0 0 0\n",
       ErrorKind::kParseError, "the tag \"_CELL_Angle_Gamma\" is given again in the block data_x (first on line 3)"},
      {"column twice",
       "data_x\n" + cell +
           "loop_ _atom_site_label _atom_site_fract_x _atom_site_fract_y _atom_site_fract_z "
           "_atom_site_label\nNi1 0 0 0 Ni2\n",
       ErrorKind::kParseError, "the tag \"_atom_site_label\" is given again in the block data_x"},
      {"item and column", "data_x\n" + cell + "_atom_site_fract_x 0.5\n" + sites + "Ni 0 0 0\n", ErrorKind::kParseError,
       "line 5: the tag \"_atom_site_fract_x\" is given again in the block data_x (first on line 4)"},
      {"two loops", "data_x\n" + cell + ops + sites + "Ni 0 0 0\n" + ops, ErrorKind::kParseError,
       "the tag \"_symmetry_equiv_pos_as_xyz\" is given again in the block data_x"},
  };
  for (const Case& k : cases) {
    Result<Structure> s = read_cif_text(k.text, "bad.cif");
    ASSERT_FALSE(s.ok()) << k.name;
    EXPECT_EQ(s.kind(), k.kind) << k.name << ": " << s.error().message;
    EXPECT_NE(s.error().message.find(k.says), std::string::npos) << k.name << ": " << s.error().message;
  }
  // Without a type symbol the label names the element, its own letters after it.
  Result<Structure> labelled = read_cif_text("data_x\n" + cell + sites + "Ob1 0 0 0\n", "x");
  ASSERT_TRUE(labelled.ok()) << labelled.error().message;
  EXPECT_EQ(labelled->sites[0].element, "O");
  // Partial occupancies sharing a place are one disordered site, not an overlap.
  Result<Structure> shared = read_cif_text(
      "data_x\n" + cell + sites.substr(0, sites.size() - 1) + " _atom_site_occupancy\nNi1 0 0 0 0.5\nFe1 0 0 0 0.5\n", "x");
  EXPECT_TRUE(shared.ok()) << shared.error().message;
  // Each block names its own tags: the same tag in the next block is no repeat, and the second block
  // is the one that repeats it.
  const std::string two = "data_one\n" + cell + sites + "Ni 0 0 0\ndata_two\n" + cell + sites + "Ni 0 0 0\n";
  EXPECT_TRUE(read_cif_text(two, "x", CifOptions{"two"}).ok());
  Result<Structure> repeated = read_cif_text(two + "_cell_length_c 5\n", "x");
  ASSERT_EQ(repeated.kind(), ErrorKind::kParseError);
  EXPECT_NE(repeated.error().message.find("in the block data_two"), std::string::npos) << repeated.error().message;
}

TEST(StructureStru, ReadsPdffitFilesAndTheirSettings) {
  Result<StruFile> ni = read_stru(data("Ni.stru"));
  ASSERT_TRUE(ni.ok()) << ni.error().message;
  EXPECT_EQ(ni->structure.sites.size(), 4u);
  EXPECT_EQ(ni->structure.sites[0].element, "Ni");
  EXPECT_EQ(ni->structure.sites[0].species, "Ni");  // written "NI"
  EXPECT_EQ(ni->structure.sites[3].label, "Ni4");
  EXPECT_NEAR(ni->structure.sites[2].u[1][1], 0.00126651, 1e-15);
  EXPECT_EQ(ni->structure.cell.a, 3.52);
  Result<StruFile> rutile = read_stru(data("TiO2_rutile-fit.stru"));
  ASSERT_TRUE(rutile.ok()) << rutile.error().message;
  EXPECT_EQ(rutile->delta2, 2.309118);
  EXPECT_EQ(rutile->sratio, 1.0);
  EXPECT_EQ(rutile->structure.space_group, "P42/mnm");
  EXPECT_TRUE(rutile->structure.sites[2].anisotropic);
  EXPECT_NEAR(rutile->structure.sites[2].u[2][2], 0.00770728, 1e-15);
  // The .stru and the CIF of the same refinement agree to the CIF's digits.
  Result<StruFile> cif = read_structure(data("TiO2_rutile-fit.cif"));
  ASSERT_TRUE(cif.ok());
  Result<std::vector<Atom>> a = expand(cif->structure), b = expand(rutile->structure);
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(a->size(), b->size());
  EXPECT_EQ(read_stru_text("title x\ncell 1, 1, 1, 90, 90, 90\nncell 2, 1, 1, 8\natoms\n", "s").kind(),
            ErrorKind::kUnsupported);
  EXPECT_EQ(read_stru_text("title x\natoms\n", "s").kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(read_structure("a.pdb").kind(), ErrorKind::kUnsupported);
}

TEST(StructureXyz, ReadsABox) {
  Result<Structure> box = read_xyz_text("3\nwater\nO 0 0 0\nH 0.9572 0 0 extra\nH -0.24 0.927 0\n", "w.xyz");
  ASSERT_TRUE(box.ok()) << box.error().message;
  EXPECT_FALSE(box->periodic);
  EXPECT_EQ(box->name, "water");
  Result<std::vector<Atom>> atoms = expand(*box);
  ASSERT_TRUE(atoms.ok());
  EXPECT_EQ((*atoms)[1].cartesian[0], 0.9572);
  EXPECT_EQ(read_xyz_text("4\nshort\nO 0 0 0\n", "w.xyz").kind(), ErrorKind::kParseError);
  EXPECT_EQ(read_xyz_text("1\nx\nXx 0 0 0\n", "w.xyz").kind(), ErrorKind::kNotFound);
  for (const char* symbol : {"Cf", "Cx", "Ux"})
    EXPECT_EQ(read_xyz_text(std::string("1\nx\n") + symbol + " 0 0 0\n", "w.xyz").kind(), ErrorKind::kNotFound)
        << symbol;
  // An element in capitals, as PDFfit writes it, and a label's letters after its element's.
  Result<Structure> caps = read_xyz_text("2\nx\nNI 0 0 0\nOW 2 0 0\n", "w.xyz");
  ASSERT_TRUE(caps.ok()) << caps.error().message;
  EXPECT_EQ(caps->sites[0].element, "Ni");
  EXPECT_EQ(caps->sites[1].element, "O");
}

// What may follow the atoms the first line announces: blank lines, or the
// next frames of a trajectory (the first is the structure); nothing else.
TEST(StructureXyz, FramesAndWhatFollowsTheAtoms) {
  struct Case {
    const char* name;
    const char* text;
    std::size_t frames;  // 0: refused
    const char* says;    // in the warning, or in the error
  };
  const Case cases[] = {
      {"blank lines after", "2\nw\nO 0 0 0\nH 1 0 0\n\n  \n", 1, ""},
      {"a trajectory", "2\nt=0\nO 0 0 0\nH 1 0 0\n2\nt=1\nO 0 0 0.1\nH 1 0 0.1\n2\nt=2\nO 0 0 0.2\nH 1 0 0.2\n", 3,
       "w.xyz holds 3 frames, as a trajectory does; the first (2 atoms) is read"},
      // A frame's comment may look like anything, a count included.
      {"comments of numbers", "2\n7\nO 0 0 0\nH 1 0 0\n2\n5\nO 0 0 0.1\nH 1 0 0.1\n", 2, "holds 2 frames"},
      {"a word after", "2\nw\nO 0 0 0\nH 1 0 0\nEND\n", 0, "w.xyz, line 5: \"END\" follows the 2 atoms"},
      {"an atom more than announced", "2\nw\nO 0 0 0\nH 1 0 0\nH 0 1 0\n", 0,
       "line 5: \"H 0 1 0\" follows the 2 atoms the first line announces; it is neither a blank line nor the next "
       "frame's number of atoms"},
      {"a count with more words", "2\nw\nO 0 0 0\nH 1 0 0\n2 atoms\nw\nO 0 0 0\nH 1 0 0\n", 0, "line 5"},
      {"junk after the second frame", "1\nw\nO 0 0 0\n1\nw\nO 0 0 1\nx\n", 0, "line 7: \"x\" follows"},
      // A count no file could list is neither reserved nor converted.
      {"a count of 1e12", "1e12\nw\nO 0 0 0\n", 0, "w.xyz: it announces \"1e12\" atoms and lists 1"},
      {"a count of 1e300", "1e300\nw\nO 0 0 0\n", 0, "announces \"1e300\" atoms and lists 1"},
  };
  for (const Case& k : cases) {
    Result<Structure> box = read_xyz_text(k.text, "w.xyz");
    if (k.frames == 0) {
      ASSERT_FALSE(box.ok()) << k.name;
      EXPECT_EQ(box.kind(), ErrorKind::kParseError) << k.name;
      EXPECT_NE(box.error().message.find(k.says), std::string::npos) << k.name << ": " << box.error().message;
      continue;
    }
    ASSERT_TRUE(box.ok()) << k.name << ": " << box.error().message;
    ASSERT_EQ(box->sites.size(), 2u) << k.name;
    EXPECT_EQ(box->cartesian[1], (Vec3{1, 0, 0})) << k.name;  // the first frame's
    ASSERT_EQ(box.warnings().size(), k.frames > 1 ? 1u : 0u) << k.name;
    if (k.frames > 1) {
      EXPECT_NE(box.warnings()[0].find(k.says), std::string::npos) << k.name << ": " << box.warnings()[0];
    }
  }
  // Read by its extension, the file keeps its warning.
  const std::string file = ::testing::TempDir() + "trajectory.xyz";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("1\na\nNi 0 0 0\n1\nb\nNi 0 0 1\n", f);
  std::fclose(f);
  Result<StruFile> read = read_structure(file);
  std::remove(file.c_str());
  ASSERT_TRUE(read.ok()) << read.error().message;
  ASSERT_EQ(read.warnings().size(), 1u);
  EXPECT_NE(read.warnings()[0].find("holds 2 frames"), std::string::npos) << read.warnings()[0];
}

TEST(StructureCifWriting, UncertaintiesAsCrystallographersWriteThem) {
  struct Case {
    double value, sigma;
    const char* text;
  };
  const Case cases[] = {
      {3.5317537, 0.0000354, "3.53175(4)"}, {0.78742, 0.00138, "0.7874(14)"}, {0.0051957, 0.0000082, "0.005196(8)"},
      {1234.5, 12, "1235(12)"},             {2.5, 0, "2.5"},                  {-0.25, 0.05, "-0.25(5)"},
  };
  for (const Case& k : cases) EXPECT_EQ(value_with_uncertainty(k.value, k.sigma), k.text) << k.value;
}

TEST(StructureCifWriting, ReadsBackTheStructureItWrote) {
  Result<Structure> rutile = read_cif(data("TiO2_rutile-fit.cif"));
  ASSERT_TRUE(rutile.ok());
  Result<std::string> text = cif_text(*rutile, CifUncertainties{{"a", 0.00012}, {"x:O1", 0.0003}});
  ASSERT_TRUE(text.ok()) << text.error().message;
  EXPECT_NE(text->find("_cell_length_a 4.60586(12)"), std::string::npos) << *text;
  EXPECT_NE(text->find(" 0.3051(3) "), std::string::npos) << *text;
  Result<Structure> back = read_cif_text(*text, "written");
  ASSERT_TRUE(back.ok()) << back.error().message << "\n" << *text;
  EXPECT_EQ(back->operations.size(), rutile->operations.size());
  ASSERT_EQ(back->sites.size(), 2u);
  EXPECT_TRUE(back->sites[1].anisotropic);
  EXPECT_LT(max_difference(back->sites[1].u, rutile->sites[1].u), 1e-9);
  EXPECT_EQ(back->sites[1].xyz, rutile->sites[1].xyz);
  Result<std::vector<Atom>> atoms = expand(*back);
  ASSERT_TRUE(atoms.ok());
  EXPECT_EQ(atoms->size(), 6u);
  Result<Structure> box = read_xyz_text("1\nx\nNi 0 0 0\n", "x");
  ASSERT_TRUE(box.ok());
  EXPECT_EQ(cif_text(*box).kind(), ErrorKind::kUnsupported);
}

}  // namespace
}  // namespace talvo
