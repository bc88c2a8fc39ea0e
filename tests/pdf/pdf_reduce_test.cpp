// The reduction end to end: a synthetic glass through every physical effect
// and back, the real CeO2 pattern, the ad hoc mode, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>

#include "talvo/numeric/filon.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/stages.hpp"
#include "talvo/pdf/running_integral.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

struct Shell {
  double r, n, width;  // position, neighbours per atom, standard deviation (Angstrom)
};

// S(Q) of a model g(r): Gaussian shells over a continuum that rises
// smoothly to 1 at r_c: S - 1 = (4 pi rho0 / Q) int r (g - 1) sin(Qr) dr.
std::vector<double> model_sq(std::span<const double> q, double rho0, std::span<const Shell> shells, double rc,
                             double rise) {
  std::vector<double> r, h;
  for (int j = 0; j <= 12000; ++j) {
    const double x = 0.0025 * j;
    double g = 1.0 / (1.0 + std::exp(-(x - rc) / rise));
    for (const Shell& s : shells)
      if (x > 0.0)
        g += s.n / (4.0 * kPi * rho0 * x * x) * std::exp(-0.5 * (x - s.r) * (x - s.r) / (s.width * s.width)) /
             (std::sqrt(2.0 * kPi) * s.width);
    r.push_back(x);
    h.push_back(x * (g - 1.0));
  }
  const Result<FilonTransform> f = filon_ft(r, h, q, {{}, false});
  EXPECT_TRUE(f.ok());
  std::vector<double> s(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) s[i] = 1.0 + 4.0 * kPi * rho0 / q[i] * f->integral[i];
  return s;
}

// The local maximum of G nearest r0, refined by a parabola through three points.
double peak_near(const Curve& g, double r0, double half_window) {
  std::size_t best = 0;
  for (std::size_t j = 1; j + 1 < g.x.size(); ++j)
    if (std::abs(g.x[j] - r0) < half_window && (best == 0 || g.y[j] > g.y[best])) best = j;
  const double y0 = g.y[best - 1], y1 = g.y[best], y2 = g.y[best + 1];
  return g.x[best] + 0.5 * (y0 - y2) / (y0 - 2.0 * y1 + y2) * (g.x[best + 1] - g.x[best]);
}

double value_at(const Curve& g, double r) {
  std::size_t j = 0;
  while (j + 1 < g.x.size() && g.x[j + 1] <= r) ++j;
  return g.y[j];
}

struct Measured {
  Pattern sample, background;
  std::vector<double> s_true_q, s_true;
};

// The expected counts of a measurement and of its air background at each 2theta.
struct Expected {
  std::vector<double> two_theta, sample, air;
};

// Poisson counts about the expected ones, sigma = sqrt(counts).
Measured draw(const Expected& e, unsigned seed) {
  Measured m;
  std::mt19937 rng(seed);
  m.sample.abscissa = m.background.abscissa = Abscissa::kTwoTheta;
  for (std::size_t i = 0; i < e.two_theta.size(); ++i) {
    std::poisson_distribution<long> counts(e.sample[i]), air_counts(e.air[i]);
    m.sample.x.push_back(e.two_theta[i]);
    m.sample.y.push_back(static_cast<double>(counts(rng)));
    m.sample.sigma.push_back(std::sqrt(std::max(m.sample.y.back(), 1.0)));
    m.background.x.push_back(e.two_theta[i]);
    m.background.y.push_back(static_cast<double>(air_counts(rng)));
    m.background.sigma.push_back(std::sqrt(std::max(m.background.y.back(), 1.0)));
  }
  return m;
}

// A glass "SiO2" measured on a Mo tube: the true S(Q) made into counts through
// polarisation with a monochromator, capillary absorption, Compton scattering
// with its recoil factor, a scale, an air background and Poisson noise.
Expected expect_glass(const ReductionOptions& o, double rho0, std::span<const Shell> shells, double scale,
                      double last_two_theta = 150.0) {
  Expected e;
  const double lambda = *o.wavelength;
  std::vector<double> tt, q;
  for (double x = 2.0; x <= last_two_theta + 1e-9; x += 0.02) {
    tt.push_back(x);
    q.push_back(4.0 * kPi * std::sin(0.5 * x * kPi / 180.0) / lambda);
  }
  const std::vector<double> s = model_sq(q, rho0, shells, 3.1, 0.25);
  SampleModelOptions so = o.sample;
  so.wavelength = lambda;
  so.breit_dirac = o.breit_dirac;
  const Result<SampleModel> sm = sample_model(q, so);
  EXPECT_TRUE(sm.ok());
  const std::vector<double> a = *absorption_factors(tt, o.absorption);
  for (std::size_t i = 0; i < tt.size(); ++i) {
    const double coherent = sm->f2[i] + sm->f_mean_sq[i] * (s[i] - 1.0);
    EXPECT_GT(coherent, 0.0) << q[i];
    const double compton = sm->compton[i];  // with its recoil factor at this wavelength
    const double air = 400.0 * std::exp(-tt[i] / 8.0) + 30.0;
    e.two_theta.push_back(tt[i]);
    e.sample.push_back(scale * polarization(tt[i], o.polarization) * a[i] * (coherent + compton) + air);
    e.air.push_back(air);
  }
  return e;
}

Measured measure_glass(const ReductionOptions& o, double rho0, std::span<const Shell> shells, double scale,
                       double last_two_theta = 150.0) {
  return draw(expect_glass(o, rho0, shells, scale, last_two_theta), 11);
}

ReductionOptions glass_options() {
  ReductionOptions o;
  o.sample.composition = "SiO2";
  o.sample.number_density = 0.0662;
  o.wavelength = 0.70932;
  o.mode = Mode::kPhysical;
  o.absorption = {Geometry::kCapillary, 1.2};
  o.polarization.monochromator_two_theta = 12.14;  // HOPG at Mo Kalpha1
  o.window = Window::kLorch;
  o.rmax = 8.0;
  return o;
}

const Shell kGlass[] = {{1.61, 2.67, 0.06}, {2.63, 5.5, 0.12}};

TEST(PdfReduce, SyntheticGlassRoundTrip) {
  const ReductionOptions o = glass_options();
  const Measured m = measure_glass(o, 0.0662, kGlass, 3000.0);
  const Result<Reduction> red = reduce(m.sample, &m.background, 1.0, o);
  ASSERT_TRUE(red.ok()) << red.error().message;
  const std::vector<double> s_true = model_sq(red->sq.x, 0.0662, kGlass, 3.1, 0.25);
  // S(Q) within its counting errors: chi^2 per point near 1 away from the
  // lowest Q, where the background dominates.
  double chi2 = 0.0, bias = 0.0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < red->sq.x.size(); ++i) {
    if (red->sq.x[i] < 1.0) continue;
    const double d = red->sq.y[i] - s_true[i];
    chi2 += d * d / (red->sq.sigma[i] * red->sq.sigma[i]);
    bias += d;
    ++n;
  }
  EXPECT_LT(chi2 / static_cast<double>(n), 1.5);
  EXPECT_LT(std::abs(bias / static_cast<double>(n)), 0.005);
  // The first shell: where it is, and how many neighbours its peak holds.
  EXPECT_NEAR(peak_near(red->gr, 1.61, 0.2), 1.61, 0.01);
  double area = 0.0;
  for (std::size_t j = 0; j < red->gr.x.size(); ++j)
    if (std::abs(red->gr.x[j] - 1.61) < 0.4) area += red->rr[j] * 0.01;
  EXPECT_NEAR(area, 2.67, 0.05 * 2.67);
  // Below the first shell G(r) follows -4 pi rho0 r within a few sigma.
  for (double r : {0.4, 0.8, 1.1}) EXPECT_NEAR(value_at(red->gr, r), -4.0 * kPi * 0.0662 * r, 0.15) << r;
  EXPECT_GT(red->alpha, 0.0);
  EXPECT_NEAR(1.0 / red->alpha, 3000.0, 0.01 * 3000.0);  // the scale of the counts, found by the sum rule

  // The coordination numbers from N(r), the running integral of R(r): the
  // first shell alone between 1.21 and 2.01 A, then both shells and the
  // model's continuum (4 pi r^2 rho0 times its rising edge) up to 3.0 A.
  const auto n_at = [&](double r) { return red->rr_integral[static_cast<std::size_t>(std::lround(r / 0.01))]; };
  EXPECT_NEAR(n_at(2.01) - n_at(1.21), 2.67, 0.05 * 2.67);
  double continuum = 0.0;
  for (double r = 1.21 + 0.0005; r < 3.0; r += 0.001)
    continuum += 4.0 * kPi * r * r * 0.0662 / (1.0 + std::exp(-(r - 3.1) / 0.25)) * 0.001;
  EXPECT_NEAR(n_at(3.0) - n_at(1.21), 2.67 + 5.5 + continuum, 0.05 * (2.67 + 5.5 + continuum));
  ASSERT_EQ(red->sigma_rr_integral.size(), red->rr_integral.size());
  EXPECT_EQ(red->sigma_rr_integral[0], 0.0);  // N(rmin) = 0 exactly
  EXPECT_GT(red->sigma_rr_integral[300], 0.0);
  // The normalisation's error is small beside alpha but not zero.
  EXPECT_GT(red->alpha_sigma, 0.0);
  EXPECT_LT(red->alpha_sigma, 0.01 * red->alpha);
}

// The Breit-Dirac choice (none, 2 or 3) scales the Compton term alone: the
// form-factor averages and mu stay, C(Q) is the tabulated S times
// (lambda / lambda')^n with lambda' from the Compton shift h / (m_e c), and a
// reduction's model moves by exactly the change in C while its corrected
// intensity changes only by the normalisation constant.
TEST(PdfReduce, BreitDiracChangesOnlyTheComptonTerm) {
  ReductionOptions o = glass_options();
  o.sample.number_density.reset();
  o.sample.density = 2.2;  // for mu
  const double lambda = *o.wavelength;
  // h / (m_e c) in Angstrom from CODATA 2018 h, m_e and c.
  const double compton_wavelength = 6.62607015e-34 / (9.1093837015e-31 * 299792458.0) * 1e10;
  std::vector<double> q;
  for (double x = 0.0; x <= 16.0; x += 0.5) q.push_back(x);
  SampleModelOptions so = o.sample;
  so.wavelength = lambda;
  std::vector<SampleModel> models;
  for (const int n : {0, 2, 3}) {
    so.breit_dirac = n;
    const Result<SampleModel> sm = sample_model(q, so);
    ASSERT_TRUE(sm.ok()) << sm.error().message;
    models.push_back(*sm);
  }
  for (std::size_t k = 0; k < q.size(); ++k) {
    const double sin_theta = q[k] * lambda / (4.0 * kPi);
    const double ratio = lambda / (lambda + 2.0 * compton_wavelength * sin_theta * sin_theta);
    EXPECT_NEAR(models[1].compton[k], models[0].compton[k] * ratio * ratio, 1e-9 * models[0].compton[k]) << q[k];
    EXPECT_NEAR(models[2].compton[k], models[0].compton[k] * ratio * ratio * ratio, 1e-9 * models[0].compton[k]);
  }
  EXPECT_LT(models[2].compton.back(), 0.95 * models[0].compton.back());  // a real change at 16 per Angstrom
  for (const SampleModel& m : models) {
    EXPECT_EQ(m.f2, models[0].f2);
    EXPECT_EQ(m.f_mean_sq, models[0].f_mean_sq);
    EXPECT_EQ(m.mu, models[0].mu);
  }

  const Measured m = measure_glass(o, 0.0662, kGlass, 3000.0);
  std::vector<Reduction> reds;
  for (const int n : {3, 0}) {
    o.breit_dirac = n;
    const Result<Reduction> red = reduce(m.sample, &m.background, 1.0, o);
    ASSERT_TRUE(red.ok()) << red.error().message;
    reds.push_back(*red);
  }
  const Reduction &with = reds[0], &none = reds[1];
  ASSERT_EQ(with.iq.x, none.iq.x);
  so.breit_dirac = 3;
  const SampleModel c3 = *sample_model(with.iq.x, so);
  so.breit_dirac = 0;
  const SampleModel c0 = *sample_model(with.iq.x, so);
  const double alpha_ratio = none.alpha / with.alpha;
  EXPECT_GT(std::abs(alpha_ratio - 1.0), 1e-3);
  for (std::size_t i = 0; i < with.iq.x.size(); ++i) {
    EXPECT_NEAR(none.model[i] - with.model[i], c0.compton[i] - c3.compton[i], 1e-9 * with.model[i]);
    EXPECT_NEAR(none.iq.y[i], with.iq.y[i] * alpha_ratio, 1e-9 * std::abs(none.iq.y[i]));
  }
}

// sigma_N against the variance of N(r) found the long way: each F(Q_k) on
// its own through the transform, r G(r) summed by the trapezoid rule as the
// reduction sums it, the squares of dN/dF_k sigma_k added. The weights are
// Filon's at small h r (Simpson's), as the reduction passes them. sigma_N is
// that of the exact integral; the trapezoid's first steps from r0 differ
// from it (r G rises as r^2 from r = 0), so the comparison starts 0.2 A on.
TEST(PdfReduce, RunningIntegralSigmaIsThatOfTheTransformedErrors) {
  const double h = 0.02;
  std::vector<double> q, sigma;
  for (int k = 0; k <= 600; ++k) {
    q.push_back(k * h);
    sigma.push_back(q.back() < 0.5 ? 0.0 : 0.01 * (1.0 + 0.1 * q.back()));
  }
  for (const double r0 : {0.0, 0.5}) {
    std::vector<double> r;
    for (int j = 0; j <= 450; ++j) r.push_back(r0 + 0.01 * j);  // h r stays within 0.1
    std::vector<double> var(r.size(), 0.0), f(q.size(), 0.0), none(q.size(), 0.0), c(q.size(), 0.0);
    for (std::size_t k = 0; k < q.size(); ++k) {
      if (sigma[k] == 0.0) continue;
      f[k] = 1.0;
      const Result<Curve> g = transform_fq(Curve{q, f, none}, r, Window::kNone);
      f[k] = 0.0;
      ASSERT_TRUE(g.ok());
      double n = 0.0;
      for (std::size_t j = 1; j < r.size(); ++j) {
        n += 0.5 * 0.01 * (r[j] * g->y[j] + r[j - 1] * g->y[j - 1]);
        var[j] += n * n * sigma[k] * sigma[k];
      }
      const double w = (k == 0 || k + 1 == q.size() ? 1.0 : k % 2 ? 4.0 : 2.0) * h / 3.0;
      c[k] = 2.0 / kPi * w * sigma[k];
    }
    const std::vector<double> s = running_integral_sigma(q, h, c, r, r0);
    ASSERT_EQ(s.size(), r.size());
    EXPECT_EQ(s[0], 0.0);
    for (std::size_t j = 20; j < r.size(); ++j) EXPECT_NEAR(s[j], std::sqrt(var[j]), 0.01 * std::sqrt(var[j])) << r[j];
  }
}

// sigma_alpha against the scatter of alpha itself over many measurements of
// the same glass, each with its own Poisson noise.
TEST(PdfReduce, NormalisationSigmaIsTheScatterOfAlpha) {
  ReductionOptions o = glass_options();
  o.rmax = 2.0;
  o.rstep = 0.1;
  const Expected e = expect_glass(o, 0.0662, kGlass, 3000.0);
  for (const Normalization norm : {Normalization::kKroghMoeNorman, Normalization::kHighQ}) {
    o.normalization = norm;
    constexpr int kDraws = 60;
    double sum = 0.0, sum2 = 0.0, reported = 0.0;
    for (int d = 0; d < kDraws; ++d) {
      const Measured m = draw(e, 100u + static_cast<unsigned>(d));
      const Result<Reduction> red = reduce(m.sample, &m.background, 1.0, o);
      ASSERT_TRUE(red.ok()) << red.error().message;
      sum += red->alpha;
      sum2 += red->alpha * red->alpha;
      reported += red->alpha_sigma / kDraws;
    }
    const double mean = sum / kDraws;
    const double scatter = std::sqrt((sum2 - kDraws * mean * mean) / (kDraws - 1));
    // 60 draws know a standard deviation to about 9 %.
    EXPECT_NEAR(reported / scatter, 1.0, 0.3) << (norm == Normalization::kHighQ ? "highq" : "kmn");
  }
}

// The same glass through each geometry and normalisation: S(Q) comes back
// within its errors and the scale of the counts is found.
TEST(PdfReduce, RoundTripEveryGeometry) {
  struct Case {
    const char* name;
    Geometry geometry;
    std::optional<double> mu_x;
    Polarization polarization;
    Normalization normalization;
    double wavelength, last_two_theta;
    double chi2, scale_tolerance;
  };
  // Matching the top fifth of the range sets the scale less well than the
  // sum rule over the whole of it. A plate in transmission stops short of
  // 90 degrees: measured with Ag Kalpha its range still reaches Q = 15.
  const Case cases[] = {
      {"thick plate, unpolarised, high Q",
       Geometry::kReflection,
       std::nullopt,
       {},
       Normalization::kHighQ,
       0.70932,
       150.0,
       3.0,
       0.01},
      {"thin plate in reflection, perfect monochromator",
       Geometry::kReflection,
       0.3,
       {26.6, true, 0.5},
       Normalization::kKroghMoeNorman,
       0.70932,
       150.0,
       1.5,
       0.005},
      {"plate in transmission, synchrotron polarisation",
       Geometry::kTransmission,
       0.8,
       {std::nullopt, false, 0.95},
       Normalization::kKroghMoeNorman,
       0.55941,
       85.0,
       2.0,
       0.01},
      {"thick capillary", Geometry::kCapillary, 5.0, {}, Normalization::kKroghMoeNorman, 0.70932, 150.0, 1.5, 0.005},
  };
  for (const Case& c : cases) {
    ReductionOptions o = glass_options();
    o.absorption = {c.geometry, c.mu_x};
    o.polarization = c.polarization;
    o.normalization = c.normalization;
    o.wavelength = c.wavelength;
    const Measured m = measure_glass(o, 0.0662, kGlass, 3000.0, c.last_two_theta);
    const Result<Reduction> red = reduce(m.sample, &m.background, 1.0, o);
    ASSERT_TRUE(red.ok()) << c.name << ": " << red.error().message;
    const std::vector<double> s_true = model_sq(red->sq.x, 0.0662, kGlass, 3.1, 0.25);
    double chi2 = 0.0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < red->sq.x.size(); ++i) {
      if (red->sq.x[i] < 1.0) continue;
      const double d = red->sq.y[i] - s_true[i];
      chi2 += d * d / (red->sq.sigma[i] * red->sq.sigma[i]);
      ++n;
    }
    EXPECT_LT(chi2 / static_cast<double>(n), c.chi2) << c.name;
    EXPECT_NEAR(1.0 / red->alpha, 3000.0, c.scale_tolerance * 3000.0) << c.name;
    EXPECT_NEAR(peak_near(red->gr, 1.61, 0.2), 1.61, 0.01) << c.name;
  }
}

// Stray counts: a zinger on the glass moves nothing.
TEST(PdfReduce, ZingerRemovedAndListed) {
  const ReductionOptions o = glass_options();
  Measured m = measure_glass(o, 0.0662, kGlass, 3000.0);
  const Result<Reduction> clean = reduce(m.sample, &m.background, 1.0, o);
  m.sample.y[4000] += 2e5;  // a cosmic ray in one channel
  const Result<Reduction> hit = reduce(m.sample, &m.background, 1.0, o);
  ASSERT_TRUE(clean.ok() && hit.ok());
  ASSERT_EQ(hit->outliers.size(), 1u);
  EXPECT_NEAR(hit->outliers[0], m.sample.x[4000], 1e-12);
  EXPECT_TRUE(clean->outliers.empty());
  ReductionOptions keep = o;
  keep.outlier_threshold = 1e300;
  const Result<Reduction> kept = reduce(m.sample, &m.background, 1.0, keep);
  ASSERT_TRUE(kept.ok());
  EXPECT_TRUE(kept->outliers.empty());
  // In sigma of G: the point's absence moves G by about its share of the
  // noise; the zinger left in puts a sinusoid across all of G.
  double removed = 0.0, left_in = 0.0;
  for (std::size_t j = 1; j < hit->gr.x.size(); ++j) {
    removed = std::max(removed, std::abs(hit->gr.y[j] - clean->gr.y[j]) / hit->gr.sigma[j]);
    left_in = std::max(left_in, std::abs(kept->gr.y[j] - clean->gr.y[j]) / hit->gr.sigma[j]);
  }
  EXPECT_LT(removed, 1.5);
  EXPECT_GT(left_in, 10.0);
}

TEST(PdfReduce, RminIterationFlattensLowR) {
  ReductionOptions o = glass_options();
  const Measured m = measure_glass(o, 0.0662, kGlass, 3000.0);
  o.rmin_iterate = 1.3;
  const Result<Reduction> red = reduce(m.sample, &m.background, 1.0, o);
  ASSERT_TRUE(red.ok()) << red.error().message;
  EXPECT_GE(red->iterations, 1);
  EXPECT_LT(red->residual, 0.1);
  EXPECT_NEAR(peak_near(red->gr, 1.61, 0.2), 1.61, 0.01);
}

std::string file_text(const std::string& name) {
  std::ifstream in(std::string(TALVO_TEST_FILES_DIR) + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The real CeO2 capillary on a Mo tube. Its mu D comes from the capillary's
// own z-scan: the transmitted beam through its middle over the beam beside it.
TEST(PdfReduce, CeriaPeaksAtTheFluoriteDistances) {
  const Result<Pattern> z = parse_text_pattern(file_text("lab_xy/CeO2_635um_zscan.xy"), Abscissa::kQA, "zscan");
  ASSERT_TRUE(z.ok()) << z.error().message;
  const double t_min = *std::min_element(z->y.begin(), z->y.end());
  const double t_max = *std::max_element(z->y.begin(), z->y.end());
  const double mu_d = -std::log(t_min / t_max);
  EXPECT_NEAR(mu_d, 3.5, 0.1);
  const Result<Pattern> p = parse_text_pattern(file_text("lab_xy/CeO2_635um_accum_0.xy"), Abscissa::kTwoTheta, "CeO2");
  ASSERT_TRUE(p.ok());
  ReductionOptions o;
  o.sample.composition = "CeO2";
  o.sample.density = 7.215;  // fluorite, a = 5.411 A: 4 CeO2 in 158.4 A^3
  // Mo Kalpha, the weighted mean of Kalpha1 and Kalpha2: the pattern's Bragg
  // peaks (111) to (620) lie where 0.71073 A puts them, 0.02 degrees or less.
  o.wavelength = 0.71073;
  o.mode = Mode::kPhysical;
  o.absorption = {Geometry::kCapillary, 0.5 * mu_d};
  o.window = Window::kLorch;
  // No empty-capillary pattern comes with the data: the glass and the air
  // stay in, and the low-r iteration takes their smooth share off.
  o.rmin_iterate = 2.0;
  o.rmax = 10.0;
  const Result<Reduction> red = reduce(*p, nullptr, 1.0, o);
  ASSERT_TRUE(red.ok()) << red.error().message;
  const double a = 5.411;
  const double ce_o = a * std::sqrt(3.0) / 4.0, o_o = a / 2.0, ce_ce = a / std::sqrt(2.0);
  EXPECT_NEAR(peak_near(red->gr, ce_o, 0.15), ce_o, 0.02);
  // O-O (2.706 A) carries an X-ray weight of 0.05 beside Ce-O's 0.34 and
  // Ce-Ce's 0.61: a shoulder on the Lorch-broadened Ce-O peak, not a maximum.
  EXPECT_GT(value_at(red->gr, o_o), -4.0 * kPi * *red->number_density * o_o);
  EXPECT_NEAR(peak_near(red->gr, ce_ce, 0.15), ce_ce, 0.02);
  // Flat below the first peak: G follows -4 pi rho0 r, its ripples small
  // beside the Ce-Ce peak.
  const double rho0 = *red->number_density;
  const double top = value_at(red->gr, ce_ce);
  double worst = 0.0;
  for (std::size_t j = 0; j < red->gr.x.size(); ++j)
    if (red->gr.x[j] > 0.5 && red->gr.x[j] < 2.0)
      worst = std::max(worst, std::abs(red->gr.y[j] + 4.0 * kPi * rho0 * red->gr.x[j]));
  EXPECT_LT(worst, 0.1 * top);
}

// A crystal (fcc nickel, a = 3.524 A) measured through a smooth gain a(Q)
// and an additive b(Q): the ad hoc mode takes both off.
TEST(PdfReduce, AdhocRemovesSmoothDistortion) {
  const double a = 3.524, rho0 = 4.0 / (a * a * a);
  std::vector<Shell> shells;
  for (int n2 = 1; n2 <= 60; ++n2) {
    int count = 0;
    for (int i = -8; i <= 8; ++i)
      for (int j = -8; j <= 8; ++j)
        for (int k = -8; k <= 8; ++k)
          if ((i + j + k) % 2 == 0 && i * i + j * j + k * k == 2 * n2) ++count;  // fcc: half-integer cube sites
    if (count > 0) shells.push_back({a * std::sqrt(n2 / 2.0), static_cast<double>(count), 0.06 + 0.002 * n2});
  }
  std::vector<double> q;
  for (double x = 0.5; x <= 22.0 + 1e-9; x += 0.01) q.push_back(x);
  const std::vector<double> s = model_sq(q, rho0, shells, 14.0, 0.4);
  SampleModelOptions so;
  so.composition = "Ni";
  const Result<SampleModel> sm = sample_model(q, so);
  ASSERT_TRUE(sm.ok());
  Pattern clean, bent;
  clean.abscissa = bent.abscissa = Abscissa::kQA;
  for (std::size_t i = 0; i < q.size(); ++i) {
    const double ic = sm->f2[i] + sm->f_mean_sq[i] * (s[i] - 1.0);
    const double t = q[i] / 22.0;
    clean.x.push_back(q[i]);
    clean.y.push_back(1000.0 * ic);
    clean.sigma.push_back(1.0);
    bent.x.push_back(q[i]);
    // A gain falling and rising by tens of per cent, and a flat share of
    // counts such as fluorescence, a few per cent of the signal at high Q.
    bent.y.push_back(1000.0 * ic * (1.0 + 0.4 * t - 0.3 * t * t) + 800.0 * (1.0 - 0.5 * t));
    bent.sigma.push_back(1.0);
  }
  ReductionOptions o;
  o.sample.composition = "Ni";
  o.mode = Mode::kAdhoc;
  o.window = Window::kLorch;
  o.rmax = 10.0;
  const Result<Reduction> r0 = reduce(clean, nullptr, 1.0, o);
  const Result<Reduction> r1 = reduce(bent, nullptr, 1.0, o);
  ASSERT_TRUE(r0.ok() && r1.ok()) << (r0.ok() ? r1.error().message : r0.error().message);
  EXPECT_EQ(r1->poly_degree, 6);  // 0.9 A 22 / pi
  for (double r : {a / std::sqrt(2.0), a, a * std::sqrt(1.5), a * std::sqrt(2.0)}) {
    // Heights above the line -4 pi rho0 r that G(r) starts from.
    const double h0 = value_at(r0->gr, peak_near(r0->gr, r, 0.1)) + 4.0 * kPi * rho0 * r;
    const double h1 = value_at(r1->gr, peak_near(r1->gr, r, 0.1)) + 4.0 * kPi * rho0 * r;
    EXPECT_NEAR(h1, h0, 0.05 * std::abs(h0)) << r;
  }
}

// Reductions taken together give each one's own reduction, bit for bit,
// warnings and errors included: patterns of one series (one grid), one
// measured on another grid, one with another window, one with the low-r
// iteration, and one that fails.
TEST(PdfReduce, TogetherEachAsAlone) {
  const ReductionOptions o = glass_options();
  std::vector<Measured> m;
  for (unsigned seed = 1; seed <= 4; ++seed) m.push_back(draw(expect_glass(o, 0.0662, kGlass, 3000.0), seed));
  m.push_back(measure_glass(o, 0.0662, kGlass, 3000.0, 140.0));
  std::vector<ReductionOptions> options(m.size() + 3, o);
  std::vector<Inputs> inputs;
  for (const Measured& one : m) inputs.push_back({&one.sample, &one.background});
  inputs.push_back({&m[0].sample, &m[0].background});
  options[m.size()].window = Window::kNone;
  inputs.push_back({&m[1].sample, &m[1].background});
  options[m.size() + 1].rmin_iterate = 1.3;
  inputs.push_back({&m[2].sample, &m[2].background});
  options[m.size() + 2].rmax = -1.0;
  const std::vector<Result<Reduction>> together = reduce_together(inputs, options);
  ASSERT_EQ(together.size(), inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const Result<Reduction> alone = reduce(inputs[i], options[i]);
    ASSERT_EQ(together[i].ok(), alone.ok()) << i;
    if (!alone.ok()) {
      EXPECT_EQ(together[i].error().message, alone.error().message);
      continue;
    }
    EXPECT_EQ(together[i].warnings(), alone.warnings()) << i;
    for (const auto& [a, b] : {std::pair{&together[i]->gr, &alone->gr}, {&together[i]->fq, &alone->fq}}) {
      EXPECT_EQ(a->x, b->x) << i;
      EXPECT_EQ(a->y, b->y) << i;
      EXPECT_EQ(a->sigma, b->sigma) << i;
    }
    EXPECT_EQ(together[i]->rr_integral, alone->rr_integral) << i;
    EXPECT_EQ(together[i]->diagnostics.has_value(), alone->diagnostics.has_value()) << i;
    if (alone->diagnostics) {
      EXPECT_EQ(together[i]->diagnostics->high_q_mean, alone->diagnostics->high_q_mean) << i;
    }
  }
  EXPECT_TRUE(reduce_together({}, {}).empty());
  // Inputs without options of their own, or options without inputs, are a
  // caller's mistake: every result says so, none is dropped.
  for (const std::size_t n_options : {std::size_t{1}, std::size_t{4}}) {
    const std::span<const ReductionOptions> some(options.data(), n_options);
    const std::vector<Result<Reduction>> odd = reduce_together(std::span<const Inputs>(inputs).first(2), some);
    ASSERT_EQ(odd.size(), std::max<std::size_t>(2, n_options));
    for (const Result<Reduction>& r : odd) {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.kind(), ErrorKind::kInvalidArgument);
    }
  }
}

TEST(PdfReduce, BadInputSaysWhatToChange) {
  const ReductionOptions good = glass_options();
  const Measured m = measure_glass(good, 0.0662, kGlass, 3000.0);
  Pattern far = m.background;
  for (double& x : far.x) x += 200.0;
  Pattern nan = m.sample;
  nan.y[10] = std::nan("");
  struct Case {
    const char* name;
    ReductionOptions o;
    const Pattern* sample;
    const Pattern* background;
    const char* says;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto change, const Pattern* s = nullptr, const Pattern* b = nullptr,
                  const char* says = "") {
    ReductionOptions o = good;
    change(o);
    cases.push_back({name, o, s ? s : &m.sample, b, says});
  };
  with(
      "no composition", [](ReductionOptions& o) { o.sample.composition.clear(); }, nullptr, nullptr,
      "give the sample's formula");
  with(
      "no wavelength", [](ReductionOptions& o) { o.wavelength.reset(); }, nullptr, nullptr, "give the wavelength");
  with(
      "qmax above the data", [](ReductionOptions& o) { o.qmax = 40.0; }, nullptr, nullptr, "lies above the data");
  with(
      "disjoint background", [](ReductionOptions&) {}, nullptr, &far, "whole range");
  with(
      "density 0", [](ReductionOptions& o) { o.sample.number_density = 0.0; }, nullptr, nullptr, "must be above 0");
  with(
      "no density", [](ReductionOptions& o) { o.sample.number_density.reset(); }, nullptr, nullptr, "give the density");
  with(
      "degree above the points",
      [](ReductionOptions& o) {
        o.mode = Mode::kAdhoc;
        o.rpoly = 2000.0;
      },
      nullptr, nullptr, "lower rpoly");
  with(
      "nan", [](ReductionOptions&) {}, &nan, nullptr, "not a number");
  with(
      "unknown element", [](ReductionOptions& o) { o.sample.composition = "Xx2O"; }, nullptr, nullptr, "Xx");
  with(
      "capillary without mu R", [](ReductionOptions& o) { o.absorption.mu_x.reset(); }, nullptr, nullptr, "mu R (mu-r)");
  with(
      "bad r grid", [](ReductionOptions& o) { o.rstep = 0.0; }, nullptr, nullptr, "the r grid needs 0 <= rmin < rmax");
  for (const Case& c : cases) {
    const Result<Reduction> r = reduce(*c.sample, c.background, 1.0, c.o);
    ASSERT_FALSE(r.ok()) << c.name;
    EXPECT_NE(r.error().message.find(c.says), std::string::npos) << c.name << ": " << r.error().message;
  }
}

}  // namespace
}  // namespace talvo::pdf
