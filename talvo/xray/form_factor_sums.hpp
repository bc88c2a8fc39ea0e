// The form-factor sums over a grid of points in double precision, as foq
// (rounding them to single precision) and the double-precision entry points
// use them. Private to the library: not installed.
#pragma once

#include <cstddef>

#include "talvo/xray/formfactor.hpp"

namespace talvo::detail {

// f(Q) = c + a1 exp(-b1 s^2) + a2 exp(-b2 s^2) ..., s = Q/4pi, at the n
// points q, into f (which may be q itself): term by term over blocks of
// points, so that the exponentials of a block are evaluated side by side.
// Each point's sum keeps that order, and every build gives the same values.
// The one published negative b (carbon's, Waasmaier-Kirfel) makes a term
// grow with Q: where exp(709) caps it, its a of -4.24 has already taken the
// sum to -inf, as the library's exponential does.
void form_factor_sums(const double* q, std::size_t n, const FormFactorParams& p, double* f);

}  // namespace talvo::detail
