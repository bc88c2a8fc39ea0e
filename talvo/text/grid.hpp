// Grids written FROM:TO:STEP, as the command line and the page read them.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace talvo {

// How many points FROM:TO:STEP has (STEP > 0, all finite, TO - FROM too:
// past the range of doubles it is infinite, and FROM + i STEP would overflow
// before reaching TO): the last point is
// TO when it falls within STEP/1000 of it. Computed before any point is
// made, so that a caller can refuse a grid too large; one more point may
// still come where the division rounds down.
double grid_count(double from, double to, double step);

// The points FROM, FROM + STEP, ... while a point is not above TO by more
// than STEP/1000, at most `most` of them (STEP > 0, all finite). Where FROM
// and STEP are decimals of up to 15 digits as read ("0.05", "0.37", "2e-7",
// "0.37d0"), every point is the decimal it stands for, rounded once:
// 0.05:3:0.37 gives 2.27, where FROM + 6 STEP in doubles gives
// 2.2699999999999996.
std::vector<double> grid_points(double from, double to, double step, std::size_t most);

// Whether each of grid_points' points lies above the one before: not where
// STEP is below the spacing of doubles near them (1e16:1.000000000000001e16:1,
// or 1:1.000000000000001:1e-20, which repeats 1 a hundred thousand times).
bool grid_increasing(std::span<const double> points);

}  // namespace talvo
