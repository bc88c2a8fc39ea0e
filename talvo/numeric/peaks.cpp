#include "talvo/numeric/peaks.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <string>
#include <utility>

#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr double kLn2 = 0.6931471805599453;

}  // namespace

std::optional<PeakShape> peak_shape_named(std::string_view name) {
  for (PeakShape s : {PeakShape::kGaussian, PeakShape::kLorentzian, PeakShape::kPseudoVoigt})
    if (equal_case_blind(name, peak_shape_name(s))) return s;
  return std::nullopt;
}

std::string_view peak_shape_name(PeakShape shape) {
  switch (shape) {
    case PeakShape::kGaussian:
      return "gaussian";
    case PeakShape::kLorentzian:
      return "lorentzian";
    case PeakShape::kPseudoVoigt:
      break;
  }
  return "pseudo-voigt";
}

namespace {

// The heights at the centre, written so that no step overflows before the
// height itself does: 2 / W alone would for W below 1.1e-308.
double gaussian_height(double fwhm) { return 2.0 * std::sqrt(kLn2 / std::numbers::pi) / fwhm; }
double lorentzian_height(double fwhm) { return 1.0 / (std::numbers::pi * (fwhm / 2.0)); }

}  // namespace

double gaussian(double x, double center, double fwhm) {
  const double d = (x - center) / fwhm;
  return gaussian_height(fwhm) * std::exp(-4.0 * kLn2 * d * d);
}

// As 1 / (1 + u^2) with u = (x - C) / (W/2): (W/2)^2 would overflow for W
// above 1e154 and give 0, or underflow for W below 1e-154 and give inf.
double lorentzian(double x, double center, double fwhm) {
  const double u = (x - center) / (fwhm / 2.0);
  return lorentzian_height(fwhm) / (1.0 + u * u);
}

double pseudo_voigt(double x, double center, double fwhm, double eta) {
  return eta * lorentzian(x, center, fwhm) + (1.0 - eta) * gaussian(x, center, fwhm);
}

Result<std::vector<double>> peak(std::span<const double> x, const PeakOptions& o) {
  const auto invalid = [](std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); };
  if (!(o.fwhm > 0.0) || !std::isfinite(o.fwhm))
    return invalid("the full width at half maximum must be a positive number, not " + free_real(o.fwhm));
  if (o.shape == PeakShape::kPseudoVoigt && !(o.eta >= 0.0 && o.eta <= 1.0))
    return invalid("eta, the Lorentzian share, must lie between 0 and 1, not " + free_real(o.eta));
  const double height = o.shape == PeakShape::kGaussian ? gaussian_height(o.fwhm)
                        : o.shape == PeakShape::kLorentzian
                            ? lorentzian_height(o.fwhm)
                            : std::max(gaussian_height(o.fwhm), lorentzian_height(o.fwhm));
  if (!std::isfinite(height))
    return make_error(ErrorKind::kOutOfRange, "the full width at half maximum " + free_real(o.fwhm) +
                                                  " is so small that the peak's height is beyond the double range");
  if (!std::isfinite(o.center)) return invalid("the centre must be a finite number, not " + free_real(o.center));
  try {
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      switch (o.shape) {
        case PeakShape::kGaussian:
          y[i] = gaussian(x[i], o.center, o.fwhm);
          break;
        case PeakShape::kLorentzian:
          y[i] = lorentzian(x[i], o.center, o.fwhm);
          break;
        case PeakShape::kPseudoVoigt:
          y[i] = pseudo_voigt(x[i], o.center, o.fwhm, o.eta);
          break;
      }
    }
    return y;
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, "out of memory");
  }
}

}  // namespace talvo
