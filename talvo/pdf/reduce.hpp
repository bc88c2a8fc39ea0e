// From a measured powder pattern to S(Q), F(Q) and G(r): the X-ray
// total-scattering reduction, with every correction made from physics
// ("physical" mode) or with the smooth distortions fitted away ("ad hoc"
// mode, after Juhas et al., J. Appl. Cryst. 46 (2013) 560), the counting
// errors carried through every step.
//
//   physical   I_c = (I - s I_bg - flat) / (P A)             polarisation P, absorption A over the lit band;
//              in a container, I_c = [I_sc - k (A_c,sc / A_c,c) I_c] / (P A_s,sc)  (Paalman and Pings 1962)
//              alpha from the Krogh-Moe/Norman sum rule (J. Krogh-Moe, Acta Cryst. 9 (1956) 951;
//              N. Norman, Acta Cryst. 10 (1957) 370):
//                alpha = [-2 pi^2 rho0 + int Q^2 (<f^2> + C) / <f>^2 dQ] / int Q^2 I_c / <f>^2 dQ
//              S(Q) = 1 + [alpha I_c - <f^2> - R C] / <f>^2  (Faber-Ziman), C with its Breit-Dirac factor,
//              R Ruland's window of a diffracted-beam monochromator (1 without)
//   ad hoc     I = a(Q) I_c + b(Q), a and b smooth (Juhas et al. 2013): F(Q) = Q (c I - <f^2>) / <f>^2 less
//              a polynomial in Q that vanishes at Q = 0, c from the intensity at high Q (stages.hpp)
//   both       F(Q) = Q [S(Q) - 1],  G(r) = (2/pi) int F(Q) M(Q) sin(Qr) dQ (Filon),
//              g(r) = 1 + G(r) / (4 pi r rho0),  R(r) = 4 pi r^2 rho0 g(r),  N(r) = int R dr
//   errors     sigma_alpha = alpha sigma_B / B for alpha = A / B, B = int Q^2 I_c / <f>^2 dQ by the
//              trapezoid rule: sigma_B^2 = sum_j (dB/dy_j)^2 sigma_j^2 over the measured points y_j,
//              through the same quadrature and interpolation weights
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/numeric/modification.hpp"
#include "talvo/pdf/capillary.hpp"
#include "talvo/pdf/corrections.hpp"
#include "talvo/pdf/diagnostics.hpp"
#include "talvo/pdf/pattern.hpp"
#include "talvo/pdf/sample_model.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

enum class Mode { kPhysical, kAdhoc };
// S(Q) below the first measured point (extrapolate_low_q, stages.hpp): none
// (F = 0 there), S0 (step), a line from S0 at Q = 0 (linear), a cubic from
// S0 (poly).
enum class LowQExtrapolation { kNone, kStep, kLinear, kPoly };
std::string_view low_q_extrapolation_name(LowQExtrapolation how);
std::optional<LowQExtrapolation> low_q_extrapolation_named(std::string_view name);
enum class Normalization { kKroghMoeNorman, kHighQ };


struct ReductionOptions {
  SampleModelOptions sample;         // composition, density, packing, Compton table; its wavelength is set
  std::optional<double> wavelength;  // Angstrom: needed for 2theta data and in physical mode
  Mode mode = Mode::kPhysical;
  // Physical mode.
  Absorption absorption;            // geometry and mu t or mu R
  std::optional<double> thickness;  // cm: plate thickness or capillary diameter, for mu from the density
  Polarization polarization;
  int breit_dirac = 3;  // exponent n of the recoil factor (lambda / lambda')^n: 2 or 3; 0: none
  Normalization normalization = Normalization::kKroghMoeNorman;
  std::optional<double> rmin_iterate;  // Angstrom: make G follow -4 pi rho0 r below it (Eggert et al. 2002)
  // A capillary lit by a beam narrower than it: the illuminated band (capillary.hpp).
  std::optional<double> capillary_diameter;  // mm: the sample's (the container's inner) diameter
  std::optional<double> beam_width;          // mm: a top hat's width or a Gaussian's FWHM; nothing: all lit
  BeamProfile beam_profile = BeamProfile::kTopHat;
  // The empty container measured alike (Inputs::container), removed with the Paalman-Pings factors.
  std::string container_composition;
  std::optional<double> container_density;  // g/cm3
  std::optional<double> container_wall;     // mm
  double container_scale = 1.0;
  // Ruland's window on the Compton scattering: the band pass b (Angstrom) of a diffracted-beam monochromator.
  std::optional<double> ruland;
  double flat = 0.0;  // a constant in the pattern's units (fluorescence, air) taken from the sample first
  double rmin_check = 1.0;  // Angstrom: the diagnostics check G against -4 pi rho0 r from 0.5 A up to it
  // Ad hoc mode.
  double rpoly = 0.9;              // Angstrom: the polynomials' degree is about rpoly qmaxinst / pi
  std::optional<double> qmaxinst;  // 1/Angstrom: top of the fits; the data's last Q by default
  // Both.
  double bg_scale = 1.0;       // the background's share subtracted from the sample
  double qmin = 0.0;           // 1/Angstrom: F is 0 below (unless extrapolated)
  // Below the first Q used, before the low-r iteration and the transform; s0 is S(0): 0 for an
  // incompressible sample, rho0 k_B T kappa_T for a liquid.
  LowQExtrapolation extrapolate = LowQExtrapolation::kNone;
  double s0 = 0.0;
  std::optional<double> qmax;  // 1/Angstrom: the data's last Q by default
  Window window = Window::kNone;
  double rmin = 0.0, rmax = 30.0, rstep = 0.01;  // Angstrom
  double outlier_threshold = 8.0;                // sigma (find_outliers)
  // Asked between the stages and within the transforms (kCancelled once it says stop).
  StopCheck stop{};
};

// One output function: x, the value and its standard deviation.
struct Curve {
  std::vector<double> x, y, sigma;
};

struct Reduction {
  Curve iq;                               // the measured Q, the corrected intensity per atom in electron units, sigma
  std::vector<double> model;              // on iq.x, what iq oscillates about: <f^2> + C (physical), <f^2> + the
                                          // fitted smooth part (ad hoc)
  Curve sq, fq;                           // on the measured Q from qmin to qmax, after `extrapolated` points below
  std::size_t extrapolated = 0;           // the first points of sq and fq, below the data: a model (sigma 0)
  Curve gr;                               // r, G(r), sigma
  std::vector<double> g, sigma_g;         // g(r) (with a number density; 0 at r = 0)
  std::vector<double> rr, sigma_rr;       // R(r) = 4 pi r^2 rho0 g(r)
  std::vector<double> rr_integral;        // the running integral of R(r) from rmin: the coordination number
  std::vector<double> sigma_rr_integral;  // its standard deviation (running_integral_sigma)
  double alpha = 1.0;                     // normalisation constant (physical), or the ad hoc scale c
  // The standard deviation of alpha from the counting errors. One number for
  // the whole pattern: it scales every point alike (fully correlated), so it
  // is reported beside the per-point sigmas, not added into them.
  double alpha_sigma = 0.0;
  double qmin = 0.0, qmax = 0.0, qstep = 0.0;  // the first Q used, qmax, the median step between them
  std::optional<double> number_density;
  std::optional<double> mu;    // 1/cm of the packed powder
  std::optional<DispersionTable> f_table;  // the table of f', f'' and mu's photoabsorption (with a wavelength)
  std::optional<double> mu_x;  // mu t or mu R used
  double absorption_min = 1.0, absorption_max = 1.0;
  double compton_fraction_at_qmax = 0.0;  // C / (<f^2> + C) at qmax
  bool compton_subtracted = false;
  std::vector<double> outliers;  // x of the points removed, in the input's units
  int poly_degree = 0;           // ad hoc
  int iterations = 0;            // rmin-iterate
  double residual = 0.0;         // rms of G(r) + 4 pi rho0 r below rmin-iterate, after the last one
  std::optional<Diagnostics> diagnostics;  // physical mode: the reduction's self-checks (diagnostics.hpp)
};

// The measured patterns of one reduction.
struct Inputs {
  const Pattern* sample = nullptr;
  const Pattern* background = nullptr;  // subtracted from the sample, scaled by ReductionOptions::bg_scale
  const Pattern* container = nullptr;   // the empty container, measured alike (physical mode, a capillary)
};

// The reduction of the sample (less bg_scale times the background, when
// given), stage by stage (stages.hpp). Nothing is changed of the inputs.
Result<Reduction> reduce(const Inputs& inputs, const ReductionOptions& options);

// Several reductions, inputs[i] with options[i], each what reduce gives it,
// bit for bit: those whose F(Q) share a Q grid, an r grid and a window, as
// the patterns of a series do, share the transform's sines and take some 30 %
// less time each (most in sixes). The stop of the first of each such group
// is the one asked during its transform. As many inputs as options, or every
// result is kInvalidArgument.
std::vector<Result<Reduction>> reduce_together(std::span<const Inputs> inputs,
                                               std::span<const ReductionOptions> options);
// How many patterns of a series a caller gives reduce_together at a time: as
// many as share one pass of the sines.
inline constexpr std::size_t kReducedTogether = 6;

// The same with the background's scale given apart from the options.
Result<Reduction> reduce(const Pattern& sample, const Pattern* background, double bg_scale,
                         const ReductionOptions& options);

}  // namespace talvo::pdf
