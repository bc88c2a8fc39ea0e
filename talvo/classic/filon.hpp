// Filon's sine integrals for a whole list of k, with the classic interface:
// the caller's arrays extended when their length is even, single precision,
// numbered errors.
#pragma once

#include <span>
#include <vector>

#include "talvo/classic/status.hpp"

namespace talvo::classic {

// result[m] = the integral of f(x) sin(k[m] x) over the grid with step
// h = x(2) - x(1), rounded to single precision, for m below the lengths of both k and
// result. An even number of points is made odd by one more point x(n) + h with
// f = 0, added to the caller's x and f. Errors (the arrays are then left as
// given): 1 fewer than 3 points, 3 x and f of different lengths, 4 x not
// equally spaced, or all at one x, 5 memory that runs out. The values are those
// of talvo::filon_ft with single precision.
Status filon_ft(std::vector<double>& x, std::vector<double>& f, std::span<const double> k, std::span<double> result);

}  // namespace talvo::classic
