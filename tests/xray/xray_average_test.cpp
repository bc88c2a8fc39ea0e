#include "talvo/xray/xray_average.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <sstream>
#include <vector>

#include "talvo/classic/formfactor.hpp"

namespace talvo {
namespace {

constexpr auto kWk = FormFactorTable::kWaasmaierKirfel;
constexpr auto kIt = FormFactorTable::kInternationalTables;

// Published coefficients, copied here from the papers' tables.
struct Published {
  std::vector<double> a, b;
  double c;
  int z;
};
const Published kSiWk{{5.275329, 3.191038, 1.511514, 1.356849, 2.519114},
                      {2.631338, 33.730728, 0.081119, 86.288643, 1.170087},
                      0.145073,
                      14};
const Published kOWk{{2.960427, 2.508818, 0.637853, 0.722838, 1.142756},
                     {14.182259, 5.936858, 0.112726, 34.958481, 0.390240},
                     0.027014,
                     8};
const Published kSiIt{{6.2915, 3.0353, 1.9891, 1.541}, {2.4386, 32.3337, 0.6785, 81.6937}, 1.1407, 14};
const Published kOIt{{3.0485, 2.2868, 1.5463, 0.867}, {13.2771, 5.7011, 0.3239, 32.9089}, 0.2508, 8};

double f_at_zero(const Published& p) { return std::accumulate(p.a.begin(), p.a.end(), p.c); }

const XrayPartial& pair(const XrayAverage& r, const std::string& name) {
  for (const XrayPartial& w : r.weights)
    if (w.pair == name) return w;
  throw std::runtime_error("no pair " + name);
}

TEST(XrayAverage, SilicaAtZeroFromTheSumOfTheCoefficients) {
  const struct {
    FormFactorTable table;
    const Published& si;
    const Published& o;
  } cases[] = {{kWk, kSiWk, kOWk}, {kIt, kSiIt, kOIt}};
  for (const auto& t : cases) {
    const double q[] = {0.0};
    const Result<XrayAverage> result = xray_average("SiO2", q, {.table = t.table});
    ASSERT_TRUE(result.ok()) << result.error().message;
    const XrayAverage& r = *result;
    const double fsi = f_at_zero(t.si), fo = f_at_zero(t.o);
    EXPECT_NEAR(fsi, t.si.z, 0.06);
    EXPECT_NEAR(fo, t.o.z, 0.06);
    ASSERT_EQ(r.symbols, (std::vector<std::string>{"Si", "O"}));
    EXPECT_DOUBLE_EQ(r.fractions[0], 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(r.f0[0], fsi);
    EXPECT_DOUBLE_EQ(r.f0[1], fo);
    const double mean = (fsi + 2 * fo) / 3;
    EXPECT_DOUBLE_EQ(r.f0_mean, mean);
    EXPECT_DOUBLE_EQ(r.f2[0], (fsi * fsi + 2 * fo * fo) / 3);
    EXPECT_DOUBLE_EQ(r.f_mean_sq[0], mean * mean);
    // Near f = Z: w_SiSi = (14/3)^2 / 10^2, w_OO = (16/3)^2 / 100, w_SiO = 2 (14/3) (16/3) / 100.
    EXPECT_NEAR(pair(r, "Si-Si").weight[0], 0.217778, 1e-4);
    EXPECT_NEAR(pair(r, "O-O").weight[0], 0.284444, 1e-4);
    EXPECT_NEAR(pair(r, "Si-O").weight[0], 0.497778, 1e-4);
    EXPECT_DOUBLE_EQ(pair(r, "Si-Si").weight[0], fsi * fsi / 9 / (mean * mean));
    EXPECT_DOUBLE_EQ(pair(r, "Si-O").weight[0], 2 * fsi * 2 * fo / 9 / (mean * mean));
  }
}

// Values at Q = 20 per Angstrom evaluated to 40 digits from the coefficients
// above (mpmath), and again here by the sum itself.
TEST(XrayAverage, SilicaAtLargeQ) {
  const struct {
    FormFactorTable table;
    const Published& si;
    const Published& o;
    double fsi, fo, f2, f_mean_sq, w_sisi, w_oo, w_sio;
  } cases[] = {
      {kWk, kSiWk, kOWk, 1.5125940600608638, 0.93169453284438184, 1.3413500651985433, 1.2663624517051361,
       0.20074477338623038, 0.30465376598524015, 0.49460146062852947},
      {kIt, kSiIt, kOIt, 1.5104225039268019, 0.93153545968556672, 1.3389642552239033, 1.2644953196704914,
       0.20046435433606669, 0.30499943746647388, 0.49453620819745943},
  };
  for (const auto& t : cases) {
    const double q[] = {20.0};
    const auto by_hand = [](const Published& p) {
      const double s = 20.0 / (4 * 3.141592653589793);
      double f = p.c;
      for (std::size_t j = 0; j < p.a.size(); ++j) f += p.a[j] * std::exp(-p.b[j] * s * s);
      return f;
    };
    EXPECT_NEAR(by_hand(t.si), t.fsi, 1e-14);
    EXPECT_NEAR(by_hand(t.o), t.fo, 1e-14);
    const Result<XrayAverage> result = xray_average("SiO2", q, {.table = t.table});
    ASSERT_TRUE(result.ok()) << result.error().message;
    const XrayAverage& r = *result;
    EXPECT_NEAR(r.f2[0], t.f2, 1e-14);
    EXPECT_NEAR(r.f_mean_sq[0], t.f_mean_sq, 1e-14);
    EXPECT_NEAR(pair(r, "Si-Si").weight[0], t.w_sisi, 1e-14);
    EXPECT_NEAR(pair(r, "O-O").weight[0], t.w_oo, 1e-14);
    EXPECT_NEAR(pair(r, "Si-O").weight[0], t.w_sio, 1e-14);
    const Result<std::vector<double>> fsi = form_factor("Si", q, {.table = t.table});
    ASSERT_TRUE(fsi.ok());
    EXPECT_TRUE(fsi.warnings().empty());
    EXPECT_NEAR((*fsi)[0], t.fsi, 1e-14);
  }
}

TEST(XrayAverage, WeightsAddToOneAndComeInOrder) {
  std::vector<double> q;
  for (int i = 0; i <= 250; ++i) q.push_back(0.1 * i);
  const struct {
    const char* formula;
    std::vector<std::string> pairs;
  } cases[] = {
      {"Fe", {"Fe-Fe"}},
      {"SiO2", {"Si-Si", "O-O", "Si-O"}},
      {"Ca(OH)2", {"Ca-Ca", "O-O", "H-H", "Ca-O", "Ca-H", "O-H"}},
      {"CuSO4+5H2O", {"Cu-Cu", "S-S", "O-O", "H-H", "Cu-S", "Cu-O", "Cu-H", "S-O", "S-H", "O-H"}},
      {"D2O", {"H-H", "O-O", "H-O"}},  // deuterium scatters X-rays as hydrogen does
  };
  for (FormFactorTable table : {kWk, kIt})
    for (const auto& c : cases) {
      const Result<XrayAverage> result = xray_average(c.formula, q, {.table = table});
      ASSERT_TRUE(result.ok()) << c.formula << ": " << result.error().message;
      const XrayAverage& r = *result;
      ASSERT_EQ(r.weights.size(), c.pairs.size()) << c.formula;
      for (std::size_t w = 0; w < c.pairs.size(); ++w) EXPECT_EQ(r.weights[w].pair, c.pairs[w]) << c.formula;
      for (std::size_t k = 0; k < q.size(); ++k) {
        double sum = 0.0;
        for (const XrayPartial& w : r.weights) sum += w.weight[k];
        EXPECT_NEAR(sum, 1.0, 1e-14) << c.formula << " at Q = " << q[k];
        EXPECT_GE(r.f2[k], r.f_mean_sq[k] * (1 - 1e-15)) << c.formula;  // a variance is not negative
      }
    }
  const Result<XrayAverage> heavy = xray_average("D2O", q), light = xray_average("H2O", q);
  EXPECT_EQ(heavy->f2, light->f2);
}

TEST(XrayAverage, DensityGivesT0) {
  const double q[] = {0.0, 1.0};
  // SiO2 at 2.2 g/cm3: n = 2.2 / (1.66053906660 (28.0855 + 2 * 15.9994) / 3), T0 = 4 pi <f(0)>^2 n.
  Result<XrayAverage> r = xray_average("SiO2", q, {.density = 2.2});
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_NEAR(*r->number_density, 0.066150606780365934, 1e-15);
  EXPECT_NEAR(r->f0_mean, 9.999443, 1e-12);
  EXPECT_NEAR(*r->t0, 83.118043992904945, 1e-11);
  // The number density alone gives the same T0 and the density back.
  r = xray_average("SiO2", q, {.number_density = 0.066150606780365934});
  ASSERT_TRUE(r.ok());
  EXPECT_NEAR(*r->t0, 83.118043992904945, 1e-11);
  EXPECT_NEAR(*r->density, 2.2, 1e-14);
  // Heavy water: deuterium's mass 2.014102 (NIST; D and H[2] alike); T0 with <f(0)> of H and O.
  for (const char* heavy : {"D2O", "H[2]2O"}) {
    r = xray_average(heavy, q, {.density = 1.107});
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_NEAR(*r->number_density, 1.107 / (1.66053906660 * (2 * 2.014102 + 15.9994) / 3), 1e-15) << heavy;
  }
  EXPECT_FALSE(xray_average("SiO2", q)->t0.has_value());
  // Any listed isotope has its mass: 7Li 7.016004; a mix of isotopes weighs
  // as its shares (half 6Li 6.015122, half 7Li).
  r = xray_average("Li[7]F", q, {.density = 2.6});
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_NEAR(*r->number_density, 2.6 / (1.66053906660 * (7.016004 + 18.9984) / 2), 1e-15);
  r = xray_average("Li[6]0.5Li[7]0.5F", q, {.density = 2.6});
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_NEAR(*r->number_density, 2.6 / (1.66053906660 * (0.5 * 6.015122 + 0.5 * 7.016004 + 18.9984) / 2), 1e-15);
  // An isotope that is not listed has no mass: a number density does instead.
  r = xray_average("Li[5]F", q, {.density = 2.6});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.kind(), ErrorKind::kNotFound);
  EXPECT_NE(r.error().message.find("Li[5]"), std::string::npos) << r.error().message;
  r = xray_average("Li[5]F", q, {.number_density = 0.12});
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r->t0.has_value());
  EXPECT_FALSE(r->density.has_value());
}

TEST(XrayAverage, Errors) {
  const double q[] = {0.0, 1.0};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* formula;
    std::vector<double> q;
    XrayAverageOptions options;
    ErrorKind kind;
    const char* named;  // text the message must hold
  } cases[] = {
      {"SiQq2", {0.0}, {}, ErrorKind::kNotFound, "\"Qq\""},
      {"", {0.0}, {}, ErrorKind::kParseError, "empty"},
      {"SiO2", {}, {}, ErrorKind::kInvalidArgument, "empty"},
      {"SiO2", {0.0, -1.0}, {}, ErrorKind::kInvalidArgument, "-1"},
      {"SiO2", {nan}, {}, ErrorKind::kInvalidArgument, "nan"},
      {"SiO2", {std::numeric_limits<double>::infinity()}, {}, ErrorKind::kInvalidArgument, "inf"},
      {"SiO2", {0.0}, {.density = 0.0}, ErrorKind::kInvalidArgument, "density"},
      {"SiO2", {0.0}, {.density = 2.2, .number_density = 0.07}, ErrorKind::kInvalidArgument, "not both"},
      {"SiO2", {0.0}, {.number_density = -0.07}, ErrorKind::kInvalidArgument, "number density"},
      // T0 or the density would be inf.
      {"SiO2", {0.0}, {.density = 1e308}, ErrorKind::kInvalidArgument, "the density 1e+308 g/cm3 gives values beyond"},
      {"SiO2",
       {0.0},
       {.number_density = 1e307},
       ErrorKind::kInvalidArgument,
       "the number density 1e+307 gives values beyond"},
      // Counts of groups in groups whose product is inf or 0 (NaN in every average).
      {"((((((((((((H1000000000)1000000000)1000000000)1000000000)1000000000)1000000000)1000000000)1000000000)"
       "1000000000)1000000000)1000000000)1000000000)",
       {0.0},
       {},
       ErrorKind::kOutOfRange,
       "the count of H comes to 1e+108"},
      {"(((((((((((H.0000000001).0000000001).0000000001).0000000001).0000000001).0000000001).0000000001)"
       ".0000000001).0000000001).0000000001).0000000001)O",
       {0.0},
       {},
       ErrorKind::kOutOfRange,
       "the count of H comes to 1e-110"},
  };
  for (const auto& c : cases) {
    const Result<XrayAverage> r = xray_average(c.formula, c.q, c.options);
    ASSERT_FALSE(r.ok()) << c.formula;
    EXPECT_EQ(r.kind(), c.kind) << c.formula << ": " << r.error().message;
    EXPECT_NE(r.error().message.find(c.named), std::string::npos) << r.error().message;
  }
  // D is in the element table but not in the form-factor tables.
  for (FormFactorTable table : {kWk, kIt}) {
    const Result<std::vector<double>> r = form_factor("D", q, {.table = table});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.kind(), ErrorKind::kNotFound);
    EXPECT_EQ(r.error().message, std::string("no ") + (table == kWk ? "Waasmaier-Kirfel" : "International Tables") +
                                     " form-factor coefficients for element D");
  }
  EXPECT_EQ(form_factor("Qq", q).error().message, "no Waasmaier-Kirfel form-factor coefficients for element Qq");
  EXPECT_TRUE(form_factor("Fe", std::vector<double>{})->empty());
  EXPECT_TRUE(form_factor("Fe", std::vector<double>{}).ok());
}

// Forty elements have 40 * 41 / 2 = 820 weights: at 2e5 Q the result would
// be 1.3 GB. It is refused, by the number of values, before memory is taken.
TEST(XrayAverage, AResultTooLargeIsRefusedBeforeMemoryIsTaken) {
  const char* forty = "HHeLiBeBCNOFNeNaMgAlSiPSClArKCaScTiVCrMnFeCoNiCuZnGaGeAsSeBrKrRbSrYZr";
  std::vector<double> q(200000);
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = 1e-4 * static_cast<double>(i);
  const Result<XrayAverage> r = xray_average(forty, q);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.kind(), ErrorKind::kOutOfMemory) << r.error().message;
  EXPECT_NE(r.error().message.find("820 weights at 200000 Q"), std::string::npos) << r.error().message;
  // 2^27 values of which each Q takes 823 (Q, <f^2>, <f>^2 and the weights).
  const auto most = static_cast<std::size_t>(std::floor(134217728.0 / 823));
  EXPECT_NE(r.error().message.find("at most " + std::to_string(most) + " Q"), std::string::npos) << r.error().message;
  // The same formula on fewer Q is computed, its weights adding to 1.
  const Result<XrayAverage> few = xray_average(forty, std::span<const double>(q).first(3));
  ASSERT_TRUE(few.ok()) << few.error().message;
  ASSERT_EQ(few->weights.size(), 820u);
  double sum = 0;
  for (const XrayPartial& w : few->weights) sum += w.weight[2];
  EXPECT_NEAR(sum, 1.0, 1e-13);
}

TEST(XrayAverage, BeyondTheFittedRangeWarns) {
  const struct {
    FormFactorTable table;
    double inside, outside;
    const char* text;
  } cases[] = {
      {kIt, 8 * 3.141592653589793, 25.2,
       "the International Tables coefficients are fitted up to Q = 8 pi = 25.13 per Angstrom "
       "(sin(theta)/lambda = 2): the values up to Q = 25.2 are extrapolated"},
      {kWk, kWkQmax, 80.0,
       "the Waasmaier-Kirfel coefficients are fitted up to Q = 24 pi = 75.40 per Angstrom "
       "(sin(theta)/lambda = 6): the values up to Q = 80 are extrapolated"},
  };
  for (const auto& c : cases) {
    std::vector<double> q = {c.inside, 1.0};
    EXPECT_TRUE(xray_average("SiO2", q, {.table = c.table}).warnings().empty());
    EXPECT_TRUE(form_factor("Si", q, {.table = c.table}).warnings().empty());
    q = {1.0, c.outside, 2.0};  // the largest Q counts, wherever it stands
    const Result<XrayAverage> r = xray_average("SiO2", q, {.table = c.table});
    ASSERT_TRUE(r.ok());  // a warning is no failure: the values are there
    EXPECT_EQ(r.warnings(), std::vector<std::string>{c.text});
    EXPECT_EQ(r->f2.size(), 3u);
    const Result<std::vector<double>> f = form_factor("Si", q, {.table = c.table});
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.warnings(), std::vector<std::string>{c.text});
    EXPECT_EQ(f->size(), 3u);
  }
}

TEST(FormFactorDouble, AgreesWithFoqToSinglePrecision) {
  std::vector<double> q;
  for (int i = 0; i <= 750; ++i) q.push_back(0.1 * i);
  std::vector<double> single(q.size());
  std::ostringstream out;
  for (FormFactorTable table : {kWk, kIt})
    for (const char* sym : {"H", "C", "Fe", "U", "cf"}) {
      const Result<std::vector<double>> r = form_factor(sym, q, {.table = table});
      ASSERT_TRUE(r.ok()) << sym;
      const std::vector<double>& f = *r;
      FormFactorParams p;
      using classic::FoqMode;
      const FoqMode mode = table == kWk ? FoqMode::kWaasmaierKirfel : FoqMode::kInternationalTables;
      ASSERT_FALSE(classic::foq(single, q, p, sym, mode, classic::DataMode::kTablesInProgram, 0, out).failed());
      for (std::size_t i = 0; i < q.size(); ++i)  // foq rounds its coefficients and results to single precision
        EXPECT_NEAR(f[i], single[i], 1e-6 * (1 + std::fabs(f[i]))) << sym << " at Q = " << q[i];
      EXPECT_NE(f[5], single[5]) << sym << ": not rounded";
    }
}

// The double-precision sums against the plain loop with the library's
// exponential: a few units in the last place over the fitted range and
// beyond, for every element of both tables, on a grid long enough for
// the sums to go a block at a time; the same overflow where a negative b
// makes a term grow without bound, and exactly c where every term is 0.
TEST(FormFactorDouble, AgreesWithTheLibraryExponential) {
  std::vector<double> q;
  for (int i = 0; i <= 1000; ++i) q.push_back(0.08 * i);
  for (FormFactorTable table : {kWk, kIt}) {
    std::size_t elements = 0;
    for (const char* sym : table == kWk ? wk_table_symbols() : it_table_symbols()) {
      const Result<FormFactorParams> p = published_coefficients(sym, table);
      ASSERT_TRUE(p.ok()) << sym;
      const Result<std::vector<double>> r = form_factor(sym, q, {.table = table});
      ASSERT_TRUE(r.ok()) << sym;
      ASSERT_EQ(r->size(), q.size());
      for (std::size_t i = 0; i < q.size(); ++i) {
        const double s2 = (q[i] * 0.25 / 3.141592653589793) * (q[i] * 0.25 / 3.141592653589793);
        double want = p->c, scale = std::fabs(p->c);
        for (int j = 0; j < p->n; ++j) {
          const double term = p->a[static_cast<std::size_t>(j)] * std::exp(-p->b[static_cast<std::size_t>(j)] * s2);
          want += term;
          scale += std::fabs(term);
        }
        ASSERT_NEAR((*r)[i], want, 1e-14 * scale) << sym << " at Q = " << q[i];
      }
      ++elements;
    }
    EXPECT_GT(elements, 90u);
  }
  const std::vector<double> far = {1e5, 1e9, 1e300, 2.0};
  const std::vector<double> c = *form_factor("C", far);  // carbon's b4 is negative
  EXPECT_EQ(c[0], -std::numeric_limits<double>::infinity());
  EXPECT_EQ(c[1], -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isfinite(c[3]));
  const std::vector<double> fe = *form_factor("Fe", far);
  EXPECT_EQ(fe[1], published_coefficients("Fe", kWk)->c);
  EXPECT_EQ(fe[2], published_coefficients("Fe", kWk)->c);
}

}  // namespace
}  // namespace talvo
