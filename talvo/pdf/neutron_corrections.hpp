// The corrections of a neutron sample, as one run from a described sample,
// container and instrument: its attenuation (Paalman-Pings factors), its
// multiple scattering and its Placzek correction, at a list of 2theta. Its
// options are one declared table; its result is columns of numbers, the
// settings that rerun it and the words that say how each number was made.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/result.hpp"
#include "talvo/text/options.hpp"

namespace talvo::pdf {

enum class NeutronCorrection { kAttenuation, kMultipleScattering, kPlaczek };
// "attenuation", "multiple-scattering", "placzek"; nothing for another word.
std::optional<NeutronCorrection> neutron_correction_named(std::string_view name);
std::string_view neutron_correction_name(NeutronCorrection correction);

// The options of all three (those a correction does not use are refused by it).
const OptionTable& neutron_correction_options();

struct NeutronCorrectionRun {
  // "twotheta", then A_s,sc A_c,sc A_c,c (A_s,s without a container); delta
  // delta2; or P.
  std::vector<std::string> columns;
  std::vector<std::vector<double>> rows;
  // Beside the rows where the method has them: each row's statistical sigma
  // of delta and delta2 (multiple scattering).
  std::vector<std::vector<double>> sigmas;
  std::string settings;            // "key = value" lines that rerun it (header_text)
  std::vector<std::string> notes;  // the tables, conventions and methods used, one line each
};

// The run. kInvalidArgument for options a correction cannot use or that
// contradict each other (a container without its radii, a can thinner than
// nothing, a plate asked for multiple scattering), and the errors of the
// materials, the measured cross-sections' file and the methods.
Result<NeutronCorrectionRun> run_neutron_correction(NeutronCorrection correction, const Options& options,
                                                    const NeutronTable& table);

}  // namespace talvo::pdf
