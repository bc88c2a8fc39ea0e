// A picture of a reduction: four panels, I(Q) with what it oscillates about,
// S(Q), F(Q) and G(r), each with its axes named with their units, ticks at
// round numbers, a legend and the sigma band; and the round-number axis that
// any other picture of the program can use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/pdf/reduce.hpp"
#include "talvo/text/axis.hpp"

namespace talvo::pdf {

// The round-number axis (text/axis.hpp), which every picture of the program uses.
using talvo::Axis;
using talvo::round_axis;

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
