// Pictures' words: an axis of round numbers and text made safe for SVG.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvo {

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

// Text from a file name (or any input) as SVG character data: what
// escape_for_message shows (controls and bytes that are not UTF-8 as \x
// escapes, so it is UTF-8, cut at 160 bytes), with the two non-characters
// XML forbids escaped too and markup as entities.
std::string xml_text(std::string_view s);

}  // namespace talvo
