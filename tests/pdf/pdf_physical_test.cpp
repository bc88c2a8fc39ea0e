// The physical corrections of a laboratory capillary end to end: a glass of
// known S(Q) in a silica capillary lit by a narrow beam, every factor applied
// forward and the reduction bringing S(Q) back; the fit of mu R on such a
// glass; the real CeO2 capillary reduced with its own z-scan and fitted mu R
// to what fluorite and a correct reduction must show.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>

#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/options.hpp"
#include "talvo/pdf/reduce.hpp"
#include "tests/support/model_glass.hpp"

namespace talvo::pdf {
namespace {

using test_support::glass_sq;
using test_support::Shell;

constexpr double kPi = std::numbers::pi;
constexpr double kLambda = 0.70932;  // Mo Kalpha1

// Shells whose neighbours fill the hole below the continuum's rise, so that S(0) is near 0, as in a glass:
// 4/3 pi rc^3 rho0 atoms.
const Shell kGermania[] = {{1.73, 2.67, 0.06}, {3.0, 7.7, 0.18}};  // a GeO2-like glass, rho0 0.0632, rc 3.4
const Shell kSilica[] = {{1.61, 2.67, 0.06}, {2.63, 5.5, 0.12}};   // the capillary's glass, rho0 0.0662, rc 3.1

// Counts about `expected`, with a Gaussian of sigma sqrt(counts) (Box-Muller on a fixed generator).
Pattern counted(std::span<const double> q, std::span<const double> expected, std::uint32_t seed) {
  Pattern p;
  p.abscissa = Abscissa::kQA;
  std::mt19937 gen(seed);
  auto uniform = [&] { return (static_cast<double>(gen()) + 0.5) / 4294967296.0; };
  for (std::size_t i = 0; i < q.size(); ++i) {
    const double noise = std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * kPi * uniform());
    p.x.push_back(q[i]);
    p.y.push_back(expected[i] + std::sqrt(expected[i]) * noise);
    p.sigma.push_back(std::sqrt(expected[i]));
  }
  return p;
}

double two_theta_of(double q) { return 2.0 * std::asin(q * kLambda / (4.0 * kPi)) * 180.0 / kPi; }

struct Glass {
  std::vector<double> q, s;
  Pattern sample, container;
};

// GeO2 glass (mu R 0.8) in a silica capillary 1 mm across with a 0.02 mm wall,
// a Gaussian beam 0.4 mm wide, HOPG in the diffracted beam with Ruland's
// window of band pass 0.01 A, a flat 300 counts of fluorescence on the sample:
//   I_sc = k P [A_s,sc (<f^2> + <f>^2 (S - 1) + R C)_s + n_c A_c,sc (...)_c] + flat
//   I_c  = k P n_c A_c,c (...)_c
// with n_c the wall's atoms lit beside the sample's.
ReductionOptions glass_options() {
  ReductionOptions o;
  o.sample.composition = "GeO2";
  o.sample.number_density = 0.0632;
  o.wavelength = kLambda;
  o.mode = Mode::kPhysical;
  o.absorption = {Geometry::kCapillary, 0.8};
  o.capillary_diameter = 1.0;
  o.beam_width = 0.4;
  o.beam_profile = BeamProfile::kGaussian;
  o.container_composition = "SiO2";
  o.container_density = 2.2;
  o.container_wall = 0.02;
  o.polarization.monochromator_two_theta = 12.14;
  o.ruland = 0.01;
  o.flat = 300.0;
  o.window = Window::kLorch;
  o.rmax = 8.0;
  return o;
}

// With `container` false, the glass alone in a capillary that absorbs nothing of its own.
Glass measure_glass(const ReductionOptions& o, std::uint32_t seed, bool container = true) {
  Glass g;
  for (double q = 0.6; q <= 17.0 + 1e-9; q += 0.02) g.q.push_back(q);
  g.s = glass_sq(g.q, 0.0632, kGermania, 3.4, 0.25);
  const std::vector<double> s_c = glass_sq(g.q, 0.0662, kSilica, 3.1, 0.25);
  SampleModelOptions so;
  so.wavelength = kLambda;
  so.composition = "GeO2";
  so.number_density = 0.0632;
  const SampleModel ms = *sample_model(g.q, so);
  so.composition = "SiO2";
  so.number_density.reset();
  so.density = 2.2;
  const SampleModel mc = *sample_model(g.q, so);
  const double r_cm = 0.05;  // 1 mm across
  const CapillaryWall wall{0.02 / 0.5, *mc.mu * r_cm};
  const CapillaryBeam beam{0.4 / 0.5, BeamProfile::kGaussian, 0.0};
  const double k = 1500.0, n_c = container ? 0.3 : 0.0;
  std::vector<double> sc, c;
  for (std::size_t i = 0; i < g.q.size(); ++i) {
    const double tt = two_theta_of(g.q[i]);
    const PaalmanPings a = paalman_pings(tt, *o.absorption.mu_x, wall, beam, 16);
    const double p = polarization(tt, o.polarization), r = ruland_window(tt, kLambda, *o.ruland);
    const double own = ms.f2[i] + ms.f_mean_sq[i] * (g.s[i] - 1.0) + r * ms.compton[i];
    const double glass = mc.f2[i] + mc.f_mean_sq[i] * (s_c[i] - 1.0) + r * mc.compton[i];
    sc.push_back(k * p * (a.a_s_sc * own + n_c * a.a_c_sc * glass) + o.flat);
    c.push_back(k * p * n_c * a.a_c_c * glass);
  }
  g.sample = counted(g.q, sc, seed);
  g.container = counted(g.q, c, seed + 1);
  return g;
}

// The differences from the true S in units of the reduction's own sigma:
// their mean square over Q from 1 to 16 1/A.
double chi2_per_point(const Reduction& red, const Glass& g) {
  double sum = 0.0;
  int n = 0;
  for (std::size_t i = 0; i < red.sq.x.size(); ++i) {
    const double q = red.sq.x[i];
    if (q < 1.0 || q > 16.0) continue;
    const std::size_t k = static_cast<std::size_t>(std::lround((q - 0.6) / 0.02));
    sum += std::pow((red.sq.y[i] - g.s[k]) / red.sq.sigma[i], 2);
    ++n;
  }
  return sum / n;
}

TEST(PdfPhysical, GlassInASilicaCapillaryComesBack) {
  const ReductionOptions o = glass_options();
  const Glass g = measure_glass(o, 7);
  const Result<Reduction> red = reduce(Inputs{&g.sample, nullptr, &g.container}, o);
  ASSERT_TRUE(red.ok()) << red.error().message;
  EXPECT_LT(chi2_per_point(*red, g), 2.0);
  ASSERT_TRUE(red->diagnostics);
  EXPECT_NEAR(red->diagnostics->high_q_mean, 1.0, 0.01);
  ASSERT_TRUE(red->diagnostics->low_r_rms);
  EXPECT_LT(*red->diagnostics->low_r_rms, 0.2);
  EXPECT_TRUE(red.warnings().empty()) << red.warnings()[0];

  // Each factor left out or wrong shows: the glass's S is no longer the one measured.
  struct Wrong {
    const char* what;
    ReductionOptions o;
  };
  std::vector<Wrong> wrong;
  for (int k = 0; k < 5; ++k) {
    ReductionOptions w = o;
    const char* what = "";
    if (k == 0) w.container_scale = 0.0, what = "no container";
    if (k == 1) w.beam_width.reset(), what = "the whole capillary lit";
    if (k == 2) w.ruland.reset(), what = "no Ruland window";
    if (k == 3) w.flat = 0.0, what = "no flat term";
    if (k == 4) w.container_composition = "PbO", what = "a lead glass for the silica";
    wrong.push_back({what, w});
  }
  for (const Wrong& w : wrong) {
    const Result<Reduction> bad = reduce(Inputs{&g.sample, nullptr, &g.container}, w.o);
    ASSERT_TRUE(bad.ok()) << w.what;
    EXPECT_GT(chi2_per_point(*bad, g), 4.0) << w.what;
  }
}

TEST(PdfPhysical, FittedMuRComesBackWithItsSigma) {
  ReductionOptions truth = glass_options();
  const Glass g = measure_glass(truth, 21, false);
  ReductionOptions start = truth;
  start.container_composition.clear();
  start.container_density.reset();
  start.container_wall.reset();
  start.absorption.mu_x = 0.95;  // 19 % high
  const Inputs in{&g.sample};
  const FitSpec fit[] = {{Fitted::kMuR, std::nullopt, std::nullopt}};
  const Result<Optimization> f = optimize(in, start, fit);
  ASSERT_TRUE(f.ok()) << f.error().message;
  ASSERT_EQ(f->parameters.size(), 1u);
  const FittedParameter& mu = f->parameters[0];
  EXPECT_EQ(mu.start, 0.95);
  EXPECT_NEAR(mu.value, 0.8, 0.02);
  EXPECT_GT(mu.sigma, 0.0);
  EXPECT_LT(mu.sigma, 0.05);
  EXPECT_FALSE(mu.at_bound);
  EXPECT_LT(f->cost_after, 0.5 * f->cost_before);
  EXPECT_GT(f->reductions, 2);
  EXPECT_LT(f->reductions, 60);
  EXPECT_EQ(f->options.absorption.mu_x, mu.value);
  // The fitted options reduce to the glass.
  const Result<Reduction> red = reduce(in, f->options);
  ASSERT_TRUE(red.ok());
  EXPECT_LT(chi2_per_point(*red, g), 2.0);

  // Bounds as given hold; what cannot be fitted is refused.
  const FitSpec held[] = {{Fitted::kMuR, 0.9, 1.2}};
  const Result<Optimization> h = optimize(in, start, held);
  ASSERT_TRUE(h.ok());
  EXPECT_EQ(h->parameters[0].value, 0.9);
  EXPECT_TRUE(h->parameters[0].at_bound);
  EXPECT_EQ(h->parameters[0].sigma, 0.0);
  EXPECT_FALSE(h.warnings().empty());
  const FitSpec outside[] = {{Fitted::kMuR, 1.0, 1.2}};
  EXPECT_FALSE(optimize(in, start, outside).ok());
  const FitSpec bg[] = {{Fitted::kBgScale, std::nullopt, std::nullopt}};
  EXPECT_FALSE(optimize(in, start, bg).ok());
  const FitSpec container[] = {{Fitted::kContainerScale, std::nullopt, std::nullopt}};
  EXPECT_FALSE(optimize(in, start, container).ok());
  ReductionOptions adhoc = start;
  adhoc.mode = Mode::kAdhoc;
  EXPECT_FALSE(optimize(in, adhoc, fit).ok());
  EXPECT_FALSE(optimize(in, start, {}).ok());
}

// The real CeO2 capillary (Mo Kalpha, 0.635 mm), as a user reduces it: its
// z-scan gives mu D and the beam's width, mu R is fitted, Lorch's window, no
// low-r iteration. The files record no wavelength: Mo Kalpha's weighted mean,
// 0.71073 A, puts the Bragg peaks (111) to (731) where fluorite's a = 5.411 A
// does, 0.03 degrees rms and without a trend in 2theta. Below
// Q = 0.5 1/A the pattern rises as the powder's small-angle scattering (S(Q)
// 5.6 at 0.31 1/A), which the atoms' G(r) does not hold: qmin 0.5.
std::string lab(const char* name) { return std::string(TALVO_TEST_FILES_DIR) + "lab_xy/" + name; }

double rms_between(const Curve& g, double rho0, double from, double to) {
  double sum = 0.0;
  int n = 0;
  for (std::size_t j = 0; j < g.x.size(); ++j)
    if (g.x[j] >= from - 1e-9 && g.x[j] <= to + 1e-9) {
      sum += std::pow(g.y[j] + 4.0 * kPi * rho0 * g.x[j], 2);
      ++n;
    }
  return std::sqrt(sum / n);
}

double peak_near(const Curve& g, double r0) {
  std::size_t best = 0;
  for (std::size_t j = 1; j + 1 < g.x.size(); ++j)
    if (std::abs(g.x[j] - r0) < 0.15 && (best == 0 || g.y[j] > g.y[best])) best = j;
  const double y0 = g.y[best - 1], y1 = g.y[best], y2 = g.y[best + 1];
  return g.x[best] + 0.5 * (y0 - y2) / (y0 - 2.0 * y1 + y2) * (g.x[best + 1] - g.x[best]);
}

TEST(PdfPhysical, CeriaWithItsZScanAndFittedMuR) {
  const Result<Pattern> p = read_pattern(lab("CeO2_635um_accum_0.xy"), InputFormat::kTwoTheta);
  ASSERT_TRUE(p.ok());
  OptionValues t;
  t.values = {
      {"composition", "CeO2"},         {"density", "7.215"}, {"wavelength", "0.71073"}, {"geometry", "capillary"},
      {"capillary-diameter", "0.635"}, {"window", "lorch"},  {"qmin", "0.5"},          {"optimize", "mu-r"}};
  Result<ReductionSettings> s = reduction_settings(t, std::nullopt, Spelling::kCommandLine);
  ASSERT_TRUE(s.ok()) << s.error().message;
  const Result<ZScan> scan = read_zscan(lab("CeO2_635um_zscan.xy"));
  ASSERT_TRUE(scan.ok());
  const Result<ZScanFit> z = apply_zscan(*scan, *s);
  ASSERT_TRUE(z.ok());
  EXPECT_EQ(s->options.absorption.mu_x, 0.5 * z->mu_d.value);
  EXPECT_EQ(s->options.beam_width, z->width.value);

  const Inputs in{&*p};
  const Result<Optimization> fit = optimize(in, s->options, s->optimize);
  ASSERT_TRUE(fit.ok()) << fit.error().message;
  const double mu_r = fit->parameters[0].value;
  EXPECT_NEAR(mu_r, 0.5 * z->mu_d.value, 0.1 * 0.5 * z->mu_d.value);  // within 10 % of the z-scan's
  const Result<Reduction> red = reduce(in, fit->options);
  ASSERT_TRUE(red.ok()) << red.error().message;
  const double rho0 = *red->number_density;

  // S tends to 1: its mean over 12 to 16.5 1/A.
  double sum = 0.0;
  int n = 0;
  for (std::size_t i = 0; i < red->sq.x.size(); ++i)
    if (red->sq.x[i] >= 12.0 && red->sq.x[i] <= 16.5) sum += red->sq.y[i], ++n;
  EXPECT_NEAR(sum / n, 1.0, 0.05);
  // Nowhere far below its floor above Q = 1 1/A: the diagnostics' smoothed S there.
  const Diagnostics& d = *red->diagnostics;
  EXPECT_GT(d.lowest_smoothed, d.floor_there - 0.1);
  for (const std::string& w : red.warnings()) EXPECT_EQ(w.find("below the floor"), std::string::npos) << w;
  // G follows -4 pi rho0 r below the first distance.
  EXPECT_LE(rms_between(red->gr, rho0, 1.0, 2.0), 0.55);
  EXPECT_LE(rms_between(red->gr, rho0, 0.3, 2.0), 0.8);
  // Fluorite's Ce-O and Ce-Ce distances, a sqrt(3) / 4 and a / sqrt(2).
  const double a = 5.411;
  EXPECT_NEAR(peak_near(red->gr, a * std::sqrt(3.0) / 4.0), 2.343, 0.01);
  EXPECT_NEAR(peak_near(red->gr, a / std::sqrt(2.0)), 3.826, 0.01);
}

// The ceria pattern cut to start at Q = 1 per Angstrom, as a pattern behind
// a large beam stop starts: with nothing below the first point (F = 0
// there), the low-r iteration to 1.6 A pushes S at the first points far
// below its floor 1 - <f^2>/<f>^2 (-0.92); extrapolated to S(0) = 0 by a line
// or a cubic, held while the iteration corrects the measured points, it no
// longer does. A step (S = 0 up to the data) goes part of the way. Measured
// (lowest smoothed S, the floor -0.918): none -1.31, step -1.02, linear
// -0.84, poly -0.82.
TEST(PdfPhysical, ExtrapolationBelowACutPatternKeepsTheIterationAboveTheFloor) {
  const Result<Pattern> whole = read_pattern(lab("CeO2_635um_accum_0.xy"), InputFormat::kTwoTheta);
  ASSERT_TRUE(whole.ok());
  const double lambda = 0.71073;
  Pattern p = *whole;
  p.x.clear();
  p.y.clear();
  p.sigma.clear();
  for (std::size_t i = 0; i < whole->x.size(); ++i)
    if (4.0 * kPi * std::sin(whole->x[i] * kPi / 360.0) / lambda >= 1.0) {
      p.x.push_back(whole->x[i]);
      p.y.push_back(whole->y[i]);
      if (!whole->sigma.empty()) p.sigma.push_back(whole->sigma[i]);
    }
  const Result<ZScan> scan = read_zscan(lab("CeO2_635um_zscan.xy"));
  ASSERT_TRUE(scan.ok());
  struct Run {
    double lowest, floor;
  };
  const auto run = [&](const char* how) -> Run {
    OptionValues t;
    t.values = {{"composition", "CeO2"},  {"density", "7.215"},        {"wavelength", "0.71073"},
                {"geometry", "capillary"}, {"capillary-diameter", "0.635"}, {"window", "lorch"},
                {"rmin-iterate", "1.6"},  {"extrapolate", how}};
    Result<ReductionSettings> s = reduction_settings(t, std::nullopt, Spelling::kCommandLine);
    EXPECT_TRUE(s.ok()) << s.error().message;
    EXPECT_TRUE(apply_zscan(*scan, *s).ok());
    const Result<Reduction> red = reduce(Inputs{&p}, s->options);
    EXPECT_TRUE(red.ok()) << red.error().message;
    EXPECT_NEAR(red->qmin, 1.0, 0.01);
    EXPECT_EQ(red->extrapolated > 0, std::string(how) != "none");
    return {red->diagnostics->lowest_smoothed, red->diagnostics->floor_there};
  };
  const Run none = run("none"), step = run("step"), linear = run("linear"), poly = run("poly");
  EXPECT_LT(none.lowest, none.floor - 0.3);
  EXPECT_GT(step.lowest, none.lowest + 0.2);
  EXPECT_GT(linear.lowest, linear.floor);
  EXPECT_GT(poly.lowest, poly.floor);
}

// The same pattern as the README once reduced it: the whole capillary taken as
// lit, mu R 1.75, no z-scan. It runs, and says what is wrong.
TEST(PdfPhysical, ReadmeCeriaWarns) {
  const Result<Pattern> p = read_pattern(lab("CeO2_635um_accum_0.xy"), InputFormat::kTwoTheta);
  ASSERT_TRUE(p.ok());
  OptionValues t;
  t.values = {{"composition", "CeO2"},   {"density", "7.215"}, {"anode", "MoKa"},
              {"geometry", "capillary"}, {"mu-r", "1.75"},     {"window", "lorch"}};
  const Result<ReductionSettings> s = reduction_settings(t, std::nullopt, Spelling::kCommandLine);
  ASSERT_TRUE(s.ok()) << s.error().message;
  const Result<Reduction> red = reduce(Inputs{&*p}, s->options);
  ASSERT_TRUE(red.ok());
  const Diagnostics& d = *red->diagnostics;
  EXPECT_GT(d.high_q_mean, 1.2);
  EXPECT_GT(*d.low_r_rms, 2.0);
  bool high_q = false, low_r = false;
  for (const std::string& w : red.warnings()) {
    high_q = high_q || w.find("does not tend to 1") != std::string::npos;
    low_r = low_r || w.find("-4 pi rho0 r") != std::string::npos;
  }
  EXPECT_TRUE(high_q);
  EXPECT_TRUE(low_r);
}

}  // namespace
}  // namespace talvo::pdf
