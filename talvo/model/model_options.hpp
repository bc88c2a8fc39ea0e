// The options of a structure's G(r), declared once: talvo-tools model reads
// them, its --help and the output's header come from them.
#pragma once

#include "talvo/model/pdf_model.hpp"
#include "talvo/result.hpp"
#include "talvo/text/options.hpp"

namespace talvo {

const OptionTable& model_option_table();
// The refinement's: "refine" (the parameters), "r" (FROM:TO, the fit's
// range) and the model's options but its grid and partials.
const OptionTable& refine_option_table();

// The model's options from checked values of model_option_table() (or of
// refine_option_table(), the grid then left at its default); the neutron
// table is the caller's (kept by pointer).
ModelOptions model_options_from(const Options& values, const NeutronTable* neutron_table);

}  // namespace talvo
