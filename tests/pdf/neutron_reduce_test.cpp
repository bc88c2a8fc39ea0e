// The neutron reduction against a forward model made here: a silica glass
// whose S(Q) is a hard-sphere Percus-Yevick one, in a vanadium can at
// 0.7 A, measured with the empty can, the empty instrument and a vanadium
// rod, each with its own monitor; the attenuation, multiple scattering and
// Placzek terms applied forward with the factors the reduction makes, the
// atoms lit counted here from the sizes, and Poisson noise of a fixed seed.
// Reduced back, S(Q) is the model's within its sigma; each correction left
// out, it is not. Bad runs are refused in words.
#include "talvo/pdf/neutron_reduce.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "talvo/pdf/neutron_optimize.hpp"
#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

const NeutronTable& table() {
  static const NeutronTable t = [] {
    Result<NeutronTable> read = read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
    EXPECT_TRUE(read.ok());
    return read.ok() ? std::move(*read) : NeutronTable{};
  }();
  return t;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Result<Options> options(const Pairs& extra = {}) {
  OptionValues v;
  for (const auto& [k, t] : Pairs{{"sample", "SiO2"},
                                  {"number-density", "0.0662"},
                                  {"radius", "3"},
                                  {"height", "40"},
                                  {"container", "V"},
                                  {"container-number-density", "0.0722"},
                                  {"container-outer", "3.1"},
                                  {"vanadium-radius", "3"},
                                  {"vanadium-height", "40"},
                                  {"vanadium-number-density", "0.0722"},
                                  {"beam-height", "20"},
                                  {"wavelength", "0.7"},
                                  {"histories", "20000"},
                                  {"r", "0:10:0.02"}})
    v.values[k] = t;
  for (const auto& [k, t] : extra) v.values[k] = t;
  return read_options(neutron_reduction_options(), v, Spelling::kCommandLine);
}

// Percus-Yevick hard spheres of packing eta, diameter d: S = 1 / (1 - rho c(Q)),
// rho c(Q) = -24 eta int_0^1 s^2 (alpha + beta s + gamma s^3) sin(x s) / (x s) ds, x = Q d,
// by Simpson's rule on 400 intervals.
double percus_yevick(double q, double eta, double d) {
  const double e4 = std::pow(1.0 - eta, 4.0);
  const double alpha = (1.0 + 2.0 * eta) * (1.0 + 2.0 * eta) / e4;
  const double beta = -6.0 * eta * (1.0 + 0.5 * eta) * (1.0 + 0.5 * eta) / e4;
  const double gamma = 0.5 * eta * alpha;
  const double x = q * d;
  const int n = 400;
  double sum = 0.0;
  for (int k = 0; k <= n; ++k) {
    const double s = static_cast<double>(k) / n;
    const double xs = x * s;
    const double f = s * s * (alpha + beta * s + gamma * s * s * s) * (xs > 1e-8 ? std::sin(xs) / xs : 1.0);
    sum += f * (k == 0 || k == n ? 1.0 : (k % 2 ? 4.0 : 2.0));
  }
  const double rho_c = -24.0 * eta * sum / (3.0 * n);
  return 1.0 / (1.0 - rho_c);
}

struct Measured {
  NeutronRun sample, can, background, vanadium, vanadium_background;
  std::vector<double> s_true;
  NeutronRuns runs() const { return {&sample, &can, &background, &vanadium, &vanadium_background}; }
};

// The lengths of Sears 1992 written here (fm, barn), not read from the table.
constexpr double kBSi = 4.1491, kBO = 5.803, kSigmaSi = 2.167, kSigmaO = 4.232, kSigmaV = 5.10;

// shared: the vanadium measured over the instrument's own background, with no run of its own.
Measured forward(const NeutronFactorSet& f, bool shared = false) {
  Measured m;
  const double rho = 0.0662, eta = 0.4, d = std::cbrt(6.0 * eta / (kPi * rho));
  const double b_mean = (kBSi + 2.0 * kBO) / 3.0, b_mean_sq = b_mean * b_mean / 100.0;
  const double self = (kSigmaSi + 2.0 * kSigmaO) / 3.0 / (4.0 * kPi), v_self = kSigmaV / (4.0 * kPi);
  // Atoms lit in a beam 2 cm high: whole cross-sections, cm2 times cm.
  const double n_s = rho * kPi * 0.3 * 0.3 * 2.0, n_v = 0.0722 * kPi * 0.3 * 0.3 * 2.0;
  const double n_c = 0.0722 * kPi * (0.31 * 0.31 - 0.3 * 0.3) * 2.0;
  const double flux = 1.0 / (n_s * self);
  std::mt19937_64 rng(47);
  auto counts = [&](NeutronRun& run, double monitor, double per_monitor) {
    run.monitor = monitor;
    const double mean = monitor * per_monitor;
    std::poisson_distribution<long> p(mean);
    const double c = static_cast<double>(p(rng));
    run.counts.push_back(c);
    run.sigma.push_back(std::sqrt(std::max(c, 1.0)));
  };
  for (std::size_t i = 0; i < f.two_theta.size(); ++i) {
    const double tt = f.two_theta[i], q = f.q[i];
    for (NeutronRun* r : {&m.sample, &m.can, &m.background, &m.vanadium, &m.vanadium_background})
      r->two_theta.push_back(tt);
    const double s = percus_yevick(q, eta, d);
    m.s_true.push_back(s);
    const double dcs_s = b_mean_sq * (s - 1.0) + self * (1.0 + f.p_sample[i]);
    const double dcs_c = v_self * (1.0 + f.p_vanadium[i]), dcs_v = dcs_c;
    const double bg = 0.08 * (1.0 + 0.5 * std::exp(-tt / 20.0)), vbg = shared ? bg : 0.05;
    const double single_c = n_c * dcs_c;
    counts(m.sample, 1.0e6, flux * (n_s * dcs_s * f.a_s_sc[i] + single_c * f.a_c_sc[i]) * (1.0 + f.delta_sc[i]) + bg);
    counts(m.can, 0.6e6, flux * single_c * f.a_c_c[i] * (1.0 + f.delta_c[i]) + bg);
    counts(m.background, 0.3e6, bg);
    counts(m.vanadium, 0.8e6, flux * n_v * dcs_v * f.a_v[i] * (1.0 + f.delta_v[i]) + vbg);
    counts(m.vanadium_background, 0.25e6, vbg);
  }
  return m;
}

std::vector<double> pattern_angles() {
  std::vector<double> tt;
  for (int i = 0; i < 1500; ++i) tt.push_back(2.0 + 0.085 * i);
  return tt;
}

const NeutronFactorSet& factors() {
  static const NeutronFactorSet f = [] {
    const Result<Options> o = options();
    EXPECT_TRUE(o.ok()) << o.error().message;
    Result<NeutronFactorSet> r = neutron_factors(pattern_angles(), *o, table());
    EXPECT_TRUE(r.ok()) << r.error().message;
    return r.ok() ? std::move(*r) : NeutronFactorSet{};
  }();
  return f;
}

// The mean square of (S - S_true) / sigma, and the largest |S - S_true|.
std::pair<double, double> departure(const NeutronReduction& red, const Measured& m, const NeutronFactorSet& f) {
  double chi2 = 0.0, worst = 0.0;
  std::size_t k = 0;
  for (std::size_t i = 0; i < f.q.size(); ++i) {
    if (f.q[i] < red.sq.x.front() - 1e-12) continue;
    const double d = red.sq.y[k] - m.s_true[i];
    chi2 += d * d / (red.sq.sigma[k] * red.sq.sigma[k]);
    worst = std::max(worst, std::abs(d));
    ++k;
  }
  return {chi2 / static_cast<double>(k), worst};
}

TEST(NeutronReduce, ForwardModelComesBackWithinItsNoise) {
  const NeutronFactorSet& f = factors();
  ASSERT_EQ(f.two_theta.size(), 1500u);
  const Measured m = forward(f);
  const Result<Options> o = options();
  ASSERT_TRUE(o.ok());
  const Result<NeutronReduction> red = reduce_neutron(m.runs(), f, *o);
  ASSERT_TRUE(red.ok()) << red.error().message;
  ASSERT_EQ(red->sq.x.size(), 1500u);
  const auto [chi2, worst] = departure(*red, m, f);
  EXPECT_GT(chi2, 0.8);
  EXPECT_LT(chi2, 1.2);
  EXPECT_LT(worst, 0.02);
  // The self term the model put in: <b^2> of Sears' cross-sections, |<b>|^2 of its lengths.
  EXPECT_NEAR(red->self_static, (kSigmaSi + 2.0 * kSigmaO) / 3.0 / (4.0 * kPi), 1e-3);
  EXPECT_NEAR(red->b_mean_sq, std::pow((kBSi + 2.0 * kBO) / 3.0, 2.0) / 100.0, 1e-4);
  // The high-Q level is 1 within its sigma, and nothing is flagged.
  EXPECT_NEAR(red->diagnostics.high_q_mean, 1.0, 4.0 * red->diagnostics.high_q_sigma + 1e-3);
  EXPECT_TRUE(red->diagnostics.warnings.empty());
  // G(r) follows -4 pi rho0 r inside the hard core (d = 2.26 A), to within the ripples of a Q range cut at 16 1/A.
  ASSERT_TRUE(red->diagnostics.low_r_rms.has_value());
  EXPECT_LT(*red->diagnostics.low_r_rms, 0.15 * 4.0 * kPi * 0.0662);
  // Placzek's part is there: the self term at the top angle is below the static one (light O recoils).
  EXPECT_LT(red->self.back(), 0.95 * red->self_static);
}

TEST(NeutronReduce, TheInstrumentsBackgroundServesTheVanadiumToo) {
  // The one background run then enters the sample and the vanadium alike: its errors correlate the two,
  // and the sigma says so (the mean square departure over sigma stays 1).
  const NeutronFactorSet& f = factors();
  const Measured m = forward(f, true);
  NeutronRuns runs = m.runs();
  runs.vanadium_background = nullptr;
  const Result<Options> o = options();
  ASSERT_TRUE(o.ok());
  const Result<NeutronReduction> red = reduce_neutron(runs, f, *o);
  ASSERT_TRUE(red.ok()) << red.error().message;
  const auto [chi2, worst] = departure(*red, m, f);
  EXPECT_GT(chi2, 0.8);
  EXPECT_LT(chi2, 1.2);
  EXPECT_LT(worst, 0.02);
}

TEST(NeutronReduce, LowRIterationBringsGToItsLine) {
  const NeutronFactorSet& f = factors();
  const Measured m = forward(f);
  const Result<Options> plain = options(), iterated = options({{"rmin-iterate", "1.8"}});
  ASSERT_TRUE(plain.ok() && iterated.ok());
  const Result<NeutronReduction> a = reduce_neutron(m.runs(), f, *plain), b = reduce_neutron(m.runs(), f, *iterated);
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(a->iterations, 0);
  EXPECT_GT(b->iterations, 0);
  ASSERT_TRUE(a->diagnostics.low_r_rms && b->diagnostics.low_r_rms);
  EXPECT_LT(*b->diagnostics.low_r_rms, 0.5 * *a->diagnostics.low_r_rms);
  // S follows F: S - 1 = F / Q at every point after the iteration too.
  for (std::size_t i = 0; i < b->sq.x.size(); i += 100) EXPECT_NEAR(b->sq.y[i] - 1.0, b->fq.y[i] / b->fq.x[i], 1e-12);
}

TEST(NeutronReduce, EachCorrectionLeftOutFails) {
  const NeutronFactorSet& f = factors();
  const Measured m = forward(f);
  for (const char* left_out : {"monitor", "background", "can", "attenuation", "multiple-scattering", "placzek"}) {
    SCOPED_TRACE(left_out);
    const Result<Options> o = options({{"omit", left_out}});
    ASSERT_TRUE(o.ok()) << o.error().message;
    const Result<NeutronReduction> red = reduce_neutron(m.runs(), f, *o);
    ASSERT_TRUE(red.ok()) << red.error().message;
    const auto [chi2, worst] = departure(*red, m, f);
    EXPECT_GT(chi2, 10.0);
    EXPECT_GT(worst, 0.02);
  }
}

// A run reduced with a density and a can's scale both wrong, fitted back to the model's with their sigmas, and
// the factors made again about the fitted density.
TEST(NeutronOptimize, AWrongDensityAndCanScaleComeBackToTheModels) {
  const NeutronFactorSet& truth = factors();
  const Measured m = forward(truth);
  const Result<Options> o = options(
      {{"number-density", "0.058"}, {"can-scale", "1.3"}, {"optimize", "density,can-scale"}, {"window", "lorch"}});
  ASSERT_TRUE(o.ok()) << o.error().message;
  const Result<NeutronFactorSet> start = neutron_factors(pattern_angles(), *o, table());
  ASSERT_TRUE(start.ok());
  const Result<NeutronReduction> before = reduce_neutron(m.runs(), *start, *o);
  ASSERT_TRUE(before.ok());
  const Result<NeutronOptimization> fit = optimize_neutron(m.runs(), *start, *o, table());
  ASSERT_TRUE(fit.ok()) << fit.error().message;
  ASSERT_EQ(fit->parameters.size(), 2u);
  const NeutronFittedParameter &n = fit->parameters[0], &c = fit->parameters[1];
  EXPECT_EQ(n.what, NeutronFitted::kDensity);
  EXPECT_DOUBLE_EQ(n.start, 0.058);
  EXPECT_GT(n.sigma, 0.0);
  EXPECT_LT(n.sigma, 0.002);
  // Within 3 sigma: the sigmas count the G(r) points as correlated over pi / Qmax, as they are.
  EXPECT_NEAR(n.value, 0.0662, 3.0 * n.sigma);
  EXPECT_NEAR(c.value, 1.0, 3.0 * c.sigma);
  EXPECT_LT(fit->cost_after, 0.1 * fit->cost_before);
  EXPECT_GE(fit->rounds, 2);
  EXPECT_TRUE(fit.warnings().empty()) << fit.warnings().front();
  // The settings and the factors are the fitted density's, so the reduction proper is the model's again.
  EXPECT_DOUBLE_EQ(fit->options.number("number-density"), n.value);
  EXPECT_DOUBLE_EQ(fit->options.number("can-scale"), c.value);
  EXPECT_NEAR(fit->factors.number_density, n.value, 1e-12);
  const Result<NeutronReduction> after = reduce_neutron(m.runs(), fit->factors, fit->options);
  ASSERT_TRUE(after.ok());
  EXPECT_GT(departure(*before, m, truth).first, 10.0);
  EXPECT_LT(departure(*after, m, truth).first, 2.0);
  EXPECT_NE(after->settings.find("can-scale = " + shortest(c.value)), std::string::npos);
}

TEST(NeutronOptimize, AScaleAndAFlatComeBackWithoutTheDensity) {
  const NeutronFactorSet& f = factors();
  const Measured m = forward(f);
  const Result<Options> o =
      options({{"sample-scale", "0.85"}, {"flat", "0.01"}, {"optimize", "sample-scale,flat"}, {"window", "lorch"}});
  ASSERT_TRUE(o.ok()) << o.error().message;
  const Result<NeutronOptimization> fit = optimize_neutron(m.runs(), f, *o, table());
  ASSERT_TRUE(fit.ok()) << fit.error().message;
  EXPECT_EQ(fit->rounds, 1);
  EXPECT_NEAR(fit->parameters[0].value, 1.0, 3.0 * fit->parameters[0].sigma);
  EXPECT_NEAR(fit->parameters[1].value, 0.0, 3.0 * fit->parameters[1].sigma);
  EXPECT_LT(fit->parameters[0].sigma, 0.02);
  // The factors are the ones given: nothing about the geometry changed.
  EXPECT_EQ(fit->factors.a_s_sc, f.a_s_sc);
}

TEST(NeutronOptimize, BadListsAreRefusedInWords) {
  const NeutronFactorSet& f = factors();
  const Measured m = forward(f);
  const auto refused = [&](const char* list) {
    const Result<Options> o = options({{"optimize", list}});
    if (!o.ok()) return o.error().message;
    const Result<NeutronOptimization> fit = optimize_neutron(m.runs(), f, *o, table());
    EXPECT_FALSE(fit.ok()) << list;
    EXPECT_EQ(fit.kind(), ErrorKind::kInvalidArgument) << list;
    return fit.ok() ? std::string() : fit.error().message;
  };
  EXPECT_NE(refused("mu-r").find("density, sample-scale, can-scale and flat"), std::string::npos);
  EXPECT_NE(refused("density,density").find("names density twice"), std::string::npos);
  EXPECT_NE(refused("density:0.07:0.06").find("LOW below HIGH"), std::string::npos);
  EXPECT_NE(refused("density:0.07:0.08").find("density starts at 0.0662, outside its bounds 0.07 to 0.08"),
            std::string::npos);
  const Result<Options> none = options();
  ASSERT_TRUE(none.ok());
  EXPECT_FALSE(optimize_neutron(m.runs(), f, *none, table()).ok());
}

TEST(NeutronReduce, BadRunsAreRefusedInWords) {
  const NeutronFactorSet& f = factors();
  const Measured m = forward(f);
  const Result<Options> o = options();
  ASSERT_TRUE(o.ok());
  struct Case {
    const char* what;
    Measured runs;
    const char* words;
  };
  std::vector<Case> cases;
  Measured zero = m;
  zero.background.monitor = 0.0;
  cases.push_back({"a monitor of 0", zero, "the background's monitor count must be above 0"});
  Measured other = m;
  other.vanadium.wavelength = 0.5;
  cases.push_back({"vanadium of another wavelength", other, "the vanadium was measured at 0.5 A"});
  Measured shifted = m;
  shifted.can.two_theta[100] += 0.01;
  cases.push_back({"2theta that differ", shifted, "the empty can's 2theta 10.51 at point 101"});
  Measured shorter = m;
  shorter.vanadium.two_theta.pop_back();
  shorter.vanadium.counts.pop_back();
  shorter.vanadium.sigma.pop_back();
  cases.push_back({"fewer points", shorter, "the vanadium has 1499 points, the sample 1500"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result<NeutronReduction> red = reduce_neutron(c.runs.runs(), f, *o);
    ASSERT_FALSE(red.ok());
    EXPECT_EQ(red.kind(), ErrorKind::kInvalidArgument);
    EXPECT_NE(red.error().message.find(c.words), std::string::npos) << red.error().message;
  }
  // Factors made without a can, for runs with one.
  NeutronFactorSet canless = f;
  canless.a_c_sc.clear();
  canless.a_c_c.clear();
  canless.delta_c.clear();
  const Result<NeutronReduction> r0 = reduce_neutron(m.runs(), canless, *o);
  ASSERT_FALSE(r0.ok());
  EXPECT_NE(r0.error().message.find("made without a can"), std::string::npos) << r0.error().message;
  // A can thinner than nothing.
  const Result<Options> thin = options({{"container-inner", "3.2"}});
  ASSERT_TRUE(thin.ok());
  const Result<NeutronFactorSet> nf = neutron_factors(pattern_angles(), *thin, table());
  ASSERT_FALSE(nf.ok());
  EXPECT_NE(nf.error().message.find("thinner than nothing"), std::string::npos) << nf.error().message;
  // A can's run without a can, and the reverse.
  Measured no_can = m;
  NeutronRuns without = no_can.runs();
  without.can = nullptr;
  const Result<NeutronReduction> r1 = reduce_neutron(without, f, *o);
  ASSERT_FALSE(r1.ok());
  EXPECT_NE(r1.error().message.find("without the empty can's run"), std::string::npos) << r1.error().message;
}

TEST(NeutronReduce, RunFilesGiveTheirMonitorAndWavelength) {
  const Result<NeutronRun> r =
      parse_neutron_run("# vanadium rod\n# monitor = 2.5e6\n# wavelength 0.7\n10 100 10\n10.5 121\n11 0\n", "v.dat");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r->monitor, 2.5e6);
  EXPECT_EQ(r->wavelength, 0.7);
  EXPECT_EQ(r->counts, (std::vector<double>{100, 121, 0}));
  EXPECT_EQ(r->sigma, (std::vector<double>{10, 11, 1}));
  for (const auto& [text, words] :
       std::vector<std::pair<const char*, const char*>>{{"10 1\n11 2\n12 3\n", "has no monitor line"},
                                                        {"# monitor x\n10 1\n11 2\n12 3\n", "v.dat line 1"},
                                                        {"# monitor 5\n10 1\n9 2\n12 3\n", "does not rise"},
                                                        {"# monitor 5\n10 1 2 3\n", "holds 4 numbers"}}) {
    const Result<NeutronRun> bad = parse_neutron_run(text, "v.dat");
    ASSERT_FALSE(bad.ok()) << text;
    EXPECT_NE(bad.error().message.find(words), std::string::npos) << bad.error().message;
  }
}

}  // namespace
}  // namespace talvo::pdf
