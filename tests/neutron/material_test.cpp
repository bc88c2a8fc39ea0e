// The double-precision material calculation on the shipped table, checked
// against values worked out by hand from the published list (Sears 1992).
#include "talvo/neutron/material.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace talvo {
namespace {

const NeutronTable& table() {
  static const NeutronTable t = [] {
    NeutronTable read;
    EXPECT_TRUE(read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv", read).ok());
    return read;
  }();
  return t;
}

Material material(const std::string& formula, const MaterialOptions& o = {}) {
  Material m;
  const Status s = material_from_formula(formula, table(), o, m);
  EXPECT_TRUE(s.ok()) << formula << ": " << s.message;
  return m;
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
  for (const auto& c : cases) {
    const Material m = material(c.formula);
    const PerAtom& p = m.per_atom;
    EXPECT_NEAR(p.b_coh, c.b_re, 1e-12) << c.formula;
    EXPECT_NEAR(p.b_coh_im, c.b_im, 1e-12) << c.formula;
    EXPECT_NEAR(p.sigma_coh, c.sigma_coh, 1e-12 * c.sigma_scatt) << c.formula;
    EXPECT_NEAR(p.sigma_scatt, c.sigma_scatt, 1e-12 * c.sigma_scatt) << c.formula;
    EXPECT_NEAR(p.sigma_inc, c.sigma_scatt - c.sigma_coh, 1e-11 * c.sigma_scatt) << c.formula;
    EXPECT_NEAR(p.sigma_abs_2200, c.sigma_abs, 1e-12 * c.sigma_abs) << c.formula;
    EXPECT_EQ(p.sigma_abs, p.sigma_abs_2200) << c.formula;  // at 1.798 A
  }
  EXPECT_NEAR(material("Gd2O3").per_atom.sigma_coh, 14.26, 0.005);
  EXPECT_NEAR(material("Gd2O3").elements[0].sigma_coh, 29.31, 0.005);
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
    int code;
    const char* message;
  } cases[] = {
      {"Fe[55]", {}, kMaterialNotInTable, "isotope 55Fe is not in "},
      {"Kr[84]", {}, kMaterialNotInTable, "the table gives no scattering length for isotope 84Kr"},
      {"Pu", {}, kMaterialNotInTable, "element Pu is not in "},
      {"H2O", {0.0, {}, 1.798, {}}, kMaterialBadOption, "the density must be above 0 g/cm3"},
      {"H2O", {-1.0, {}, 1.798, {}}, kMaterialBadOption, "the density must be above 0 g/cm3"},
      {"H2O", {1.0, 0.1, 1.798, {}}, kMaterialBadOption, "give a density or a number density, not both"},
      {"H2O", {{}, {}, 0.0, {}}, kMaterialBadOption, "the wavelength must be above 0 Angstrom"},
      {"H2O", {1.0, {}, 1.798, -1.0}, kMaterialBadOption, "the thickness must not be below 0 cm"},
      {"H2Xx", {}, kFormulaUnknownElement, "formula \"H2Xx\": unknown element"},
  };
  for (const auto& c : cases) {
    Material m;
    const Status s = material_from_formula(c.formula, table(), c.options, m);
    EXPECT_EQ(s.ierr, c.code) << c.formula;
    EXPECT_EQ(s.message.rfind(c.message, 0), 0u) << c.formula << ": " << s.message;
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
