// The physical reduction's uncertain parameters fitted to what a correct
// reduction must show, with their standard deviations: G(r) must follow
// -4 pi rho0 r where no atoms are, and S(Q) must tend to 1 at high Q. The
// cost, minimised by bounded Levenberg-Marquardt (least_squares.hpp), is
//
//   cost = (1/N) sum_j [(G(r_j) + 4 pi rho0 r_j) / sigma_G(r_j)]^2 + [(<S>_top - 1) / sigma_<S>]^2
//
// over r_j = 0.01, 0.02, ... A up to rmin-check, <S>_top the mean of S over the
// top fifth of the Q range and sigma_<S> its standard deviation
// (sqrt(sum sigma_i^2) / n). Each parameter's sigma comes from the Jacobian of
// the residual vector at the optimum, scaled by the residual variance (the
// residuals hold the reduction's systematic errors, not counting noise alone)
// and by correlated_sigma_factor for the G(r) points that are not independent.
//
// The early stages (the points in Q, the grids, the sample's form factors)
// run once; each trial runs the corrections, the normalisation, S(Q) and the
// transform at the cost's r alone.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/pdf/reduce.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

enum class Fitted {
  kDensity,         // the density (or number density): rho0, and mu where it comes from the density
  kBgScale,         // the background's scale
  kContainerScale,  // the empty container's scale
  kMuR,             // mu R of the capillary
  kBeamWidth,       // the beam's width (mm)
  kRuland,          // Ruland's band pass (Angstrom)
  kFlat,            // a constant taken from the sample's intensity (its units)
};
// "density", "bg-scale", "container-scale", "mu-r", "beam-width", "ruland", "flat".
std::optional<Fitted> fitted_named(std::string_view name);
std::string_view fitted_name(Fitted f);

// One parameter to fit, with bounds where the user gave them.
struct FitSpec {
  Fitted what = Fitted::kMuR;
  std::optional<double> lower, upper;
};

// One item of a list of parameters to fit: the index of its name in the
// list of names, and its bounds where the user gave them.
struct BoundedName {
  std::size_t index = 0;
  std::optional<double> lower, upper;
};

// A list of `names`, each NAME or NAME:LOW:HIGH, comma-separated. Refused
// (kInvalidArgument), the messages naming the option as `option`: a name not
// among `names`, one given twice, bounds that are not two numbers with LOW
// below HIGH.
Result<std::vector<BoundedName>> parse_bounded_list(std::string_view text, std::span<const std::string_view> names,
                                                    std::string_view option);

// A list such as "mu-r,flat" or "mu-r:1.5:2.2,flat": names, each with its
// bounds as NAME:LOW:HIGH where wanted. Refused (kInvalidArgument): an
// unknown or repeated name, bounds that are not two numbers with LOW < HIGH.
// The messages name the option as `option` (e.g. "--optimize").
Result<std::vector<FitSpec>> parse_fit_list(std::string_view text, std::string_view option);
// The list as parse_fit_list reads it back.
std::string fit_list_text(std::span<const FitSpec> fit);

struct FittedParameter {
  Fitted what = Fitted::kMuR;
  double start = 0.0, value = 0.0, sigma = 0.0;
  double lower = 0.0, upper = 0.0;  // the bounds used: as given, else the defaults below
  bool at_bound = false;            // held at a bound: its sigma is 0
};

struct Optimization {
  std::vector<FittedParameter> parameters;
  double cost_before = 0.0, cost_after = 0.0;
  int reductions = 0;        // trials of the corrections to the transform
  ReductionOptions options;  // the options with the fitted values, for the reduction proper
};

// The fit of `fit` for the reduction of `in` with `options` (physical mode).
// Each starts from its option's value: the density, bg-scale, container-scale,
// mu R (as given, or from mu and the capillary's diameter), the beam's width,
// Ruland's band pass, flat (0 by default). Default bounds: 0.5 to 1.5 times the
// density; bg-scale and container-scale from 0 to twice their value (at least
// 2); mu R from half to twice; the beam's width from 0.1 to 3 times; the band
// pass from 0.1 to 10 times; flat within the largest |intensity|. Refused
// (kInvalidArgument): the ad hoc mode, an empty list, a parameter without the
// option it adjusts (bg-scale without a background, beam-width without a
// width, ...), a start outside given bounds.
// The cost's r: 0.01, 0.02, ... A up to rmin_check.
std::vector<double> fit_cost_r(double rmin_check);
// The cost's residuals from G at the cost's r and S(Q): g.x.size() + 1 values
// into r, the last that of the high-Q mean, so that cost = sum r^2.
void fit_residuals(const Curve& g, double rho0, const Curve& sq, std::span<double> r);

// The warnings of a fitted parameter the fit could not settle (sigma infinite, held at a bound), and of a fit
// that ran out of reductions, onto `warnings`.
void append_fit_warnings(std::string_view name, double value, double sigma, bool at_bound,
                         std::vector<std::string>& warnings);
void append_unconverged_warning(int reductions, std::vector<std::string>& warnings);

// The factor on the fit's sigmas for residuals that are not independent: G
// at r 0.01 A apart from F(Q) up to qmax holds about rmin_check qmax / pi
// independent values (one each pi / qmax), so that each is counted about
// nr / (rmin_check qmax / pi) times in the Jacobian's covariance. With
// residuals whose correlation spans b points and a Jacobian smooth over them,
// the covariance (J^T J)^-1 J^T C J (J^T J)^-1 is b (J^T J)^-1: the sigmas
// grow by sqrt(b). Between 1 and sqrt(nr).
double correlated_sigma_factor(std::size_t nr, double rmin_check, double qmax);

Result<Optimization> optimize(const Inputs& in, const ReductionOptions& options, std::span<const FitSpec> fit);

}  // namespace talvo::pdf
