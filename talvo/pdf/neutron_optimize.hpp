// The neutron reduction's uncertain constants fitted to what a correct
// reduction must show, as the X-ray reduction's are (optimize.hpp): G(r)
// following -4 pi rho0 r below rmin-check and S(Q) tending to 1 at high Q,
// by the same cost, the same bounded Levenberg-Marquardt and the same sigmas
// from the Jacobian.
//
// The sample's number density changes the atoms lit, rho0 and, through mu, the
// attenuation and the multiple scattering. A fit of the density makes the
// factors at its start and 5 % above it, takes the sample's factors
// (A_s,sc, A_c,sc, delta of the sample in its can) as linear in the density
// between them, and fits; it then makes the factors again about the fitted
// density and fits again, until the density moves by less than a tenth of its
// sigma (and 1e-4 of itself), at most five rounds. The reduction proper is
// run with factors made at the fitted density itself.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/pdf/neutron_reduce.hpp"
#include "talvo/result.hpp"
#include "talvo/text/options.hpp"

namespace talvo::pdf {

enum class NeutronFitted {
  kDensity,      // the sample's density or number density, whichever is given
  kSampleScale,  // sample-scale: a scale on dsigma/dOmega
  kCanScale,     // can-scale: the empty can's scale
  kFlat,         // flat: a constant taken from dsigma/dOmega, b/sr
};
// "density", "sample-scale", "can-scale", "flat".
std::string_view neutron_fitted_name(NeutronFitted f);

struct NeutronFitSpec {
  NeutronFitted what = NeutronFitted::kDensity;
  std::optional<double> lower, upper;
};
// A list such as "density,flat" or "density:0.06:0.07,sample-scale". The
// errors of parse_bounded_list (optimize.hpp).
Result<std::vector<NeutronFitSpec>> parse_neutron_fit_list(std::string_view text, std::string_view option);

struct NeutronFittedParameter {
  NeutronFitted what = NeutronFitted::kDensity;
  double start = 0.0, value = 0.0, sigma = 0.0;
  double lower = 0.0, upper = 0.0;  // as given, else the defaults below
  bool at_bound = false;            // held at a bound: its sigma is 0
};

struct NeutronOptimization {
  std::vector<NeutronFittedParameter> parameters;
  double cost_before = 0.0, cost_after = 0.0;  // the first round's start, the last round's optimum
  int reductions = 0;                          // trials of the reduction, every round
  int rounds = 0;                              // fits, each about factors made anew (1 without the density)
  Options options;                             // the options with the fitted values
  NeutronFactorSet factors;                    // made at the fitted density (the start's without it)
};

// The fit of the parameters the options' `optimize` lists, for the reduction of
// `runs` with `factors` made from `options` for their 2theta. Each starts from
// its option's value. Default bounds: the density from 0.5 to 1.5 times its
// start; sample-scale from half to twice; can-scale from 0 to twice (at least
// 2); flat within the largest |dsigma/dOmega|. Refused (kInvalidArgument): no
// optimize list, can-scale without a can, the density without a density or
// number density given, a start outside given bounds.
Result<NeutronOptimization> optimize_neutron(const NeutronRuns& runs, const NeutronFactorSet& factors,
                                             const Options& options, const NeutronTable& table);

}  // namespace talvo::pdf
