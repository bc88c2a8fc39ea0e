// Grids written FROM:TO:STEP, as the command line and the page read them.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"
#include "talvo/text/number.hpp"

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

// The most points a grid may have unless its reader says otherwise; a larger
// one is refused before any memory is taken for it.
inline constexpr double kMaxGridPoints = 10'000'000;

struct GridOptions {
  double most = kMaxGridPoints;
  // What FROM, TO and STEP are: each may carry a unit of it ("0.1nm:0.2nm:0.01nm").
  Quantity quantity = Quantity::kNumber;
};

// The points of "FROM:TO:STEP" as the command line and the page read it: each
// value by read_number; STEP above 0, every value and TO - FROM within double
// precision, TO at or above FROM, at most `most` points (counted before any
// is made), each above the one before. kParseError for text that is not such
// a grid, kInvalidArgument for a grid of no points or of points that do not
// differ, kOutOfRange for one too large.
Result<std::vector<double>> read_grid(std::string_view spec, const GridOptions& options = {});

}  // namespace talvo
