// The constant-wavelength neutron reduction: from the counts of a sample in
// its can, the empty can, the empty instrument and a vanadium rod (with its
// own background), each against 2theta with its monitor count, to the
// differential cross-section per atom, S(Q), F(Q) and G(r). Its stages, in
// the order reduce_neutron runs them:
//
//   normalise_monitor     every run's counts and sigma over its monitor count
//   subtract_background   the empty instrument from the sample in its can and from the can, the vanadium's
//                         own background from the vanadium
//   remove_multiple       each run over 1 + delta, delta its multiple scattering over its single scattering,
//                         both attenuated (multiple_scattering.hpp): the sample and can together for the
//                         sample in its can, the can alone for the empty can, the rod for the vanadium. The
//                         ratio is of everything a run's scatterers scatter, so it divides each run before
//                         the runs are subtracted.
//   subtract_can          I_s = [I_sc - (A_c,sc / A_c,c) I_c] / A_s,sc  (Paalman and Pings 1962)
//   normalise_vanadium    dsigma/dOmega = (I_s / N_s) / (I_v / (A_v N_v)) (sigma_v / 4pi)(1 + P_v), N the atoms
//                         lit; the vanadium's coherent scattering (|<b>|^2 0.0015 b against sigma_s / 4pi
//                         0.41 b, Sears 1992) is left out: its Bragg peaks are a few 1e-3 of its level
//   structure             S(Q) - 1 = [dsigma/dOmega - (sigma_s / 4pi)(1 + P_s)] / <b>^2 (Faber-Ziman), the
//                         self term <b^2> = sigma_s / 4pi per atom (bound, Sears 1992) less its Placzek part;
//                         F(Q) = Q [S(Q) - 1] on qmin to qmax
//   transform             G(r) by the X-ray reduction's transform_fq (Filon), its low-r iteration when asked
//   diagnose              the high-Q mean of S against 1, S against its floor 1 - (sigma_s / 4pi)(1 + P) / <b>^2
//                         (the cross-section is never negative), G against -4 pi rho0 r at low r
//
// Each point's sigma is carried from the counts through every stage (the runs
// independent); the factors' and delta's own errors are not added to it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/pdf/diagnostics.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/result.hpp"
#include "talvo/text/options.hpp"

namespace talvo::pdf {

// One measured run: counts against 2theta (degrees, rising), their sigma
// and the monitor's count; the wavelength where the run's file states one.
struct NeutronRun {
  std::vector<double> two_theta, counts, sigma;
  double monitor = 0.0;
  std::optional<double> wavelength;  // Angstrom
};

// Plain columns 2theta, counts[, sigma] (sigma sqrt(counts), at least 1,
// without the third), '#' lines comments, one of which gives the monitor
// ("# monitor 1.5e6", "# monitor = 1.5e6") and may give the wavelength
// ("# wavelength 0.7"). kParseError naming the line for a line that is not
// two or three numbers or a monitor that is no number; kInvalidArgument for
// no monitor line, fewer than 3 points, 2theta that does not rise, a sigma
// not above 0. `source` names the text in messages.
Result<NeutronRun> parse_neutron_run(std::string_view text, std::string_view source);

// The runs of one reduction. The can may be absent (a sample with no
// container: --container not given), and so may the vanadium's background
// (the instrument's is then used).
struct NeutronRuns {
  const NeutronRun* sample = nullptr;  // in its can
  const NeutronRun* can = nullptr;
  const NeutronRun* background = nullptr;
  const NeutronRun* vanadium = nullptr;
  const NeutronRun* vanadium_background = nullptr;
};

// Every option of the neutron reduction, names as ncorr's where they are
// the same thing; the runs' files (can, background, vanadium,
// vanadium-background) are read by the caller and named here so that a
// header reruns them.
const OptionTable& neutron_reduction_options();

// What depends only on the geometry, the materials, the wavelength and the
// 2theta grid: made once, reused for every pattern of a series.
struct NeutronFactorSet {
  std::vector<double> two_theta, q;
  std::vector<double> a_s_sc, a_c_sc, a_c_c, a_v;   // A_s,sc (A_s,s without a can); the vanadium rod's A_s,s
  std::vector<double> delta_sc, delta_c, delta_v;   // multiple over single: sample and can, can alone, vanadium
  std::vector<double> p_sample, p_vanadium;         // Placzek's fraction of sigma_s / 4pi
  double self = 0.0;                                // sigma_s / 4pi of the sample, b/sr per atom
  double b_mean_sq = 0.0;                           // |<b>|^2 of the sample, barn
  double vanadium_self = 0.0;                       // sigma_s / 4pi of vanadium, b/sr per atom
  double sample_atoms = 0.0, vanadium_atoms = 0.0;  // n times the lit volume, in atoms per A3 cm3
  double number_density = 0.0;                      // the sample's, atoms per A3
  double delta_sigma = 0.0;                         // the largest Monte Carlo sigma of any delta
  std::vector<std::string> notes;                   // the tables and methods used, one line each
};

// The factors at each 2theta: Paalman-Pings factors each whole degree,
// interpolated (cylinder_factor_table); delta at nodes 2.5 degrees apart
// from one Monte Carlo of each body (seed and histories from the options)
// and P each whole degree, both interpolated by four-point Lagrange
// polynomials. kInvalidArgument for options that cannot be (a can thinner
// than nothing, a sample wider than its can, no wavelength), and the errors
// of the materials and methods.
Result<NeutronFactorSet> neutron_factors(std::span<const double> two_theta, const Options& options,
                                         const NeutronTable& table);

struct NeutronReduction {
  Curve dcs;                                  // Q, dsigma/dOmega per atom (b/sr), sigma
  std::vector<double> two_theta;              // of each dcs point
  std::vector<double> self;                   // (sigma_s / 4pi)(1 + P) on dcs.x
  Curve sq, fq, gr;                           // sq and fq from qmin to qmax
  double b_mean_sq = 0.0, self_static = 0.0;  // |<b>|^2 and sigma_s / 4pi, barn
  double number_density = 0.0;
  double qmin = 0.0, qmax = 0.0;
  int iterations = 0;     // rmin-iterate
  double residual = 0.0;  // its last rms
  Diagnostics diagnostics;
  std::string settings;            // "key = value" lines that rerun it (header_text)
  std::vector<std::string> notes;  // the factors' notes, then the stages'
};

// The reduction of `runs` with factors made for their 2theta. Refused in
// words (kInvalidArgument): a run missing, 2theta grids that differ (by
// more than 1e-6 degrees at any point) or differ from the factors', a monitor
// not above 0, a run's stated wavelength other than the options' (by more
// than 1e-4 of it), a can without --container or the reverse.
Result<NeutronReduction> reduce_neutron(const NeutronRuns& runs, const NeutronFactorSet& factors,
                                        const Options& options);

// The same, with the factors made for the sample's 2theta.
Result<NeutronReduction> reduce_neutron(const NeutronRuns& runs, const Options& options, const NeutronTable& table);

}  // namespace talvo::pdf
