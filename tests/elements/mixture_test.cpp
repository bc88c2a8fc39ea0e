// Mixtures and densities written in the formula, checked against hand values
// with the published masses (Sears 1992: H 1.00797, D 2.014, O 15.9994,
// Na 22.98977, Cl 35.453).
#include "talvo/elements/mixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace talvo {
namespace {

std::optional<double> mass(std::string_view symbol, int a) {
  static const std::map<std::pair<std::string, int>, double> masses = {
      {{"H", 0}, 1.00797}, {{"H", 2}, 2.014},   {{"O", 0}, 15.9994}, {{"Na", 0}, 22.98977},
      {{"Cl", 0}, 35.453}, {{"Fe", 0}, 55.847}, {{"Gd", 0}, 157.25}, {{"Gd", 157}, 156.93396}};
  const auto it = masses.find({std::string(symbol), a});
  if (it == masses.end()) return std::nullopt;
  return it->second;
}

Mixture mix(const std::string& text) {
  const Result<Mixture> m = parse_mixture(text, mass);
  EXPECT_TRUE(m.ok()) << text << ": " << (m.ok() ? "" : m.error().message);
  return m.ok() ? *m : Mixture{};
}

double count(const Mixture& m, const std::string& symbol, int a) {
  for (const FormulaElement& e : m.formula.elements)
    if (e.symbol == symbol)
      for (const FormulaIsotope& iso : e.isotopes)
        if (iso.a == a) return iso.count;
  return 0.0;
}

const double kH2O = 2 * 1.00797 + 15.9994, kD2O = 2 * 2.014 + 15.9994, kNaCl = 22.98977 + 35.453;

TEST(Mixture, DensitiesAndFractions) {
  const double d2o_n = 1.0 * kD2O / kH2O;  // D2O@1n: 1.11170 g/cm3
  const double nacl_20 = (0.2 / kNaCl) / (0.2 / kNaCl + 0.8 / kH2O);
  const double nacl_3 = (3 / kNaCl) / (3 / kNaCl + 97 / kH2O);
  const struct {
    const char* text;
    double density;  // g/cm3; 0: none
    const char* symbol;
    int a;
    double atoms;  // of that isotope per unit of the mixture
  } cases[] = {
      {"D2O@1n", d2o_n, "H", 2, 2.0},
      {"D2O@1.107", 1.107, "H", 2, 2.0},
      {"H2O", 0, "H", 0, 2.0},
      // One formula unit each; the volumes add.
      {"H2O@1 // D2O@1.107", (kH2O + kD2O) / (kH2O / 1 + kD2O / 1.107), "H", 2, 1.0},
      // Equal volumes of H2O and D2O@1n hold equal numbers of molecules.
      {"50%vol H2O@1 // D2O@1n", (1 + d2o_n) / 2, "H", 2, 1.0},
      {"  50%vol   H2O@1//D2O@1n  ", (1 + d2o_n) / 2, "H", 0, 1.0},
      {"20%wt NaCl@2.16 // H2O@1", 1 / (0.2 / 2.16 + 0.8 / 1), "Na", 0, nacl_20},
      {"5 mL H2O@1 // 3 mL D2O@1n", (5 + 3 * d2o_n) / 8, "H", 2, 2 * 3.0 / 8},
      {"250 mg NaCl@2.16 // 0.25 L H2O@1", (0.25 + 250) / (0.25 / 2.16 + 250), "Na", 0,
       (0.25 / kNaCl) / (0.25 / kNaCl + 250 / kH2O)},
      // By mass without every density: the composition, no density.
      {"3 g NaCl // 97 g H2O", 0, "Na", 0, nacl_3},
      {"3 g NaCl@2.16 // 97 g H2O@1", 100 / (3 / 2.16 + 97 / 1.0), "Na", 0, nacl_3},
      // A hydrate's multiplier is no amount.
      {"5H2O", 0, "H", 0, 10.0},
      // A pure element takes the element table's density (Fe 7.874, Gd 7.901 g/cm3), an isotope scaled by mass.
      {"Fe", 7.874, "Fe", 0, 1.0},
      {"Gd[157]", 7.901 * 156.93396 / 157.25, "Gd", 157, 1.0},
      {"Fe@7", 7.0, "Fe", 0, 1.0},
  };
  for (const auto& c : cases) {
    const Mixture m = mix(c.text);
    if (c.density == 0) {
      EXPECT_FALSE(m.density) << c.text;
    } else {
      ASSERT_TRUE(m.density) << c.text;
      EXPECT_NEAR(*m.density, c.density, 1e-12 * c.density) << c.text;
    }
    EXPECT_NEAR(count(m, c.symbol, c.a), c.atoms, 1e-12 * c.atoms) << c.text;
  }
  EXPECT_NEAR(*mix("50%vol H2O@1 // D2O@1n").density, 1.05585, 1e-5);  // (1 + 1.11170) / 2
  // Where a density came from is said, and whether one was typed.
  const Mixture fe = mix("Fe");
  ASSERT_EQ(fe.notes.size(), 1u);
  EXPECT_NE(fe.notes[0].find("7.874 g/cm3 from the element table"), std::string::npos) << fe.notes[0];
  EXPECT_FALSE(fe.density_typed);
  EXPECT_TRUE(mix("H2O@1 // D2O@1n").density_typed);
  // Components and their positions.
  const Mixture two = mix("5 mL H2O@1 // 3 mL D2O@1n");
  ASSERT_EQ(two.components.size(), 2u);
  EXPECT_EQ(two.components[1].text, "3 mL D2O@1n");
  EXPECT_EQ(two.components[1].position, 15u);
  EXPECT_NEAR(two.components[0].units + two.components[1].units, 1.0, 1e-15);
}

TEST(Mixture, IonsKeepTheirChargesAcrossComponents) {
  // 1 g of each: Fe2O3 (159.6922 g/mol) and FeO (71.8464 g/mol), as ions.
  const Mixture m = mix("1 g Fe{3+}2O{2-}3 // 1 g Fe{2+}O{2-}");
  std::map<int, double> fe;
  double o = 0.0;
  for (const FormulaElement& e : m.formula.elements)
    for (const FormulaCharge& ion : e.charges) {
      if (e.symbol == "Fe") fe[ion.charge] += ion.count;
      if (e.symbol == "O") o += ion.count;
    }
  const double a = 1 / (2 * 55.847 + 3 * 15.9994), b = 1 / (55.847 + 15.9994);
  ASSERT_EQ(fe.size(), 2u);
  EXPECT_NEAR(fe[3] / (fe[3] + fe[2]), 2 * a / (2 * a + b), 1e-12);
  EXPECT_NEAR(o / (fe[3] + fe[2]), (3 * a + b) / (2 * a + b), 1e-12);
}

TEST(Mixture, EveryMalformedMixtureSaysWhatAndWhere) {
  const struct {
    const char* text;
    ErrorKind kind;
    const char* message;
  } cases[] = {
      {"60%vol H2O@1 // 50%vol D2O@1 // D2O@1", ErrorKind::kInvalidArgument,
       "component 3 (\"D2O@1\" at position 33): the fractions add up to 110 %, more than 100 %"},
      {"50%vol H2O // D2O@1", ErrorKind::kInvalidArgument,
       "component 1 (\"50%vol H2O\" at position 1): a fraction by volume needs the component's density"},
      {"5 mL H2O@1 // 3 mL D2O", ErrorKind::kInvalidArgument, "component 2 (\"3 mL D2O\" at position 15)"},
      {"50%wt H2O@1 // 50%vol D2O@1", ErrorKind::kInvalidArgument, "needs its fraction in %wt"},
      {"100%vol H2O@1 // D2O@1", ErrorKind::kInvalidArgument, "leave nothing for it"},
      {"40%vol H2O@1 // 40%vol D2O@1", ErrorKind::kInvalidArgument, "add up to 80 %, not 100 %"},
      {"5 g NaCl // H2O", ErrorKind::kInvalidArgument, "component 2 (\"H2O\" at position 13): give an amount"},
      {"H2O // 5 g NaCl", ErrorKind::kInvalidArgument, "component 2"},
      {"H2O@1 // ", ErrorKind::kParseError, "component 2 at position 10 is empty"},
      {"// H2O", ErrorKind::kParseError, "component 1 at position 1 is empty"},
      {"H2O@1 // D2O@x", ErrorKind::kParseError, "component 2 (\"D2O@x\" at position 10): \"@x\" is no density"},
      {"H2O@0", ErrorKind::kInvalidArgument, "the density must be above 0"},
      {"0%vol H2O@1 // D2O@1", ErrorKind::kInvalidArgument, "the amount must be above 0"},
      {"H2O // Xx2", ErrorKind::kNotFound, "component 2 (\"Xx2\" at position 8): formula \"Xx2\": unknown element"},
      {"50%vol @1 // H2O@1", ErrorKind::kParseError, "a formula expected"},
      {"Fe[55]@1n", ErrorKind::kNotFound, "the atomic mass of isotope 55Fe is not known"},
      {"Ca(OH", ErrorKind::kParseError, "formula \"Ca(OH\": missing \")\""},
      {"  ", ErrorKind::kParseError, "empty formula"},
  };
  for (const auto& c : cases) {
    const Result<Mixture> m = parse_mixture(c.text, mass);
    ASSERT_FALSE(m.ok()) << c.text;
    EXPECT_EQ(m.kind(), c.kind) << c.text << ": " << m.error().message;
    EXPECT_NE(m.error().message.find(c.message), std::string::npos) << c.text << ": " << m.error().message;
  }
}

// An error that points into the text carries the position of its character
// (from 1) in the whole text, inside a component as in a lone formula: the
// page puts its caret there.
TEST(Mixture, ErrorsCarryTheirPositionInTheWholeText) {
  const struct {
    const char* text;
    std::size_t position;  // 0: the error points at no one character
  } cases[] = {
      {"H2Qo", 3},                            // the Q of an unknown element
      {"Ca(OH", 3},                           // the "(" left open
      {"  H2O)", 6},                          // blanks before a lone formula count
      {"H2O // Xx2", 8},                      // the second component's formula, from its first character
      {"50%vol H2O@1 //  D2O@1 // Fe(", 29},  // inside the third component, after its amount-free blanks
      {"5 mL H2O@1 // 3 mL D2O", 15},         // the component that lacks its density
      {"H2O@1 // ", 10},                      // the empty component
      {"H2O@1 // D2O@x", 10},                 // a density that is none: its component
      {"40%vol H2O@1 // 40%vol D2O@1", 17},   // fractions that do not add up: the last component
      {"H2O@0", 1},
  };
  for (const auto& c : cases) {
    const Result<Mixture> m = parse_mixture(c.text, mass);
    ASSERT_FALSE(m.ok()) << c.text;
    EXPECT_EQ(m.error().position, c.position) << c.text << ": " << m.error().message;
  }
  // The formula parser counts from the start of what it is given.
  const Result<Formula> f = parse_formula("Fe2O3}");
  ASSERT_FALSE(f.ok());
  EXPECT_EQ(f.error().position, 6u) << f.error().message;
  EXPECT_EQ(parse_formula("").error().position, 0u);
}

}  // namespace
}  // namespace talvo
