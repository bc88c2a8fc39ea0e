// The picture every PDF paper shows of a fit: the measured G(r) as open
// circles, the model's as a line through them, and their difference offset
// below, with its zero line.
#pragma once

#include <string>
#include <string_view>

#include "talvo/model/refine.hpp"

namespace talvo {

// An SVG document (800 x 500) of the fit: r in Angstrom across, G(r) in
// 1/A^2 up, ticks at round numbers, a legend, `title` above and the Rw in
// the corner.
std::string fit_plot_svg(const RefineResult& fit, std::string_view title);

}  // namespace talvo
