// The resonant rare earths at other wavelengths: lengths, absorption and SLD
// against values worked out by hand from the rows of Lynn & Seeger's table
// (At. Data Nucl. Data Tables 44 (1990) 191), typed in below as printed.
#include "talvo/neutron/lengths.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "talvo/neutron/detail/sweep_builds.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/text/format.hpp"

namespace talvo {
namespace {

const NeutronTable& table() {
  static const NeutronTable t = [] {
    NeutronTable read;
    Result<NeutronTable> table = read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
    EXPECT_TRUE(table.ok());
    if (table.ok()) read = std::move(*table);
    return read;
  }();
  return t;
}

// E = 0.286014^2 / lambda^2 eV (the table's own header).
double energy(double lambda) { return 0.286014 * 0.286014 / (lambda * lambda); }

struct Row {
  double e, re, im;
};

std::complex<double> between(Row lo, Row hi, double e) {
  const double t = (e - lo.e) / (hi.e - lo.e);
  return {lo.re + t * (hi.re - lo.re), lo.im + t * (hi.im - lo.im)};
}

TEST(EnergyDependentLengths, SesquioxidesByHand) {
  // X2O3 at the published densities; rows of the natural element bracketing
  // E(0.5 A) = 0.3272 eV, E(1.798 A) = 0.02530 eV, E(5 A) = 0.003272 eV.
  // Sm and Eu are tabulated from 0.01 eV only: at 5 A the 0.01 eV row holds.
  const struct {
    const char* formula;
    double density, mass_x;  // g/cm3, amu (Sears 1992)
    double lambda;
    Row lo, hi;
    bool outside;
  } cases[] = {
      {"Gd2O3", 7.41, 157.25, 0.5, {0.32, 9.29, -0.51}, {0.33, 9.21, -0.48}, false},
      {"Gd2O3", 7.41, 157.25, 1.798, {0.024, 5.14, -13.65}, {0.026, 5.65, -13.76}, false},
      {"Gd2O3", 7.41, 157.25, 5.0, {0.002, 1.04, -10.73}, {0.004, 1.28, -11.07}, false},
      {"Sm2O3", 8.35, 150.36, 0.5, {0.32, 5.47, -0.21}, {0.33, 5.41, -0.2}, false},
      {"Sm2O3", 8.35, 150.36, 1.798, {0.02, 0.96, -1.42}, {0.03, 0.64, -1.79}, false},
      {"Sm2O3", 8.35, 150.36, 5.0, {0.01, 1.24, -1.16}, {0.01, 1.24, -1.16}, true},
      {"Eu2O3", 7.42, 151.96, 0.5, {0.32, 3.75, -3.32}, {0.33, 3.96, -3.4}, false},
      {"Eu2O3", 7.42, 151.96, 1.798, {0.02, 7.22, -1.37}, {0.03, 7.12, -1.15}, false},
      {"Eu2O3", 7.42, 151.96, 5.0, {0.01, 7.28, -1.64}, {0.01, 7.28, -1.64}, true},
  };
  for (const auto& c : cases) {
    const std::complex<double> bx =
        c.outside ? std::complex<double>(c.lo.re, c.lo.im) : between(c.lo, c.hi, energy(c.lambda));
    const double n = 5 * c.density / (1.66053906660 * (2 * c.mass_x + 3 * 15.9994));  // atoms per A^3
    const double b_re = (2 * bx.real() + 3 * 5.803) / 5;
    // Optical theorem: sigma_abs = -2000 lambda Im b barn; O by the 1/v law.
    const double sigma_abs = (2 * -2000 * c.lambda * bx.imag() + 3 * 0.00019 * c.lambda / 1.798) / 5;
    MaterialOptions o;
    o.density = c.density;
    o.wavelength = c.lambda;
    const Result<Material> m = material(c.formula, table(), o);
    ASSERT_TRUE(m.ok()) << c.formula;
    const std::string at = std::string(c.formula) + " at " + std::to_string(c.lambda);
    EXPECT_NEAR(*m->sld, 10 * n * b_re, 1e-3 * std::fabs(10 * n * b_re)) << at;
    EXPECT_NEAR(*m->sld_im, 0.01 * n * sigma_abs / (2 * c.lambda), 1e-3 * 0.01 * n * sigma_abs / (2 * c.lambda)) << at;
    EXPECT_NEAR(*m->mu_abs, n * sigma_abs, 1e-3 * n * sigma_abs) << at;
    EXPECT_EQ(m->elements[0].source, LengthSource::kEnergyDependent) << at;
    // Beyond the table's end the end value, with a warning naming the element and the range.
    ASSERT_EQ(m.warnings().size(), c.outside ? 1u : 0u) << at;
    if (c.outside) {
      EXPECT_EQ(m.warnings()[0].rfind(std::string(c.formula, 2) + ": ", 0), 0u) << m.warnings()[0];
      // Sm is tabulated to 0.5 eV, Eu to 0.6 eV.
      const char* range = c.formula[0] == 'S' ? "0.01-0.5 eV" : "0.01-0.6 eV";
      EXPECT_NE(m.warnings()[0].find(range), std::string::npos) << m.warnings()[0];
    }
  }
}

TEST(EnergyDependentLengths, TheOneOverVLawIsFarOffForGadolinium) {
  // Gd2O3 at 0.5 A: the 1/v law gives about 28 times the absorption, at 5 A
  // the real SLD 3.74 against 2.44 (1e-6 per A^2).
  MaterialOptions o;
  o.density = 7.41;
  o.wavelength = 0.5;
  const Result<Material> resonant = material("Gd2O3", table(), o);
  o.energy_dependent = false;
  const Result<Material> thermal = material("Gd2O3", table(), o);
  ASSERT_TRUE(resonant.ok() && thermal.ok());
  EXPECT_NEAR(*thermal->mu_abs / *resonant->mu_abs, 28.3, 0.5);
  EXPECT_NEAR(*resonant->mu_abs, 12.0, 0.1);
  o.wavelength = 5.0;
  EXPECT_NEAR(*material("Gd2O3", table(), o)->sld, 3.74, 0.01);
  o.energy_dependent = true;
  EXPECT_NEAR(*material("Gd2O3", table(), o)->sld, 2.44, 0.01);
}

TEST(EnergyDependentLengths, IsotopesUseTheirOwnCurves) {
  // 157Gd at 1.798 A: the rows at 0.025 and 0.026 eV of the 157Gd table,
  // against the 2200 m/s list's -1.14 - 71.9i fm. 160Gd has no curve.
  const double e = energy(1.798);
  const Row lo{0.025, -1.53, -71.4}, hi{0.026, -0.21, -71.68};
  const std::complex<double> b157 = between(lo, hi, e);
  const Result<Material> m = material("Gd[157]0.5Gd[160]0.5", table(), {});
  ASSERT_TRUE(m.ok());
  EXPECT_NEAR(m->elements[0].b_coh, 0.5 * b157.real() + 0.5 * 9.15, 1e-3);
  EXPECT_NEAR(m->elements[0].b_coh_im, 0.5 * b157.imag(), 1e-3);
  EXPECT_NEAR(m->elements[0].sigma_abs, 0.5 * -2000 * 1.798 * b157.imag() + 0.5 * 0.77, 0.5);
  // The incoherent cross-section stays the thermal one: 0.5 * (1044 - 650) + 0.5 * 0 plus what the mixing adds.
  const Result<Material> thermal = material("Gd[157]0.5Gd[160]0.5", table(), {{}, {}, 1.798, {}, false});
  ASSERT_TRUE(thermal.ok());
  EXPECT_DOUBLE_EQ(m->elements[0].sigma_inc, thermal->elements[0].sigma_inc);
  EXPECT_NEAR(m->elements[0].sigma_scatt, m->elements[0].sigma_coh + thermal->elements[0].sigma_inc, 1e-9);
}

TEST(EnergyDependentLengths, CurvesAndTheirEnds) {
  const LengthCurve* gd = find_length_curve("Gd", 0);
  ASSERT_NE(gd, nullptr);
  EXPECT_EQ(gd->lowest_energy(), 0.002);
  EXPECT_EQ(gd->highest_energy(), 0.5);
  EXPECT_EQ(find_length_curve("Gd", 160), nullptr);
  EXPECT_EQ(find_length_curve("Cd", 0), nullptr);
  EXPECT_EQ(find_length_curve("Lu", 0), nullptr);  // natural Lu is not tabulated
  EXPECT_NE(find_length_curve("Lu", 176), nullptr);
  // At a tabulated point exactly its values; past either end the end values.
  const CurveValue at = length_at(*gd, neutron_wavelength(0.1));
  EXPECT_NEAR(at.b.real(), 13.49, 1e-9);
  EXPECT_NEAR(at.b.imag(), -5.13, 1e-9);
  const CurveValue fast = length_at(*gd, 0.1), slow = length_at(*gd, 20.0);
  EXPECT_TRUE(fast.outside && slow.outside);
  EXPECT_FALSE(at.outside);
  EXPECT_EQ(slow.b, std::complex<double>(1.04, -10.73));
  EXPECT_NEAR(neutron_energy(1.798), 0.0253, 1e-4);
  EXPECT_NEAR(neutron_wavelength(neutron_energy(3.3)), 3.3, 1e-12);
}

TEST(EnergyDependentLengths, WarningsAndNotes) {
  MaterialOptions o;
  o.wavelength = 0.8;
  const Result<Material> cd = material("CdTe", table(), o);
  ASSERT_TRUE(cd.ok());
  ASSERT_EQ(cd.warnings().size(), 1u);
  EXPECT_NE(cd.warnings()[0].find("Cd: below 1 A"), std::string::npos);
  o.wavelength = 1.2;
  EXPECT_TRUE(material("CdTe", table(), o).warnings().empty());
  // Every resonant element says where its length came from, and that its incoherent part is thermal.
  const Result<Material> gd = material("Gd2O3", table(), {});
  ASSERT_TRUE(gd.ok());
  bool said = false;
  for (const std::string& n : gd->notes) said = said || n.find("Gd: length and absorption from Lynn & Seeger") == 0;
  EXPECT_TRUE(said);
  EXPECT_EQ(gd->elements[1].source, LengthSource::kThermalList);
}

TEST(MaterialSweep, EveryWavelengthAsAloneAndInOrder) {
  MaterialOptions o;
  o.density = 7.41;
  o.thickness = 0.01;
  const double lambdas[] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0};
  const Result<MaterialSweep> s = material_sweep("Gd2O3", table(), o, lambdas);
  ASSERT_TRUE(s.ok());
  ASSERT_EQ(s->size(), 10u);
  for (std::size_t i = 0; i < s->size(); ++i) {
    o.wavelength = lambdas[i];
    const Result<Material> one = material("Gd2O3", table(), o);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(s->wavelength[i], lambdas[i]);
    EXPECT_DOUBLE_EQ(s->sld[i], *one->sld);
    EXPECT_DOUBLE_EQ(s->mu_abs[i], *one->mu_abs);
    EXPECT_DOUBLE_EQ(s->transmission[i], *one->transmission);
    EXPECT_DOUBLE_EQ(s->partials[0].weight[i], one->partials[0].weight);
    const Material row = s->at(i);
    EXPECT_DOUBLE_EQ(*row.sld_inc, *one->sld_inc);
    EXPECT_DOUBLE_EQ(row.elements[0].b_coh_im, one->elements[0].b_coh_im);
  }
  // A copy has its own columns, with the same values.
  MaterialSweep copy = *s;
  copy.sld[0] = 0;
  copy.elements[0].b_coh[9] = 0;
  EXPECT_NE(s->sld[0], 0);
  EXPECT_NE(s->elements[0].b_coh[9], 0);
  EXPECT_EQ(copy.mu_abs[3], s->mu_abs[3]);
  EXPECT_NE(copy.mu_abs.data(), s->mu_abs.data());
  copy = *s;
  EXPECT_EQ(copy.sld[0], s->sld[0]);
  const MaterialSweep moved = std::move(copy);
  EXPECT_EQ(moved.partials[2].faber_ziman[5], s->partials[2].faber_ziman[5]);
  // The material itself is that of the first wavelength.
  EXPECT_EQ(s->material.wavelength, 1.0);
  // Gd is tabulated down to 0.002 eV (6.4 A): one warning for the four beyond it.
  ASSERT_EQ(s.warnings().size(), 1u);
  EXPECT_NE(s.warnings()[0].find("at 7 A to 10 A (4 wavelengths)"), std::string::npos) << s.warnings()[0];
  // No density: the density columns are empty; no wavelength or a bad one is refused.
  const Result<MaterialSweep> bare = material_sweep("Gd2O3", table(), {}, lambdas);
  ASSERT_TRUE(bare.ok());
  EXPECT_TRUE(bare->sld.empty());
  EXPECT_FALSE(material_sweep("Gd2O3", table(), {}, {}).ok());
  const double bad[] = {1.0, -1.0};
  EXPECT_EQ(material_sweep("Gd2O3", table(), {}, bad).kind(), ErrorKind::kInvalidArgument);
}

// The sweep's loops are built once per instruction set; every build gives
// the baseline's columns bit for bit, for wavelength counts that fill no
// register exactly, with and without a density, curves, several isotopes'
// curves of different ranges, and wavelengths beyond the tables.
TEST(MaterialSweep, EveryBuildGivesTheBaselineColumnsBitForBit) {
  using neutron_detail::SweepBuild;
  const std::vector<SweepBuild> builds = neutron_detail::sweep_builds();
  ASSERT_FALSE(builds.empty());
  EXPECT_EQ(builds.front(), SweepBuild::kBaseline);
  const auto same = [](std::span<const double> a, std::span<const double> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
  };
  for (const char* formula : {"Gd2O3", "Yb[168]0.5Yb[174]0.5O1.5", "Gd[155]Gd[157]Sm[149]Cd", "H2O", "Lu[176]2O3"}) {
    for (const std::size_t n : {1u, 3u, 5u, 17u, 203u}) {
      std::vector<double> lambdas(n);
      for (std::size_t i = 0; i < n; ++i)
        lambdas[i] = 0.3 + 12.0 * static_cast<double>((i * 37) % n) / static_cast<double>(n);
      MaterialOptions dense;
      dense.density = 7.41;
      dense.thickness = 0.02;
      MaterialOptions bare;
      for (const MaterialOptions& o : {dense, bare}) {
        const Result<MaterialSweep> base =
            neutron_detail::material_sweep(formula, table(), o, lambdas, SweepBuild::kBaseline);
        ASSERT_TRUE(base.ok()) << formula;
        for (const SweepBuild build : builds) {
          const Result<MaterialSweep> got = neutron_detail::material_sweep(formula, table(), o, lambdas, build);
          ASSERT_TRUE(got.ok());
          const std::string where = std::string(formula) + " n " + std::to_string(n) + " build " +
                                    std::to_string(static_cast<int>(build)) + (o.density ? " dense" : " bare");
          for (const auto& [mine, theirs] : {std::pair{got->sld, base->sld},
                                             {got->sld_im, base->sld_im},
                                             {got->b_coh, base->b_coh},
                                             {got->b_coh_im, base->b_coh_im},
                                             {got->b_free, base->b_free},
                                             {got->sigma_coh, base->sigma_coh},
                                             {got->sigma_scatt, base->sigma_scatt},
                                             {got->sigma_free, base->sigma_free},
                                             {got->sigma_abs, base->sigma_abs},
                                             {got->mu_total, base->mu_total},
                                             {got->absorption_length, base->absorption_length},
                                             {got->penetration_depth, base->penetration_depth},
                                             {got->transmission, base->transmission}})
            EXPECT_TRUE(same(mine, theirs)) << where;
          ASSERT_EQ(got->elements.size(), base->elements.size());
          for (std::size_t k = 0; k < got->elements.size(); ++k) {
            EXPECT_TRUE(same(got->elements[k].b_coh_im, base->elements[k].b_coh_im)) << where;
            EXPECT_TRUE(same(got->elements[k].sigma_abs, base->elements[k].sigma_abs)) << where;
            EXPECT_TRUE(same(got->elements[k].sigma_free, base->elements[k].sigma_free)) << where;
          }
          for (std::size_t k = 0; k < got->partials.size(); ++k)
            EXPECT_TRUE(same(got->partials[k].faber_ziman, base->partials[k].faber_ziman)) << where;
          EXPECT_EQ(got.warnings(), base.warnings()) << where;
        }
        // And each wavelength as it would come alone.
        MaterialOptions one = o;
        one.wavelength = lambdas[n / 2];
        const Result<Material> alone = material(formula, table(), one);
        ASSERT_TRUE(alone.ok());
        EXPECT_EQ(alone->per_atom.sigma_abs, base->sigma_abs[n / 2]) << formula;
        EXPECT_EQ(alone->per_atom.b_coh_im, base->b_coh_im[n / 2]) << formula;
      }
    }
  }
}

// A wavelength outside one or several of an element's curves is counted once:
// 168Yb is tabulated over 0.02-0.8 eV, 174Yb over 0.05-0.55 eV.
TEST(MaterialSweep, WavelengthsOutsideSeveralCurvesCountOnce) {
  const double lambdas[] = {0.5,                       // 0.33 eV: inside both
                            neutron_wavelength(0.03),  // outside 174Yb only
                            neutron_wavelength(0.01),  // outside both
                            neutron_wavelength(0.7)};  // outside 174Yb only
  const Result<MaterialSweep> s = material_sweep("Yb[168]0.5Yb[174]0.5", table(), {}, lambdas);
  ASSERT_TRUE(s.ok());
  ASSERT_EQ(s.warnings().size(), 1u);
  const std::string& w = s.warnings()[0];
  EXPECT_NE(w.find("(3 wavelengths)"), std::string::npos) << w;
  EXPECT_NE(w.find("at " + shortest(neutron_wavelength(0.7)) + " A to " + shortest(neutron_wavelength(0.01)) + " A"),
            std::string::npos)
      << w;
  const double inside[] = {0.5, 0.6};
  EXPECT_TRUE(material_sweep("Yb[168]0.5Yb[174]0.5", table(), {}, inside).warnings().empty());
}

}  // namespace
}  // namespace talvo
