// A picture of a reduction: four panels, I(Q) with what it oscillates about,
// S(Q), F(Q) and G(r), each with its axes named with their units, ticks at
// round numbers, a legend and the sigma band; and the round-number axis that
// any other picture of the program can use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/pdf/reduce.hpp"

namespace talvo::pdf {

// An axis over a range, with ticks at round numbers: every multiple of a
// step in the range, the step 1, 2 or 5 times a power of ten, the smallest
// such step that gives at most `most_ticks` ticks (taken as 2 to 1000).
// Each label is the tick's decimal as a person writes it ("0.3", "-15",
// "2500"); an axis whose step is below 1e-5 or whose labels reach 10^6 writes
// them all as "1.5e-12", "2e6". A range with no width (or one narrower than
// its values can resolve) is widened about its value, by 5 % of it or by 1
// about 0; ends given the wrong way round are swapped; a range that is not
// finite shows 0 to 1.
struct Axis {
  double lo = 0.0, hi = 1.0;  // the range shown
  double step = 1.0;
  std::vector<double> ticks;  // ascending, each the double nearest its label
  std::vector<std::string> labels;
};
Axis round_axis(double lo, double hi, int most_ticks);

// A self-contained SVG of the four panels of `r` from an input at `input`:
// the title is the input's file name (what follows the last '/') and the
// mode, the curve I(Q) oscillates about named by the mode (the self
// scattering, plus Compton where it was subtracted, or the ad hoc
// background), -4 pi rho0 r drawn up to G(r)'s first peak where the number
// density is known. Whatever bytes the name holds, the text is well-formed
// XML: control characters and bytes that are not UTF-8 are shown as escapes
// (\x1b), markup characters as entities.
std::string plot_svg(const Reduction& r, Mode mode, std::string_view input);

}  // namespace talvo::pdf
