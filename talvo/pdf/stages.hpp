// The reduction's stages, each a routine of its own, in the order reduce()
// runs them:
//
//   measure_q          the pattern as measured points in Q: outliers out, the background subtracted,
//                      the empty container (when given) on the sample's points
//   make_grids         which points the fits and the transform use, and the r grid
//   sample_model       the form factors, Compton scattering and mu of the composition (sample_model.hpp)
//   physical_intensity polarisation and absorption removed: the intensity per atom up to one constant
//   normalise          that constant (Krogh-Moe/Norman or high-Q) and its standard deviation
//   physical_structure S(Q) and F(Q) from the normalised intensity
//   adhoc_structure    F(Q) with the smooth distortions fitted away (Juhas et al. 2013)
//   extrapolate_low_q  S(Q) and F(Q) below the first point, from S(0) = s0
//   transform          G(r) of F(Q), on the data's own Q when they are equally spaced
//   iterate_low_r      G(r) made to follow -4 pi rho0 r below rmin (Eggert et al. 2002)
//   real_space         g(r), R(r) and the running coordination number, with their errors
//   diagnose_reduction the high-Q mean of S, S against its floor, G against -4 pi rho0 r at low r
//
// Each works on values only: a caller (the optimiser) runs the early stages
// once and the later ones as often as it needs.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "talvo/pdf/diagnostics.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/sample_model.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

// The measurement as points in Q.
struct MeasuredQ {
  std::vector<double> x;            // the kept points in the input's units
  std::vector<double> q, y, sigma;  // 1/Angstrom ascending; the sample less bg_scale times the background
  std::vector<double> two_theta;    // degrees; empty without a wavelength
  std::vector<double> container_y;  // the empty container less the same background, on q; empty without one
  std::vector<double> container_sigma;
  std::vector<double> outliers;  // x of the points removed
  bool background_subtracted = false;
};

// Outliers removed (of every pattern given), the background scaled by
// options.bg_scale subtracted and the container interpolated onto the
// sample's points, Q of each point (2theta needs the wavelength). A point at
// Q = 0, where S(Q) is not defined, is dropped with a warning.
Result<MeasuredQ> measure_q(const Inputs& in, const ReductionOptions& options);

// The points and r values the later stages use.
struct Grids {
  double qmin = 0.0;        // as asked
  double qmax = 0.0;        // the top of the transform: as asked, else the data's last Q
  double qtop_fit = 0.0;    // the top of the ad hoc fits (qmaxinst), qmax in the physical mode
  std::size_t first = 0;    // the first point at or above qmin
  std::size_t end = 0;      // one past the last point at or below qmax
  std::size_t fit_end = 0;  // one past the last point at or below qtop_fit
  std::vector<double> r;
};

// qmin, qmax and qmaxinst checked against the data (a limit above the last
// Q by less than one step there is taken as the data's end, with a warning)
// and the r grid made (grid_points' points: rmin, rmin + rstep, ... rmax).
Result<Grids> make_grids(const MeasuredQ& m, const ReductionOptions& options);

// The physical corrections, on every measured point.
struct Corrected {
  std::vector<double> i, sigma;  // the intensity per atom, but for the constant normalise() finds
  std::vector<double> model;     // what i oscillates about once normalised: <f^2> + C
  double absorption_min = 1.0, absorption_max = 1.0;
  std::optional<double> mu_x;  // mu R or mu t used
};
Result<Corrected> physical_intensity(const MeasuredQ& m, const SampleModel& model, const ReductionOptions& options);

struct Normalised {
  double alpha = 1.0;
  double alpha_sigma = 0.0;  // from the counting errors, common to every point
};
// alpha with alpha i the intensity in electron units per atom, from the
// points between grids.first and grids.end.
Result<Normalised> normalise(const MeasuredQ& m, const Corrected& c, const SampleModel& model, const Grids& grids,
                             const ReductionOptions& options);

// S(Q) and F(Q) on the points from grids.first to grids.end.
struct Structure {
  Curve sq, fq;
  std::vector<double> iq, iq_sigma;  // the normalised intensity on every measured point
  std::vector<double> model;         // what iq oscillates about, on every measured point
};
Structure physical_structure(const MeasuredQ& m, const Corrected& c, const Normalised& n, const SampleModel& model,
                             const Grids& grids);

// The ad hoc method of P. Juhas, T. Davis, C. L. Farrow and S. J. L.
// Billinge, J. Appl. Cryst. 46 (2013) 560: the measured intensity is
// a(Q) I_c(Q) + b(Q) with a and b slowly varying, so that
//   F(Q) = Q (c I(Q) - <f^2>) / <f>^2 - P(Q)
// with P a polynomial of degree n = round(rpoly qmaxinst / pi) without a
// constant term, fitted to the first term by least squares over the points
// from qmin to qmaxinst, each alike: its transform only reaches below rpoly.
// The scale c puts the intensity in electron units per atom: c I matches
// <f^2> at high Q, as the median of I / <f^2> over the top third of
// [0, qmaxinst], where the atoms scatter independently.
struct AdhocStructure {
  Structure structure;
  double scale = 1.0;  // c
  int degree = 0;      // n
};
Result<AdhocStructure> adhoc_structure(const MeasuredQ& m, const SampleModel& model, const Grids& grids,
                                       const ReductionOptions& options);

// G(r) = (2/pi) int F(Q) M(Q) sin(Qr) dQ over the points of fq, with
// Filon's rule on their own Q where they are equally spaced (else on the
// equally spaced grid of as many points between the first and the last,
// interpolated linearly); F is taken as 0 below the first point. An even
// number of points ends with the exact integral of the straight line over
// the last step. The window's Qmax is the last Q.
Result<Curve> transform_fq(const Curve& fq, std::span<const double> r, Window window, const StopCheck& stop = {});

// The transforms of several F(Q), each what transform_fq gives it, bit for
// bit; those on one Q grid share their sines, as a series' patterns do.
std::vector<Result<Curve>> transform_fq_many(std::span<const Curve* const> fqs, std::span<const double> r,
                                             Window window, const StopCheck& stop = {});

// The low-r iteration: F changed so that G follows -4 pi rho0 r below
// rmin_iterate; returns the number of steps and the last rms departure.
struct LowR {
  int iterations = 0;
  double residual = 0.0;
};
// S(Q) below the first point q1 of sq (F = Q (S - 1) alike), on the
// first points' mean step h down to above Q = 0 (Q = 0 itself adds nothing to
// the transform and would divide F by 0): with S1 and D the value and slope
// at q1 of the straight line fitted to the points up to q1 + 0.5 per
// Angstrom (at least 3),
//   step    S = s0                                  (Glassure's S(0) = 0 when s0 = 0)
//   linear  S = s0 + (S1 - s0) Q / q1
//   poly    S = s0 + a Q^2 + b Q^3, even at Q = 0 as S(Q) is, matching S1 and D at q1:
//           a = [3 (S1 - s0) - D q1] / q1^2,  b = [D q1 - 2 (S1 - s0)] / q1^3
// The points put in front carry sigma 0: they are a model, not measured.
// Returns how many were put; kInvalidArgument for fewer than 3 points or an
// s0 that is not finite.
Result<std::size_t> extrapolate_low_q(Curve& sq, Curve& fq, LowQExtrapolation how, double s0);

// The points fq holds below the data, from extrapolate_low_q: each step of
// the iteration corrects the measured points, and these follow them as the
// extrapolation from S(0) = s0, which the iteration does not move.
struct LowQBelow {
  std::size_t points = 0;
  LowQExtrapolation how = LowQExtrapolation::kNone;
  double s0 = 0.0;
};
Result<LowR> iterate_low_r(Curve& fq, double rho0, double rmin_iterate, Window window, const StopCheck& stop = {},
                           const LowQBelow& below = {});

// The reduction's self-checks (diagnostics.hpp) of S(Q) on the points from
// grids.first to grids.end, and of G(r) transformed from fq on its own grid
// from 0.5 A to rmin-check by 0.01 A.
Result<Diagnostics> diagnose_reduction(const Curve& sq, const Curve& fq, const SampleModel& model, const Grids& grids,
                                       const ReductionOptions& options);

// g(r), R(r) and N(r) with their standard deviations, of G(r) and the
// number density; fq is the F(Q) G came from (for the errors of N).
struct RealSpace {
  std::vector<double> g, sigma_g, rr, sigma_rr, rr_integral, sigma_rr_integral;
};
// With `stop` asking to stop, sigma_rr_integral is left empty.
RealSpace real_space(const Curve& gr, const Curve& fq, double rho0, Window window, const StopCheck& stop = {});

}  // namespace talvo::pdf
