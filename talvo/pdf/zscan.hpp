// A z-scan: the intensity a capillary transmits as it is moved across the
// beam, and the fit of that profile which measures mu D, the beam's width and
// the capillary's centre, each with its standard deviation.
//
//   I(z) = I0 T(mu D / 2; w / R, (z - z0) / R) + b,  R = D / 2
//
// T the fraction a cylinder transmits of a beam of width w whose centre is
// z - z0 from the cylinder's axis (cylinder_transmission), I0 the open beam and
// b an optional constant (light that reaches the detector past the sample).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/pdf/capillary.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

struct ZScan {
  std::vector<double> height;     // mm, ascending
  std::vector<double> intensity;  // counts or count rates, all above 0
};

// Two columns, height and transmitted intensity; blank lines and comment
// lines (beginning with "#", "'" or "!") are skipped. `source` names the text
// in messages. Refused: a row without two numbers (kParseError), heights that
// do not increase, an intensity not above 0, fewer than 8 rows
// (kInvalidArgument).
Result<ZScan> parse_zscan(std::string_view text, std::string_view source);
Result<ZScan> read_zscan(const std::string& path);

struct ZScanFitOptions {
  double diameter = 0.0;  // mm: the capillary's inner diameter, which the sample fills
  BeamProfile profile = BeamProfile::kTopHat;
  bool baseline = false;  // fit b too (else b = 0)
};

struct FittedValue {
  double value = 0.0, sigma = 0.0;
};

struct ZScanFit {
  FittedValue mu_d;       // mu D of the filled capillary
  FittedValue width;      // mm: the beam's full width (top hat) or FWHM (Gaussian)
  FittedValue centre;     // mm: the height of the capillary's axis
  FittedValue open_beam;  // I0
  FittedValue baseline;   // b (0 and sigma 0 unless fitted)
  // The intensities weighted by 1 / sqrt(I) (counting statistics, whatever
  // the unit): chi^2 per degree of freedom with those weights; the sigmas are
  // scaled by its square root.
  double residual_variance = 0.0;
  std::vector<double> model;  // the fitted profile at every height
  int evaluations = 0;        // profiles computed
};

// The fit by bounded Levenberg-Marquardt (least_squares), started from the
// scan's own levels (I0 from its highest values, mu D from its lowest, z0
// from the middle of its dip) at several widths, the best kept. Refused
// (kInvalidArgument): a diameter not above 0; a scan whose lowest intensity is
// not below 0.9 of its highest (no capillary crossed), or which does not
// reach the open beam on both sides of the dip; a fit that leaves any
// parameter undetermined (its sigma infinite), named, with the heights' unit
// questioned where the dip is far wider than the capillary (a scan in um).
Result<ZScanFit> fit_zscan(const ZScan& scan, const ZScanFitOptions& options);

}  // namespace talvo::pdf
