// The options that several of the reduction's tables declare alike: the neutron sample and its can (the
// corrections and the neutron reduction) and the transform (the X-ray and the neutron reduction). Each is
// written once here; a table that holds one for a geometry alone takes it with only_when().
#pragma once

#include <string_view>

#include "talvo/text/options.hpp"

namespace talvo::pdf::option_specs {

// The spec, for `when` alone ("geometry=cylinder").
constexpr OptionSpec only_when(OptionSpec spec, std::string_view when) {
  spec.when = when;
  return spec;
}

// The neutron sample, its cylinder and can, the beam and the detectors.
inline constexpr OptionSpec kSample{
    .name = "sample", .type = OptionType::kText, .doc = "the sample's chemical formula", .metavar = "FORMULA"};
inline constexpr OptionSpec kNumberDensity{.name = "number-density",
                                           .type = OptionType::kNumber,
                                           .doc = "the sample's atoms per cubic Angstrom",
                                           .excludes = "density",
                                           .low = 0.0,
                                           .low_open = true,
                                           .metavar = "N"};
inline constexpr OptionSpec kDensity{.name = "density",
                                     .type = OptionType::kNumber,
                                     .doc = "the sample's density",
                                     .quantity = Quantity::kDensity,
                                     .excludes = "number-density",
                                     .low = 0.0,
                                     .low_open = true};
inline constexpr OptionSpec kWavelength{.name = "wavelength",
                                        .type = OptionType::kNumber,
                                        .doc = "the incident wavelength",
                                        .quantity = Quantity::kWavelength,
                                        .low = 0.0,
                                        .low_open = true};
inline constexpr OptionSpec kRadius{.name = "radius",
                                    .type = OptionType::kNumber,
                                    .doc = "the sample's radius",
                                    .quantity = Quantity::kLengthMm,
                                    .low = 0.0,
                                    .low_open = true,
                                    .metavar = "MM"};
inline constexpr OptionSpec kHeight{.name = "height",
                                    .type = OptionType::kNumber,
                                    .doc = "the sample's height (none: taller than the beam)",
                                    .quantity = Quantity::kLengthMm,
                                    .low = 0.0,
                                    .low_open = true,
                                    .metavar = "MM"};
inline constexpr OptionSpec kContainerNumberDensity{.name = "container-number-density",
                                                    .type = OptionType::kNumber,
                                                    .doc = "the can's atoms per cubic Angstrom",
                                                    .needs = "container",
                                                    .excludes = "container-density",
                                                    .low = 0.0,
                                                    .low_open = true,
                                                    .metavar = "N"};
inline constexpr OptionSpec kContainerDensity{.name = "container-density",
                                              .type = OptionType::kNumber,
                                              .doc = "the can's density",
                                              .quantity = Quantity::kDensity,
                                              .needs = "container",
                                              .excludes = "container-number-density",
                                              .low = 0.0,
                                              .low_open = true};
inline constexpr OptionSpec kContainerInner{.name = "container-inner",
                                            .type = OptionType::kNumber,
                                            .doc = "the can's inner radius (default: the sample's)",
                                            .quantity = Quantity::kLengthMm,
                                            .needs = "container",
                                            .low = 0.0,
                                            .low_open = true,
                                            .metavar = "MM"};
inline constexpr OptionSpec kContainerOuter{.name = "container-outer",
                                            .type = OptionType::kNumber,
                                            .doc = "the can's outer radius",
                                            .quantity = Quantity::kLengthMm,
                                            .needs = "container",
                                            .low = 0.0,
                                            .low_open = true,
                                            .metavar = "MM"};
inline constexpr OptionSpec kContainerHeight{.name = "container-height",
                                             .type = OptionType::kNumber,
                                             .doc = "the can's height (default: the sample's)",
                                             .quantity = Quantity::kLengthMm,
                                             .needs = "container",
                                             .low = 0.0,
                                             .low_open = true,
                                             .metavar = "MM"};
inline constexpr OptionSpec kBeamWidth{.name = "beam-width",
                                       .type = OptionType::kNumber,
                                       .doc = "the beam's width, centred (none: wider than all)",
                                       .quantity = Quantity::kLengthMm,
                                       .low = 0.0,
                                       .low_open = true,
                                       .metavar = "MM"};
inline constexpr OptionSpec kBeamHeight{.name = "beam-height",
                                        .type = OptionType::kNumber,
                                        .doc = "the beam's height, centred (none: taller than all)",
                                        .quantity = Quantity::kLengthMm,
                                        .low = 0.0,
                                        .low_open = true,
                                        .metavar = "MM"};
inline constexpr OptionSpec kDetectorHeight{.name = "detector-height",
                                            .type = OptionType::kNumber,
                                            .doc = "the height of sample and can the detectors see, centred",
                                            .quantity = Quantity::kLengthMm,
                                            .low = 0.0,
                                            .low_open = true,
                                            .metavar = "MM"};
inline constexpr OptionSpec kTemperature{.name = "temperature",
                                         .type = OptionType::kNumber,
                                         .doc = "the sample's temperature, K",
                                         .default_text = "293.15",
                                         .low = 0.0,
                                         .metavar = "K"};
inline constexpr OptionSpec kSeed{
    .name = "seed", .type = OptionType::kWhole, .doc = "the Monte Carlo's seed", .default_text = "1", .low = 0.0};

// The transform of F(Q) to G(r).
inline constexpr OptionSpec kQmin{
    .name = "qmin", .type = OptionType::kNumber, .doc = "the first Q transformed", .default_text = "0", .metavar = "Q"};
inline constexpr OptionSpec kQmax{.name = "qmax",
                                  .type = OptionType::kNumber,
                                  .doc = "the last Q transformed (default the data's end)",
                                  .metavar = "Q"};
inline constexpr OptionSpec kWindow{.name = "window",
                                    .type = OptionType::kChoice,
                                    .doc = "the modification function M(Q)",
                                    .default_text = "none",
                                    .choices = "none|lorch|step|quadratic",
                                    .metavar = "NAME"};
inline constexpr OptionSpec kRGrid{.name = "r",
                                   .type = OptionType::kGrid,
                                   .doc = "the r grid of G(r)",
                                   .default_text = "0:30:0.01",
                                   .metavar = "RMIN:RMAX:STEP"};

}  // namespace talvo::pdf::option_specs
