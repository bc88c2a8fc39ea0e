// Peak shapes of unit area, each given by its centre and its full width at
// half maximum.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

enum class PeakShape { kGaussian, kLorentzian, kPseudoVoigt };

// "gaussian", "lorentzian", "pseudo-voigt" (case-blind); nothing for any other name.
std::optional<PeakShape> peak_shape_named(std::string_view name);
std::string_view peak_shape_name(PeakShape shape);

// (2/W) sqrt(ln 2 / pi) exp(-4 ln 2 (x - C)^2 / W^2)
double gaussian(double x, double center, double fwhm);
// (W/2) / pi / ((x - C)^2 + (W/2)^2)
double lorentzian(double x, double center, double fwhm);
// eta lorentzian + (1 - eta) gaussian, both of the same width
double pseudo_voigt(double x, double center, double fwhm, double eta);

struct PeakOptions {
  PeakShape shape = PeakShape::kGaussian;
  double center = 0.0;
  double fwhm = 1.0;
  double eta = 0.5;  // the Lorentzian share of a pseudo-Voigt peak
};

// The peak at every x. Refused (kInvalidArgument): a width that is not a
// finite number above 0, eta outside 0 .. 1 for a pseudo-Voigt peak, a
// centre that is not a finite number; kOutOfRange: a width so small that the
// height at the centre passes the double range.
Result<std::vector<double>> peak(std::span<const double> x, const PeakOptions& options);

}  // namespace talvo
