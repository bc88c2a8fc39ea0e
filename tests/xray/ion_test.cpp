// Ions: their charges in formulas, their Waasmaier-Kirfel form factors, and
// the averages of formulas written with them.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "talvo/elements/formula.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/xray/xray_average.hpp"

namespace talvo {
namespace {

// Coefficients a1..a5, c, b1..b5 as published (Waasmaier & Kirfel 1995,
// ion table), typed in from the paper's rows.
struct Published {
  std::vector<double> a;
  double c;
  std::vector<double> b;
};
const Published kFe3{{9.721638, 63.403847, 2.141347, 2.629274, 7.033846},
                     -61.930725,
                     {4.869297, 0.000293, 4.867602, 13.539076, 0.338520}};
const Published kO2{
    {3.990247, 2.300563, 0.607200, 1.907882, 1.167080}, 0.025429, {16.639956, 5.636819, 0.108493, 47.299709, 0.379984}};
const Published kAl3{
    {4.132015, 0.912049, 1.102425, 0.614876, 3.219136}, 0.019397, {3.528641, 7.378344, 0.133708, 0.039065, 1.644728}};
const Published kLi1{
    {0.432724, 0.549257, 0.376575, -0.336481, 0.976060}, 0.001764, {0.260367, 1.042836, 7.885294, 0.260368, 3.042539}};

double f_of(const Published& p, double q) {
  const double s = q / (4.0 * 3.14159265358979323846);
  double f = p.c;
  for (std::size_t j = 0; j < p.a.size(); ++j) f += p.a[j] * std::exp(-p.b[j] * s * s);
  return f;
}

TEST(Ions, ChargesInFormulasAreKeptPerElement) {
  const struct {
    const char* text;
    std::vector<std::pair<std::string, std::vector<FormulaCharge>>> want;
  } cases[] = {
      {"Fe{3+}2O{2-}3", {{"Fe", {{3, 2.0}}}, {"O", {{-2, 3.0}}}}},
      {"Fe{2+}Fe{3+}2O{2-}4", {{"Fe", {{2, 1.0}, {3, 2.0}}}, {"O", {{-2, 4.0}}}}},
      {"Na{+}Cl{-}", {{"Na", {{1, 1.0}}}, {"Cl", {{-1, 1.0}}}}},
      {"Fe2O3", {{"Fe", {{0, 2.0}}}, {"O", {{0, 3.0}}}}},
      {"Li[6]{+}F{-}", {{"Li", {{1, 1.0}}}, {"F", {{-1, 1.0}}}}},
      {"(Mg{2+})2Si{4+}O{2-}4", {{"Mg", {{2, 2.0}}}, {"Si", {{4, 1.0}}}, {"O", {{-2, 4.0}}}}},
  };
  for (const auto& t : cases) {
    const Result<Formula> parsed = parse_formula(t.text);
    ASSERT_TRUE(parsed.ok()) << t.text;
    const Formula& f = *parsed;
    ASSERT_EQ(f.elements.size(), t.want.size()) << t.text;
    for (std::size_t i = 0; i < t.want.size(); ++i) {
      EXPECT_EQ(f.elements[i].symbol, t.want[i].first) << t.text;
      ASSERT_EQ(f.elements[i].charges.size(), t.want[i].second.size()) << t.text;
      for (std::size_t k = 0; k < t.want[i].second.size(); ++k) {
        EXPECT_EQ(f.elements[i].charges[k].charge, t.want[i].second[k].charge) << t.text;
        EXPECT_EQ(f.elements[i].charges[k].count, t.want[i].second[k].count) << t.text;
      }
    }
  }
}

TEST(Ions, MalformedChargesAreErrorsThatSayWhere) {
  const struct {
    const char* text;
    ErrorKind kind;
    const char* says;
  } cases[] = {
      {"Fe{3}2O3", ErrorKind::kParseError, "(\"{\" at position 3)"},
      {"Fe{3+2O3", ErrorKind::kParseError, "a charge such as {2+} or {-} expected"},
      {"Fe{}", ErrorKind::kParseError, "a charge such as"},
      {"Fe{0+}", ErrorKind::kOutOfRange, "charge out of range"},
      {"Fe{100+}", ErrorKind::kOutOfRange, "charge out of range"},
      {"{3+}Fe", ErrorKind::kParseError, "an element or \"(\" expected"},
  };
  for (const auto& t : cases) {
    const Result<Formula> f = parse_formula(t.text);
    ASSERT_FALSE(f.ok()) << t.text;
    EXPECT_EQ(f.kind(), t.kind) << t.text << ": " << f.error().message;
    EXPECT_NE(f.error().message.find(t.says), std::string::npos) << f.error().message;
  }
}

TEST(Ions, NeutronMaterialsIgnoreTheCharge) {
  const Result<NeutronTable> table = read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
  ASSERT_TRUE(table.ok());
  MaterialOptions o;
  o.density = 5.24;
  const Result<Material> ions = material_from_formula("Fe{3+}2O{2-}3", *table, o);
  const Result<Material> atoms = material_from_formula("Fe2O3", *table, o);
  ASSERT_TRUE(ions.ok() && atoms.ok());
  EXPECT_EQ(*ions->sld, *atoms->sld);
  EXPECT_EQ(ions->per_atom.sigma_scatt, atoms->per_atom.sigma_scatt);
}

TEST(Ions, FormFactorsAreThePublishedSums) {
  const std::vector<double> q = {0.0, 1.0, 4.0, 12.0, 40.0};
  const struct {
    const char* name;
    const Published& p;
  } cases[] = {{"Fe3+", kFe3}, {"O2-", kO2},  {"Al3+", kAl3}, {"Li+", kLi1},
               {"Li1+", kLi1}, {"li+", kLi1}, {"Fe+3", kFe3}, {"Fe{3+}", kFe3}};
  for (const auto& t : cases) {
    const Result<std::vector<double>> r = form_factor(t.name, q);
    ASSERT_TRUE(r.ok()) << t.name << ": " << r.error().message;
    EXPECT_TRUE(r.warnings().empty()) << t.name;
    for (std::size_t k = 0; k < q.size(); ++k) EXPECT_NEAR((*r)[k], f_of(t.p, q[k]), 1e-11) << t.name << " " << q[k];
  }
  // f(0) is Z less the charge.
  EXPECT_NEAR(form_factor("Fe3+", q)->at(0), 23.0, 0.04);
  EXPECT_NEAR(form_factor("O2-", q)->at(0), 10.0, 0.04);
}

TEST(Ions, UnknownIonsAreErrorsThatNameThem) {
  const double q[] = {1.0};
  const struct {
    const char* name;
    FormFactorTable table;
    const char* says;
  } cases[] = {
      {"Fe5+", FormFactorTable::kWaasmaierKirfel, "the ion Fe5+ (the table has Fe2+, Fe3+)"},
      {"Ne2+", FormFactorTable::kWaasmaierKirfel, "the ion Ne2+ (the table has no ion of Ne)"},
      {"Fe3+", FormFactorTable::kInternationalTables, "ions are in the Waasmaier-Kirfel table only"},
      {"Xx3+", FormFactorTable::kWaasmaierKirfel, "the ion Xx3+"},
      {"Fe3", FormFactorTable::kWaasmaierKirfel, "element Fe3"},
  };
  for (const auto& t : cases) {
    const Result<std::vector<double>> r = form_factor(t.name, q, {.table = t.table});
    ASSERT_FALSE(r.ok()) << t.name;
    EXPECT_EQ(r.kind(), ErrorKind::kNotFound) << t.name;
    EXPECT_NE(r.error().message.find(t.says), std::string::npos) << r.error().message;
  }
}

TEST(Ions, AveragesOfAFormulaWithIons) {
  const std::vector<double> q = {0.0, 2.0, 8.0};
  const Result<XrayAverage> result = xray_average("Al{3+}2O{2-}3", q);
  ASSERT_TRUE(result.ok()) << result.error().message;
  const XrayAverage& r = *result;
  ASSERT_EQ(r.symbols, (std::vector<std::string>{"Al3+", "O2-"}));
  ASSERT_EQ(r.weights.size(), 3u);
  EXPECT_EQ(r.weights[2].pair, "Al3+-O2-");
  for (std::size_t k = 0; k < q.size(); ++k) {
    const double fa = f_of(kAl3, q[k]), fo = f_of(kO2, q[k]);
    EXPECT_NEAR(r.f2[k], 0.4 * fa * fa + 0.6 * fo * fo, 1e-10);
    EXPECT_NEAR(r.f_mean_sq[k], std::pow(0.4 * fa + 0.6 * fo, 2), 1e-10);
  }
  // Two charges of one element are two species; the density still counts atoms by element.
  const Result<XrayAverage> m = xray_average("Fe{2+}Fe{3+}2O{2-}4", q, {.density = 5.17});
  ASSERT_TRUE(m.ok()) << m.error().message;
  EXPECT_EQ(m->symbols, (std::vector<std::string>{"Fe2+", "Fe3+", "O2-"}));
  EXPECT_EQ(m->weights.size(), 6u);
  const Result<XrayAverage> plain = xray_average("Fe3O4", q, {.density = 5.17});
  EXPECT_DOUBLE_EQ(*m->number_density, *plain->number_density);
  const Result<XrayAverage> bad = xray_average("Fe{5+}2O3", q);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.kind(), ErrorKind::kNotFound);
  EXPECT_NE(bad.error().message.find("Fe5+"), std::string::npos) << bad.error().message;
}

}  // namespace
}  // namespace talvo
