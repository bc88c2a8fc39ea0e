// The double-precision material calculation on the shipped table, checked
// against values worked out by hand from the published list (Sears 1992).
#include "talvo/neutron/material.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "talvo/elements/mixture.hpp"
#include "talvo/neutron/material_fields.hpp"
#include "talvo/text/format.hpp"

namespace talvo {
namespace {

const NeutronTable& table() {
  static const NeutronTable t = [] {
    Result<NeutronTable> read = read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
    EXPECT_TRUE(read.ok());
    return read.ok() ? std::move(*read) : NeutronTable{};
  }();
  return t;
}

Material material(const std::string& formula, const MaterialOptions& o = {}) {
  Result<Material> m = material_from_formula(formula, table(), o);
  EXPECT_TRUE(m.ok()) << formula << ": " << m.error().message;
  return m.ok() ? std::move(*m) : Material{};
}

double coherent(std::complex<double> b) { return 4 * M_PI * std::norm(b) / 100; }

TEST(Material, PerAtomValuesByHand) {
  const std::complex<double> li6(2.0, -0.261), li7(-2.22, 0), gd(6.5, -13.82), o(5.803, 0);
  const struct {
    const char* formula;
    double b_re, b_im, sigma_coh, sigma_scatt, sigma_abs;
  } cases[] = {
      {"H2O", (2 * -3.739 + 5.803) / 3, 0, (2 * coherent(-3.739) + coherent(o)) / 3, (2 * 82.02 + 4.232) / 3,
       (2 * 0.3326 + 0.00019) / 3},
      {"D2O", (2 * 6.671 + 5.803) / 3, 0, (2 * coherent(6.671) + coherent(o)) / 3, (2 * 7.64 + 4.232) / 3,
       (2 * 0.000519 + 0.00019) / 3},
      // The coherent cross-section of the mixture is that of its complex mean length.
      {"Li[6]0.95Li[7]0.05", 0.95 * 2.0 - 0.05 * 2.22, -0.95 * 0.261, coherent(0.95 * li6 + 0.05 * li7),
       0.95 * 0.97 + 0.05 * 1.4, 0.95 * 940 + 0.05 * 0.0454},
      // |b|^2 of Gd: sigma_coh 29.31 b per Gd, 14.26 b per atom of Gd2O3.
      {"Gd2O3", (2 * 6.5 + 3 * 5.803) / 5, 2 * -13.82 / 5, (2 * coherent(gd) + 3 * coherent(o)) / 5,
       (2 * 180.0 + 3 * 4.232) / 5, (2 * 49700.0 + 3 * 0.00019) / 5},
      // 0.3766 * 14.4 - 0.6234 * 8.7 = -0.00054 fm: a null mixture.
      {"Ni[58]0.3766Ni[62]0.6234", 0.3766 * 14.4 - 0.6234 * 8.7, 0, coherent(0.3766 * 14.4 - 0.6234 * 8.7),
       0.3766 * 26.1 + 0.6234 * 9.5, 0.3766 * 4.6 + 0.6234 * 14.5},
  };
  // The published 2200 m/s list alone, for Gd as for every other nucleus.
  MaterialOptions thermal;
  thermal.energy_dependent = false;
  for (const auto& c : cases) {
    const Material m = material(c.formula, thermal);
    const PerAtom& p = m.per_atom;
    EXPECT_NEAR(p.b_coh, c.b_re, 1e-12) << c.formula;
    EXPECT_NEAR(p.b_coh_im, c.b_im, 1e-12) << c.formula;
    EXPECT_NEAR(p.sigma_coh, c.sigma_coh, 1e-12 * c.sigma_scatt) << c.formula;
    EXPECT_NEAR(p.sigma_scatt, c.sigma_scatt, 1e-12 * c.sigma_scatt) << c.formula;
    EXPECT_NEAR(p.sigma_inc, c.sigma_scatt - c.sigma_coh, 1e-11 * c.sigma_scatt) << c.formula;
    EXPECT_NEAR(p.sigma_abs_2200, c.sigma_abs, 1e-12 * c.sigma_abs) << c.formula;
    EXPECT_EQ(p.sigma_abs, p.sigma_abs_2200) << c.formula;  // at 1.798 A
  }
  EXPECT_NEAR(material("Gd2O3", thermal).per_atom.sigma_coh, 14.26, 0.005);
  EXPECT_NEAR(material("Gd2O3", thermal).elements[0].sigma_coh, 29.31, 0.005);
  EXPECT_LT(material("Ni[58]0.3766Ni[62]0.6234").per_atom.sigma_coh, 1e-6);
}

TEST(Material, FreeAtomValuesUseTheNeutronMass) {
  const Material m = material("Fe");
  const double a = 55.847, f = a / (a + 1.00866491595);
  EXPECT_NEAR(m.per_atom.b_free, 9.45 * f, 1e-12);
  EXPECT_NEAR(m.per_atom.sigma_free, 11.62 * f * f, 1e-12);
}

TEST(Material, WaterWithADensity) {
  MaterialOptions o;
  o.density = 1.0;
  o.thickness = 0.1;
  const Material m = material("H2O", o);
  const double mass = 2 * 1.00797 + 15.9994;
  const double n = 3 * 1.0 / (1.66053906660 * mass);
  ASSERT_TRUE(m.number_density && m.sld && m.mu_total && m.transmission && m.penetration_depth);
  EXPECT_NEAR(*m.number_density, n, 1e-15);
  EXPECT_NEAR(m.mass, mass, 1e-12);
  EXPECT_NEAR(*m.sld, 10 * n * (2 * -3.739 + 5.803) / 3, 1e-13);  // -0.560 in 1e-6 per A^2
  EXPECT_NEAR(*m.sld, -0.5599, 1e-4);
  const double sigma_abs = (2 * 0.3326 + 0.00019) / 3, sigma_scatt = (2 * 82.02 + 4.232) / 3;
  EXPECT_NEAR(*m.sld_im, 0.01 * n * sigma_abs / (2 * 1.798), 1e-17);
  EXPECT_NEAR(*m.mu_abs, n * sigma_abs, 1e-15);
  EXPECT_NEAR(*m.mu_total, n * (sigma_abs + sigma_scatt), 1e-13);
  EXPECT_NEAR(*m.penetration_depth, 1 / *m.mu_total, 1e-15);
  EXPECT_NEAR(*m.transmission, std::exp(-*m.mu_total * 0.1), 1e-15);

  // The same water given by its number density.
  MaterialOptions by_number;
  by_number.number_density = n;
  const Material same = material("H2O", by_number);
  EXPECT_NEAR(*same.density, 1.0, 1e-14);
  EXPECT_NEAR(*same.sld, *m.sld, 1e-14);
  EXPECT_FALSE(same.transmission);    // no thickness
  EXPECT_FALSE(material("H2O").sld);  // no density
}

TEST(Material, AbsorptionScalesWithTheWavelength) {
  MaterialOptions o;
  o.wavelength = 2 * 1.798;
  const Material m = material("B4C", o);
  EXPECT_NEAR(m.per_atom.sigma_abs, 2 * m.per_atom.sigma_abs_2200, 1e-9);
}

TEST(Material, PartialWeightsInElementOrder) {
  const Material m = material("SiO2");
  ASSERT_EQ(m.partials.size(), 3u);
  EXPECT_EQ(m.partials[0].pair, "Si-Si");
  EXPECT_EQ(m.partials[1].pair, "O-O");
  EXPECT_EQ(m.partials[2].pair, "Si-O");
  const double c_si = 1.0 / 3, c_o = 2.0 / 3, b_si = 4.1491, b_o = 5.803;
  const double b2 = std::pow(c_si * b_si + c_o * b_o, 2);
  EXPECT_NEAR(m.partials[2].weight, 2 * c_si * c_o * b_si * b_o / 100, 1e-15);
  EXPECT_NEAR(m.partials[0].faber_ziman, c_si * c_si * b_si * b_si / b2, 1e-14);
  double sum = 0;
  for (const MaterialPartial& p : m.partials) sum += p.faber_ziman;
  EXPECT_NEAR(sum, 1.0, 1e-14);  // the Faber-Ziman weights add to one
}

TEST(Material, ErrorsNameTheProblem) {
  const struct {
    const char* formula;
    MaterialOptions options;
    ErrorKind kind;
    const char* message;
  } cases[] = {
      {"Fe[55]", {}, ErrorKind::kNotFound, "isotope 55Fe is not in "},
      {"Kr[84]", {}, ErrorKind::kNotFound, "the table gives no scattering length for isotope 84Kr"},
      {"Pu", {}, ErrorKind::kNotFound, "element Pu is not in "},
      {"H2O", {0.0, {}, 1.798, {}}, ErrorKind::kInvalidArgument, "the density must be above 0 g/cm3"},
      {"H2O", {-1.0, {}, 1.798, {}}, ErrorKind::kInvalidArgument, "the density must be above 0 g/cm3"},
      {"H2O", {1.0, 0.1, 1.798, {}}, ErrorKind::kInvalidArgument, "give a density or a number density, not both"},
      {"H2O", {{}, {}, 0.0, {}}, ErrorKind::kInvalidArgument, "the wavelength must be above 0 Angstrom"},
      {"H2O", {1.0, {}, 1.798, -1.0}, ErrorKind::kInvalidArgument, "the thickness must not be below 0 cm"},
      {"H2Xx", {}, ErrorKind::kNotFound, "formula \"H2Xx\": unknown element"},
  };
  for (const auto& c : cases) {
    const Result<Material> m = material_from_formula(c.formula, table(), c.options);
    ASSERT_FALSE(m.ok()) << c.formula;
    EXPECT_EQ(m.kind(), c.kind) << c.formula;
    EXPECT_EQ(m.error().message.rfind(c.message, 0), 0u) << c.formula << ": " << m.error().message;
  }
  // An element with a single isotope is found by that isotope too.
  EXPECT_DOUBLE_EQ(material("Be[9]").per_atom.b_coh, 7.79);
}

TEST(Material, JsonHasEveryKeyInOrder) {
  MaterialOptions o;
  o.density = 2.2;
  const std::string json = material_json(material("SiO2", o));
  std::size_t at = 0;
  for (const char* key : {"\"formula\": \"SiO2\"",
                          "\"atoms\": 3",
                          "\"mass\"",
                          "\"wavelength\": 1.798",
                          "\"density\": 2.2",
                          "\"number_density\"",
                          "\"per_atom\": {\"b_coh\"",
                          "\"b_coh_im\": 0",
                          "\"b_free\"",
                          "\"sigma_coh\"",
                          "\"sigma_inc\"",
                          "\"sigma_scatt\"",
                          "\"sigma_free\"",
                          "\"sigma_abs_2200\"",
                          "\"sigma_abs\"",
                          "\"sld\"",
                          "\"sld_im\"",
                          "\"mu_abs\"",
                          "\"mu_scatt\"",
                          "\"mu_total\"",
                          "\"penetration_depth\"",
                          "\"transmission\": null",
                          "\"elements\": [{\"symbol\": \"Si\", \"count\": 1, \"fraction\"",
                          "\"partials\": [{\"pair\": \"Si-Si\", \"weight\""}) {
    const auto found = json.find(key, at);
    ASSERT_NE(found, std::string::npos) << key << " in " << json;
    at = found;
  }
  // Numbers read back to the same doubles.
  const Material m = material("SiO2", o);
  const auto sld_at = json.find("\"sld\": ") + 7;
  EXPECT_EQ(std::stod(json.substr(sld_at)), *m.sld);
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

TEST(Material, PartialWeightsCarryComplexLengths) {
  // Gd2O3 by the 2200 m/s list: Gd-Gd c^2 |b|^2 = 0.16 (6.5^2 + 13.82^2) / 100 = 0.373 barn, not 0.16 * 6.5^2 / 100.
  MaterialOptions thermal;
  thermal.energy_dependent = false;
  const Material m = material("Gd2O3", thermal);
  ASSERT_EQ(m.partials.size(), 3u);
  EXPECT_NEAR(m.partials[0].weight, 0.16 * (6.5 * 6.5 + 13.82 * 13.82) / 100, 1e-12);
  EXPECT_NEAR(m.partials[0].weight, 0.373, 5e-4);
  EXPECT_NEAR(m.partials[2].weight, 2 * 0.4 * 0.6 * 6.5 * 5.803 / 100, 1e-12);  // Re(b_Gd b_O*): O is real
  const std::complex<double> mean = 0.4 * std::complex<double>(6.5, -13.82) + 0.6 * 5.803;
  EXPECT_NEAR(m.partials[0].faber_ziman, 0.16 * std::norm(std::complex<double>(6.5, -13.82)) / std::norm(mean), 1e-12);
  // The Faber-Ziman weights add to one with complex lengths too, at any wavelength.
  for (const double lambda : {0.5, 1.798, 4.0}) {
    MaterialOptions o;
    o.wavelength = lambda;
    double sum = 0;
    for (const MaterialPartial& p : material("Gd2O3", o).partials) sum += p.faber_ziman;
    EXPECT_NEAR(sum, 1.0, 1e-12) << lambda;
  }
}

TEST(Material, WhatTheSldCalculatorPrints) {
  MaterialOptions o;
  o.density = 1.0;
  o.thickness = 0.1;
  const Material m = material("H2O", o);
  const double n = 3 / (1.66053906660 * (2 * 1.00797 + 15.9994));
  const double sigma_coh = (2 * coherent(-3.739) + coherent(5.803)) / 3;
  const double sigma_inc = (2 * 82.02 + 4.232) / 3 - sigma_coh;
  const double sigma_abs = (2 * 0.3326 + 0.00019) / 3;
  ASSERT_TRUE(m.sld_inc && m.absorption_length);
  // sld_inc = 10 n sqrt(100 sigma_inc / (4 pi)), per atom, as the NIST calculator and periodictable define it.
  EXPECT_NEAR(*m.sld_inc, 10 * n * std::sqrt(100 * sigma_inc / (4 * M_PI)), 1e-12);
  EXPECT_NEAR(m.per_formula.sigma_inc, 3 * sigma_inc, 1e-11);
  EXPECT_NEAR(m.per_formula.sigma_abs, 3 * sigma_abs, 1e-14);
  EXPECT_NEAR(*m.absorption_length, 1 / (n * sigma_abs), 1e-9);
  EXPECT_NEAR(*m.penetration_depth, 1 / (n * (sigma_abs + (2 * 82.02 + 4.232) / 3)), 1e-12);
}

TEST(Material, ContrastMatchingWithMixtures) {
  // H2O and D2O@1n have the same molar volume: the SLD of a mixture by volume
  // is the mean of theirs weighted by volume.
  const double n = 3 / (1.66053906660 * (2 * 1.00797 + 15.9994));
  const double h2o = 10 * n * (2 * -3.739 + 5.803) / 3, d2o = 10 * n * (2 * 6.671 + 5.803) / 3;
  EXPECT_NEAR(h2o, -0.5599, 1e-4);
  EXPECT_NEAR(d2o, 6.3998, 1e-4);
  const Result<Material> half = talvo::material("50%vol H2O@1 // D2O@1n", table(), {});
  ASSERT_TRUE(half.ok());
  EXPECT_NEAR(*half->sld, (h2o + d2o) / 2, 1e-12);
  EXPECT_NEAR(*half->sld, 2.920, 5e-4);
  EXPECT_NEAR(*half->density, 1.05585, 1e-5);
  // The D2O fraction that matches an SLD of 2.0 (0.36782 by volume).
  const double x = (2.0 - h2o) / (d2o - h2o);
  EXPECT_NEAR(x, 0.36782, 1e-5);
  const Result<Material> match = talvo::material(shortest(100 * x) + "%vol D2O@1n // H2O@1", table(), {});
  ASSERT_TRUE(match.ok());
  EXPECT_NEAR(*match->sld, 2.0, 1e-12);
  // A density in the formula and another beside it are refused; the same one again is not.
  MaterialOptions o;
  o.density = 1.2;
  EXPECT_EQ(talvo::material("D2O@1.1", table(), o).kind(), ErrorKind::kInvalidArgument);
  o.density = 1.1;
  EXPECT_TRUE(talvo::material("D2O@1.1", table(), o).ok());
  // A pure element takes the table's density, and says so; a compound without one says what it lacks.
  const Result<Material> fe = talvo::material("Fe", table(), {});
  ASSERT_TRUE(fe.ok() && fe->density);
  EXPECT_EQ(*fe->density, 7.874);
  EXPECT_NE(fe->notes.at(0).find("from the element table"), std::string::npos);
  const Result<Material> water = talvo::material("H2O", table(), {});
  ASSERT_TRUE(water.ok());
  EXPECT_FALSE(water->sld);
  EXPECT_TRUE(water.warnings().empty());
  MaterialOptions thin;
  thin.thickness = 0.1;
  const Result<Material> no_density = talvo::material("H2O", table(), thin);
  ASSERT_TRUE(no_density.ok());
  EXPECT_FALSE(no_density->transmission);
  EXPECT_EQ(no_density.warnings(), std::vector<std::string>{std::string(kThicknessWithoutDensity)});
  EXPECT_NE(water->notes.at(0).find("need a density"), std::string::npos);
  // Numbers in notes have the 6 significant digits of the values: (1 + 1.107) / 2 = 1.0535, which
  // doubles hold as 1.0534999999999999; Li[6]'s table density 0.534 g/cm3 scaled by the masses of 6Li
  // and natural Li in the neutron table, 6.01512 / 6.9409, is 0.462775.
  const Result<Material> mixed = talvo::material("50%vol H2O@1 // D2O@1.107", table(), {});
  ASSERT_TRUE(mixed.ok());
  EXPECT_EQ(mixed->notes.back(), "density of the mixture (ideal mixing: volumes add): 1.0535 g/cm3");
  const Result<Material> li6 = talvo::material("Li[6]", table(), {});
  ASSERT_TRUE(li6.ok());
  EXPECT_NE(li6->notes.at(0).find("density of Li[6]: 0.462775 g/cm3 from the element table"), std::string::npos)
      << li6->notes.at(0);
}

TEST(Material, TotalsThatAreNotFiniteAreRefused) {
  // 34 nested groups of 999999999 around H100O100: each element about 1e308 atoms, together past the double range;
  // the formula is refused where its counts leave the range a formula may hold (1e-100 to 1e100).
  std::string two;
  for (int i = 0; i < 34; ++i) two += "(";
  two += "H100O100";
  for (int i = 0; i < 34; ++i) two += ")999999999";
  std::string lead;  // 40 groups around Pb: the count itself is past the range
  for (int i = 0; i < 40; ++i) lead += "(";
  lead += "Pb";
  for (int i = 0; i < 40; ++i) lead += ")999999999";
  for (const std::string& f : {two, lead}) {
    const Result<Material> m = talvo::material(f, table(), {});
    ASSERT_FALSE(m.ok());
    EXPECT_EQ(m.kind(), ErrorKind::kOutOfRange);
    EXPECT_NE(m.error().message.find("beyond 1e-100 to 1e100"), std::string::npos) << m.error().message;
  }
  // A count too large is named as such, not as "must be above 0".
  const Result<Material> big = talvo::material("H99999999999O", table(), {});
  ASSERT_FALSE(big.ok());
  EXPECT_NE(big.error().message.find("is above 1e9"), std::string::npos) << big.error().message;
  // A density whose SLD overflows; amounts of 1e308 in a composition.
  MaterialOptions o;
  o.density = 1e308;
  const Result<Material> dense = talvo::material("H2O", table(), o);
  ASSERT_FALSE(dense.ok());
  EXPECT_EQ(dense.kind(), ErrorKind::kOutOfRange);
  EXPECT_NE(dense.error().message.find("is not finite"), std::string::npos) << dense.error().message;
  Composition c;
  c.kind = SampleKind::kNaturalElements;
  c.elements = {{"H", 1e308, {{0, 1.0}}}, {"O", 1e308, {{0, 1.0}}}};
  const double one[] = {1.798};
  const Result<MaterialSweep> huge = composition_sweep(c, table(), {}, one);
  ASSERT_FALSE(huge.ok());
  EXPECT_NE(huge.error().message.find("number of atoms in the formula is not finite"), std::string::npos);
  const Result<Material> m = compute_material(c, table(), {});
  ASSERT_FALSE(m.ok());
  EXPECT_EQ(m.kind(), ErrorKind::kOutOfRange);
  EXPECT_EQ(m.error().message, huge.error().message);
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

NeutronRow row(int z, int a, const std::string& symbol, double mass, int single_a = 0) {
  NeutronRow r;
  r.z = z;
  r.a = a;
  r.symbol = symbol;
  r.mass = mass;
  r.single_a = single_a;
  return r;
}

// The look-up, on the shipped table and on tables made or changed by hand.
TEST(NeutronTable, FindsTheFirstRowThatFits) {
  const NeutronTable& t = table();
  const NeutronRow* gd = t.find("Gd", 0);
  ASSERT_NE(gd, nullptr);
  EXPECT_EQ(gd->mass, 157.25);
  const NeutronRow* gd157 = t.find("Gd", 157);
  ASSERT_NE(gd157, nullptr);
  EXPECT_EQ(gd157->a, 157);
  // Be is listed by its natural row alone, which stands for 9Be.
  const NeutronRow* be9 = t.find("Be", 9);
  ASSERT_NE(be9, nullptr);
  EXPECT_EQ(be9->a, 0);
  EXPECT_EQ(be9, t.find("Be", 0));
  EXPECT_EQ(t.find("Be", 10), nullptr);
  using namespace std::string_view_literals;
  for (const std::string_view missing : {""sv, "Xx"sv, "G"sv, "Gdd"sv, "Gd\0"sv, "\0"sv, "Unnilseptium"sv})
    EXPECT_EQ(t.find(missing, 0), nullptr) << missing;
  // Every row of the table is found as itself, the first of its kind.
  for (const NeutronRow& r : t.rows) {
    const NeutronRow* found = t.find(r.symbol, r.a);
    ASSERT_NE(found, nullptr) << r.symbol << r.a;
    EXPECT_EQ(found->symbol, r.symbol);
    EXPECT_EQ(found->a, r.a);
  }

  // A table made by hand, never indexed: a natural row standing for its
  // isotope, and an isotope row of its own further on, which wins.
  NeutronTable hand;
  hand.rows = {row(9, 0, "F", 18.998, 19), row(1, 0, "H", 1.008), row(9, 19, "F", 18.9984),
               row(118, 0, "Longname", 294.0)};
  EXPECT_EQ(hand.find("F", 19), &hand.rows[2]);
  EXPECT_EQ(hand.find("F", 0), &hand.rows[0]);
  EXPECT_EQ(hand.find("Longname", 0), &hand.rows[3]);
  hand.index();
  EXPECT_EQ(hand.find("F", 19), &hand.rows[2]);
  EXPECT_EQ(hand.find("Longname", 0), &hand.rows[3]);
  EXPECT_EQ(hand.find("H", 0), &hand.rows[1]);
  // A row added after the index is found; a row changed is found after index().
  hand.rows.push_back(row(3, 6, "Li", 6.015));
  ASSERT_NE(hand.find("Li", 6), nullptr);
  EXPECT_EQ(hand.find("Li", 6)->mass, 6.015);
  hand.index();
  hand.rows[1].symbol = "D";
  hand.rows[1].a = 2;
  hand.index();
  EXPECT_EQ(hand.find("H", 0), nullptr);
  EXPECT_EQ(hand.find("D", 2), &hand.rows[1]);
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

// A sweep keeps what each wavelength alone warns of: the warnings of the
// material at that wavelength, word for word (Gd past its energy-dependent
// table at long wavelengths, Cd below 1 A), and none where it has none.
TEST(MaterialSweep, EachWavelengthKeepsItsOwnWarnings) {
  const NeutronTable& t = table();
  for (const char* formula : {"Gd2O3", "CdTe", "Gd0.5Cd0.5", "H2O"}) {
    MaterialOptions o;
    o.density = 5.0;
    const std::vector<double> wavelengths = {0.5, 1.0, 1.798, 5.0, 12.0, 25.0, 40.0};
    const Result<MaterialSweep> s = material_sweep(formula, t, o, wavelengths);
    ASSERT_TRUE(s.ok()) << formula;
    std::size_t warned = 0;
    for (std::size_t i = 0; i < wavelengths.size(); ++i) {
      o.wavelength = wavelengths[i];
      const Result<Material> one = talvo::material(formula, t, o);
      ASSERT_TRUE(one.ok()) << formula;
      EXPECT_EQ(s->warnings_at(i), one.warnings()) << formula << " at " << wavelengths[i];
      if (!one.warnings().empty()) ++warned;
    }
    // The sweep's own warnings gather them: some for the rare earths and Cd, none for water.
    EXPECT_EQ(s.warnings().empty(), warned == 0) << formula;
    EXPECT_EQ(std::string(formula) == "H2O", warned == 0) << formula;
    EXPECT_TRUE(s->warnings_at(wavelengths.size()).empty());
  }
}

// Every value of the field table is in material_json under its name (the
// table's meaning of a value and the writer's cannot part), and a sweep's
// JSON holds each wavelength's value where the material's JSON holds one.
TEST(MaterialFields, TheJsonIsTheTable) {
  MaterialOptions o;
  o.density = 7.41;
  o.thickness = 0.1;
  const std::vector<double> wavelengths = {1.0, 2.0};
  const Result<MaterialSweep> s = material_sweep("Gd2O3", table(), o, wavelengths);
  ASSERT_TRUE(s.ok());
  for (std::size_t i = 0; i < wavelengths.size(); ++i) {
    const Material m = s->at(i);
    const std::string json = material_json(m);
    for (const MaterialField& f : material_fields()) {
      if (!f.in_json) continue;
      const std::string key = "\"" + std::string(f.name) + "\": ";
      EXPECT_NE(json.find(key), std::string::npos) << f.name;
      const std::optional<double> v = material_value(m, f, 0);
      ASSERT_TRUE(v.has_value()) << f.name;
      if (f.per_wavelength) {
        const std::vector<double> c = material_column(*s, f, 0);
        ASSERT_EQ(c.size(), wavelengths.size()) << f.name;
        EXPECT_EQ(c[i], *v) << f.name;
      }
    }
    EXPECT_EQ(material_field_unit_shown(*find_material_field(MaterialScope::kPerAtom, "sigma_coh")), "barn/atom");
    EXPECT_EQ(material_field_unit_shown(*find_material_field(MaterialScope::kPerFormulaUnit, "sigma_abs")),
              "barn/formula unit");
  }
  // Without a density the values per volume are not known, in the JSON too.
  const Material bare = material("Gd2O3", {});
  for (const MaterialField& f : material_fields()) {
    if (f.scope == MaterialScope::kPerVolume) {
      EXPECT_FALSE(material_value(bare, f).has_value()) << f.name;
    }
  }
}

}  // namespace
}  // namespace talvo
