// Peak shapes of unit area, each given by its centre and its full width at
// half maximum.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/status.hpp"

namespace talvo {

enum class PeakShape { kGaussian, kLorentzian, kPseudoVoigt };

// "gaussian", "lorentzian", "pseudo-voigt" (case-blind); nothing for any other name.
std::optional<PeakShape> peak_shape_from_name(std::string_view name);
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

struct PeakResult {
  std::vector<double> y;  // one per x
  Status status;
};

// The peak at every x. Errors: 1 a width that is not a positive number, or
// one so small that the height at the centre is beyond the double range,
// 2 eta outside 0 .. 1 for a pseudo-Voigt peak, 3 a centre that is not a
// finite number.
PeakResult peak(std::span<const double> x, const PeakOptions& options);

}  // namespace talvo
