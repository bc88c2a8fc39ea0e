// The builds of a wavelength sweep's column loops, one per instruction set,
// for the tests that hold them to the same columns. Not part of the
// installed interface.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "talvo/neutron/material.hpp"

namespace talvo::neutron_detail {

// Each build's loops hold as many wavelengths in a register as its
// instruction set allows; all give the same columns, bit for bit. kBest is
// the widest this processor runs.
enum class SweepBuild { kBest, kBaseline, kAvx2 };

// The builds this processor runs, the baseline first and the widest last.
std::vector<SweepBuild> sweep_builds();

// material_sweep with the columns from one build (kBest or one of sweep_builds()).
Result<MaterialSweep> material_sweep(std::string_view formula, const NeutronTable& table,
                                     const MaterialOptions& options, std::span<const double> wavelengths,
                                     SweepBuild build);

}  // namespace talvo::neutron_detail
