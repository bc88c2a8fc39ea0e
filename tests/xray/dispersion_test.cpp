// Anomalous dispersion from the Henke table and Chantler's FFAST, photon
// energies by name, and the X-ray averages and form factors that use them.
#include "talvo/xray/dispersion.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "talvo/xray/xray_average.hpp"

namespace talvo {
namespace {

// Bearden (1967) K alpha 1 of Cu and Mo, keV, as the X-ray Data Booklet lists them.
constexpr double kCuKa1 = 8.04778, kCuKa2 = 8.02783, kMoKa1 = 17.47934;
// h c = 6.62607015e-34 J s * 299792458 m/s / 1.602176634e-19 C, in keV Angstrom.
const double kHc = 6.62607015e-34 * 299792458.0 / 1.602176634e-19 * 1e7;

// A tabulated point of Henke's list (energy eV, f1, f2), typed in from it.
struct Point {
  double e, f1, f2;
};
double loglog(double e, Point a, Point b, double Point::*v) {
  return std::exp(std::log(a.*v) + std::log(e / a.e) / std::log(b.e / a.e) * (std::log(b.*v) - std::log(a.*v)));
}
double z_star(double z) { return z - std::pow(z / 82.5, 2.37); }

TEST(Dispersion, HandValuesBetweenTabulatedPoints) {
  const struct {
    const char* element;
    double z, kev;
    Point lo, hi;
  } cases[] = {
      // Ni at Cu K alpha 1, between the Henke points at 7920.68 and 8048.79 eV.
      {"Ni", 28, kCuKa1, {7920.68, 25.3543, 0.540007}, {8048.79, 25.0030, 0.524024}},
      // Gd at Cu K alpha 1, above its L edges.
      {"Gd", 64, kCuKa1, {8024.91, 54.3808, 13.3181}, {8117.35, 55.3822, 13.0263}},
      {"Si", 14, 8.048, {7923.77, 14.2607, 0.334747}, {8051.94, 14.2558, 0.324605}},
      {"O", 8, kMoKa1, {17386.1, 8.01167, 0.616006E-02}, {17667.4, 8.01124, 0.594073E-02}},
      {"H", 1, kMoKa1, {17386.1, 0.999974, 0.169528E-06}, {17667.4, 0.999974, 0.162895E-06}},
  };
  for (const auto& t : cases) {
    const Result<Dispersion> d = dispersion(t.element, t.kev);
    ASSERT_TRUE(d.ok()) << t.element << ": " << d.error().message;
    const double e = t.kev * 1000.0;
    const double f1 = loglog(e, t.lo, t.hi, &Point::f1), f2 = loglog(e, t.lo, t.hi, &Point::f2);
    EXPECT_NEAR(d->f1, f1, 1e-12 * f1) << t.element;
    EXPECT_NEAR(d->f2, f2, 1e-12 * f2) << t.element;
    EXPECT_NEAR(d->f_prime, f1 - z_star(t.z), 1e-12) << t.element;
    EXPECT_EQ(d->f_double_prime, d->f2);
  }
  // What the field quotes from Henke: Ni f' about -2.9, Gd f'' about 13 at Cu K alpha 1.
  EXPECT_NEAR(dispersion("Ni", kCuKa1)->f_prime, -2.92, 0.01);
  EXPECT_NEAR(dispersion("Gd", kCuKa1)->f_double_prime, 13.24, 0.01);
}

TEST(Dispersion, EdgesStaySteps) {
  // The Ni K edge: 8332.70 eV (f2 0.490893) and 8332.90 eV (f2 3.83905).
  const struct {
    double kev, f2;
  } cases[] = {{8.33270, 0.490893}, {8.33279, 0.490893}, {8.33281, 3.83905}, {8.33290, 3.83905}};
  for (const auto& t : cases) EXPECT_DOUBLE_EQ(dispersion(28, t.kev)->f2, t.f2) << t.kev;
  // 1 eV below and above: the values of the side the energy is on, not a mean.
  EXPECT_LT(dispersion(28, 8.3317)->f2, 0.5);
  EXPECT_GT(dispersion(28, 8.3339)->f2, 3.8);
  // Si's K edge, where the published list has one point out of order.
  EXPECT_LT(dispersion("Si", 1.83882)->f2, 0.37);
  EXPECT_GT(dispersion("Si", 1.83888)->f2, 4.1);
  EXPECT_GT(dispersion("Si", 1.8395)->f2, 4.1);
}

TEST(Dispersion, TabulatedPointsAndEndsAreExact) {
  EXPECT_DOUBLE_EQ(dispersion("Ni", 8.04879)->f1, 25.0030);
  EXPECT_DOUBLE_EQ(dispersion("Ni", 0.0293)->f1, 4.07489);
  EXPECT_TRUE(dispersion("U", 30.0).ok());
}

TEST(Dispersion, OutOfRangeAndBadInputsAreErrorsThatSaySo) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* element;
    double kev;
    ErrorKind kind;
    const char* says;
  } cases[] = {
      {"Ni", 0.005, ErrorKind::kOutOfRange, "outside the tables' 10 eV to 432.9451 keV"},
      {"Ni", 433.0, ErrorKind::kOutOfRange, "433 keV is outside"},
      {"Ni", 0.015, ErrorKind::kOutOfRange, "from 29.3 eV"},
      {"Ni", nan, ErrorKind::kInvalidArgument, "not a number"},
      {"Pu", 8.0, ErrorKind::kOutOfRange, "not Pu (Z = 94)"},
      {"Xx", 8.0, ErrorKind::kNotFound, "unknown element \"Xx\""},
      {"", 8.0, ErrorKind::kNotFound, "unknown element"},
  };
  for (const auto& t : cases) {
    const Result<Dispersion> d = dispersion(t.element, t.kev);
    ASSERT_FALSE(d.ok()) << t.element << " " << t.kev;
    EXPECT_EQ(d.kind(), t.kind) << d.error().message;
    EXPECT_NE(d.error().message.find(t.says), std::string::npos) << d.error().message;
  }
  EXPECT_EQ(dispersion(93, 8.0).kind(), ErrorKind::kOutOfRange);
  EXPECT_EQ(dispersion(0, 8.0).kind(), ErrorKind::kOutOfRange);
}

// Points of Chantler's FFAST files (keV, f1, f2), typed in from them.
TEST(DispersionFfast, HandValuesBetweenTabulatedPoints) {
  const struct {
    int z;
    double kev;
    Point lo, hi;
    double frel, fnt;  // the file's header: frel (3/5 CL) and fNT
  } cases[] = {
      {26, 31.0, {30.01405, 26.2618, 0.30571}, {32.08502, 26.2430, 0.26786}, -0.0678, -6.6403e-3},
      {92, 60.0, {58.49270, 92.0229, 2.1699}, {62.52870, 91.9351, 1.9436}, -1.4940, -1.9507e-2},
  };
  for (const auto& t : cases) {
    const Result<Dispersion> d = dispersion(t.z, t.kev);
    ASSERT_TRUE(d.ok()) << d.error().message;
    EXPECT_EQ(d->table, DispersionTable::kChantlerFfast);
    const double f1 = loglog(t.kev, t.lo, t.hi, &Point::f1), f2 = loglog(t.kev, t.lo, t.hi, &Point::f2);
    EXPECT_NEAR(d->f1, f1, 1e-12 * f1) << t.z;
    EXPECT_NEAR(d->f2, f2, 1e-12 * f2) << t.z;
    // FFAST's f1 holds no relativistic or nuclear Thomson term: f' = f1 - Z.
    EXPECT_EQ(d->z_star, t.z);
    EXPECT_NEAR(d->f_prime, f1 - t.z, 1e-12) << t.z;
    EXPECT_EQ(d->f_rel, t.frel);
    EXPECT_EQ(d->f_nt, t.fnt);
  }
  // The tables' ends and points are exact.
  EXPECT_DOUBLE_EQ(dispersion(8, kFfastMaxKev)->f1, 8.00004);
  EXPECT_DOUBLE_EQ(dispersion(26, 30.01405)->f2, 0.30571);
  // Henke's f_rel is the correction its f1 holds; it has no nuclear term.
  const Dispersion h = *dispersion(92, 20.0);
  EXPECT_NEAR(h.f_rel, -std::pow(92.0 / 82.5, 2.37), 1e-12);
  EXPECT_EQ(h.f_nt, 0.0);
}

TEST(DispersionFfast, EdgesBetweenCoarsePointsAreSteps) {
  // U's K edge at 115.606 keV lies between the points at 115.4905 keV (f2
  // 0.68076) and 116.1841 keV (f2 2.9507): each side keeps its point's value.
  const struct {
    double kev, f2;
  } cases[] = {{115.50, 0.68076}, {115.60, 0.68076}, {115.61, 2.9507}, {116.0, 2.9507}};
  for (const auto& t : cases) EXPECT_DOUBLE_EQ(dispersion(92, t.kev)->f2, t.f2) << t.kev;
  // Fe's K edge (7.112 keV) from FFAST asked for by name: the step is there too.
  EXPECT_LT(dispersion(26, 7.11, DispersionTable::kChantlerFfast)->f2, 0.46);
  EXPECT_GT(dispersion(26, 7.113, DispersionTable::kChantlerFfast)->f2, 3.8);
}

TEST(DispersionFfast, EachEnergyNamesItsTable) {
  const struct {
    double kev;
    DispersionTable asked, made;
    const char* name;
  } cases[] = {
      {30.0, DispersionTable::kAuto, DispersionTable::kHenke93, "henke93"},
      {30.0001, DispersionTable::kAuto, DispersionTable::kChantlerFfast, "chantler-ffast"},
      {60.0, DispersionTable::kAuto, DispersionTable::kChantlerFfast, "chantler-ffast"},
      {8.0, DispersionTable::kChantlerFfast, DispersionTable::kChantlerFfast, "chantler-ffast"},
      {0.011, DispersionTable::kChantlerFfast, DispersionTable::kChantlerFfast, "chantler-ffast"},
  };
  for (const auto& t : cases) {
    const Result<Dispersion> d = dispersion("Fe", t.kev, t.asked);
    ASSERT_TRUE(d.ok()) << t.kev << ": " << d.error().message;
    EXPECT_EQ(d->table, t.made) << t.kev;
    EXPECT_EQ(dispersion_table_name(d->table), t.name);
  }
  EXPECT_EQ(dispersion("Fe", 40.0, DispersionTable::kHenke93).kind(), ErrorKind::kOutOfRange);
  EXPECT_EQ(dispersion("Fe", 433.0, DispersionTable::kChantlerFfast).kind(), ErrorKind::kOutOfRange);
  EXPECT_NE(dispersion("Fe", 0.0005, DispersionTable::kChantlerFfast).error().message.find("from 0.01069 keV"),
            std::string::npos);
}

// Where both tables hold (20-30 keV) they are two calculations of one thing.
// On a 0.25 keV grid over 20-30 keV, away from U's L1 and L2 edges (21.76,
// 20.95 keV, where the two meshes put the f' dip apart and differ by up to
// 4.2 electrons), the largest differences are: f' 0.015 electrons to Ni,
// 0.12 (Ce), 0.22 (Gd), 0.23 (W), 0.31 (Pb, 20.75 keV) and 0.29 (U) (FFAST's
// coarse mesh and the two relativistic estimates); f'' 1.5 % to Ni but for
// H (3.6 %, of 1e-6 electrons) and C (6 %, of 5e-4 electrons), Ce, Gd and U
// (5.6, 9.8 and 8.1 %: there Henke's f'' lies above both FFAST's and
// Scofield's photoabsorption, as xraylib gives it).
TEST(DispersionFfast, AgreesWithHenkeWhereBothHold) {
  const struct {
    int z;
    double f_prime, f2_share;
  } cases[] = {{1, 0.001, 0.02}, {6, 0.001, 0.07}, {8, 0.002, 0.02}, {14, 0.003, 0.02},
               {26, 0.02, 0.02},  {28, 0.02, 0.02}, {58, 0.15, 0.07}, {64, 0.25, 0.11},
               {74, 0.25, 0.025}, {82, 0.35, 0.02}, {92, 0.30, 0.09}};
  for (const auto& t : cases)
    for (const double kev : {20.0, 22.5, 25.0, 27.5, 30.0}) {
      const Dispersion h = *dispersion(t.z, kev, DispersionTable::kHenke93);
      const Dispersion c = *dispersion(t.z, kev, DispersionTable::kChantlerFfast);
      EXPECT_NEAR(c.f_prime, h.f_prime, t.f_prime) << "Z " << t.z << " at " << kev << " keV";
      if (h.f2 > 1e-6) {
        EXPECT_NEAR(c.f2 / h.f2, 1.0, t.f2_share) << "Z " << t.z << " at " << kev << " keV";
      }
    }
}

TEST(Dispersion, EnergiesByAnodeAndWavelength) {
  const struct {
    const char* name;
    double kev;
  } cases[] = {{"Cu", kCuKa1},
               {"CuKa1", kCuKa1},
               {"cu ka1", kCuKa1},
               {"CuKa2", kCuKa2},
               {"Mo", kMoKa1},
               {"Cr", 5.41472},
               {"Co", 6.93032},
               {"Fe", 6.40384},
               {"Ag", 22.16292},
               {"W", 59.31824},
               // K alpha: intensities 2:1, so the mean wavelength is (2 l1 + l2) / 3.
               {"CuKa", kHc / ((2.0 * kHc / kCuKa1 + kHc / kCuKa2) / 3.0)}};
  for (const auto& t : cases) {
    const Result<double> e = anode_energy(t.name);
    ASSERT_TRUE(e.ok()) << t.name;
    EXPECT_NEAR(*e, t.kev, 1e-12) << t.name;
  }
  // Cu K alpha as crystallographers write it: 1.5418 Angstrom.
  EXPECT_NEAR(kHc / *anode_energy("Cu Ka"), 1.5418, 1e-4);
  EXPECT_NEAR(*energy_of_wavelength(1.5406), kHc / 1.5406, 1e-12);
  EXPECT_NEAR(*wavelength_of_energy(kCuKa1), 1.54060, 1e-5);
  for (const char* bad : {"Zn", "CuKb", "", "Cux"}) {
    const Result<double> e = anode_energy(bad);
    ASSERT_FALSE(e.ok()) << bad;
    EXPECT_EQ(e.kind(), ErrorKind::kNotFound);
  }
  EXPECT_NE(anode_energy("CuKb").error().message.find("no line \"Kb\" of the Cu anode"), std::string::npos);
  EXPECT_EQ(energy_of_wavelength(0.0).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(energy_of_wavelength(std::nan("")).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(wavelength_of_energy(-1.0).kind(), ErrorKind::kInvalidArgument);
}

TEST(Dispersion, ComplexFormFactorAddsTheCorrections) {
  const std::vector<double> q = {0.0, 3.0, 10.0};
  const std::vector<double> f0 = *form_factor("Fe3+", q);
  const Result<std::vector<std::complex<double>>> f = form_factor("Fe3+", q, kCuKa1);
  ASSERT_TRUE(f.ok()) << f.error().message;
  const Dispersion d = *dispersion("Fe", kCuKa1);
  for (std::size_t k = 0; k < q.size(); ++k) {
    EXPECT_DOUBLE_EQ((*f)[k].real(), f0[k] + d.f_prime);
    EXPECT_DOUBLE_EQ((*f)[k].imag(), d.f_double_prime);
  }
  EXPECT_NEAR(d.f_double_prime, 3.2, 0.1);  // Fe fluoresces under Cu K alpha
  const struct {
    const char* symbol;
    double kev;
    ErrorKind kind;
  } bad[] = {{"Fe7+", kCuKa1, ErrorKind::kNotFound},
             {"Fe", 440.0, ErrorKind::kOutOfRange},
             {"Cm", kCuKa1, ErrorKind::kOutOfRange},
             {"Fe", std::nan(""), ErrorKind::kInvalidArgument}};
  for (const auto& t : bad) EXPECT_EQ(form_factor(t.symbol, q, t.kev).kind(), t.kind) << t.symbol;
  const double negative[] = {-1.0};
  EXPECT_EQ(form_factor("Fe", negative, kCuKa1).kind(), ErrorKind::kInvalidArgument);
}

TEST(Dispersion, EveryNameOfAnAtomHasItsElementsCorrections) {
  // Valence-bonded C and Si, tritium and ions in any case take their
  // element's f' and f'', as their form factors without an energy exist.
  const std::vector<double> q = {0.0, 2.0};
  const struct {
    const char* name;
    const char* element;
  } cases[] = {{"Cval", "C"}, {"siva", "Si"}, {"T", "H"}, {"D", "H"}, {"fe{3+}", "Fe"}, {"O2-", "O"}};
  for (const auto& c : cases) {
    const Result<Dispersion> d = dispersion(c.name, kCuKa1);
    ASSERT_TRUE(d.ok()) << c.name << ": " << d.error().message;
    EXPECT_EQ(d->f1, dispersion(c.element, kCuKa1)->f1) << c.name;
  }
  for (const char* name : {"Cval", "Siva"}) {
    const std::vector<double> f0 = *form_factor(name, q);
    const Result<std::vector<std::complex<double>>> f = form_factor(name, q, kCuKa1);
    ASSERT_TRUE(f.ok()) << name << ": " << f.error().message;
    const Dispersion d = *dispersion(name[0] == 'C' ? "C" : "Si", kCuKa1);
    EXPECT_DOUBLE_EQ((*f)[1].real(), f0[1] + d.f_prime) << name;
    EXPECT_DOUBLE_EQ((*f)[1].imag(), d.f_double_prime) << name;
  }
  for (const char* bad : {"Cvalx", "Tx", "Fe{3+", "{3+}Fe", ""})
    EXPECT_EQ(dispersion(bad, kCuKa1).kind(), ErrorKind::kNotFound) << bad;
}

TEST(Dispersion, AveragesWithAnEnergyUseTheComplexFormFactors) {
  const std::vector<double> q = {0.0, 2.0, 6.0};
  const XrayAverage plain = *xray_average("Fe{3+}2O{2-}3", q);
  const Result<XrayAverage> result = xray_average("Fe{3+}2O{2-}3", q, {.energy = kCuKa1});
  ASSERT_TRUE(result.ok()) << result.error().message;
  const XrayAverage& r = *result;
  ASSERT_EQ(r.f_prime.size(), 2u);
  const std::complex<double> dfe(dispersion("Fe", kCuKa1)->f_prime, dispersion("Fe", kCuKa1)->f2);
  const std::complex<double> dox(dispersion("O", kCuKa1)->f_prime, dispersion("O", kCuKa1)->f2);
  for (std::size_t k = 0; k < q.size(); ++k) {
    const std::vector<double> qk = {q[k]};
    const std::complex<double> fe = form_factor("Fe3+", qk)->at(0) + dfe, ox = form_factor("O2-", qk)->at(0) + dox;
    EXPECT_NEAR(r.f2[k], 0.4 * std::norm(fe) + 0.6 * std::norm(ox), 1e-9);
    EXPECT_NEAR(r.f_mean_sq[k], std::norm(0.4 * fe + 0.6 * ox), 1e-9);
    // |<f>|^2 < <|f|^2> still, and the weights still add to 1.
    double sum = 0.0;
    for (const XrayPartial& w : r.weights) sum += w.weight[k];
    EXPECT_NEAR(sum, 1.0, 1e-12);
    // Fe's f' lowers the averages below those without dispersion.
    EXPECT_LT(r.f_mean_sq[k], plain.f_mean_sq[k]);
  }
  // Without an energy nothing changes.
  const Result<XrayAverage> again = xray_average("Fe{3+}2O{2-}3", q, {});
  EXPECT_EQ(again->f2, plain.f2);
  EXPECT_TRUE(plain.f_prime.empty());
  const Result<XrayAverage> high = xray_average("SiO2", q, {.energy = 440.0});
  ASSERT_FALSE(high.ok());
  EXPECT_EQ(high.kind(), ErrorKind::kOutOfRange);
  EXPECT_NE(high.error().message.find("440 keV"), std::string::npos) << high.error().message;
  // Above 30 keV the averages take FFAST's f', f'' and say so.
  const Result<XrayAverage> synchrotron = xray_average("SiO2", q, {.energy = 60.0});
  ASSERT_TRUE(synchrotron.ok()) << synchrotron.error().message;
  EXPECT_EQ(synchrotron->f_table, DispersionTable::kChantlerFfast);
  EXPECT_EQ(synchrotron->f_prime[0], dispersion("Si", 60.0)->f_prime);
}

}  // namespace
}  // namespace talvo
