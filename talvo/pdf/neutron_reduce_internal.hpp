// The neutron reduction with its adjustable constants apart from its
// options, for a fit that changes them at every trial.
#pragma once

#include <span>

#include "talvo/pdf/neutron_reduce.hpp"

namespace talvo::pdf {

// sample-scale multiplies the sample's dsigma/dOmega (and its sigma), can-scale
// the empty can's share, and flat (b/sr) is taken from dsigma/dOmega.
struct NeutronKnobs {
  double sample_scale = 1.0, can_scale = 1.0, flat = 0.0;
};
NeutronKnobs knobs_of(const Options& options);

// reduce_neutron with `knobs` in place of the options' own, G(r) at r_of_g
// (the options' r grid when empty).
Result<NeutronReduction> reduce_neutron_with(const NeutronRuns& runs, const NeutronFactorSet& factors,
                                             const Options& options, const NeutronKnobs& knobs,
                                             std::span<const double> r_of_g);

}  // namespace talvo::pdf
