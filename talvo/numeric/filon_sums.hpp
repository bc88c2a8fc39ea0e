// The sums along an equally spaced grid that Filon's rule weighs, for many k
// at once: what filon_ft, its error propagation and sq2gr share. Not part of
// the installed interface.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "talvo/numeric/filon.hpp"

namespace talvo::filon_detail {

// Where the sums go, one value per k; v_odd and v_even are only written when
// v is given.
struct SumsOut {
  std::span<double> f_odd, f_even, v_odd, v_even;
};

// The builds of the sums: one per instruction set, each as wide as its
// registers. All give the same sums, bit for bit; kBest is the widest this
// processor runs.
enum class SumsBuild { kBest, kBaseline, kAvx2, kAvx512 };

// The builds this processor runs, the baseline first and the widest last.
std::vector<SumsBuild> sums_builds();

// On the grid x (equally spaced by h; x holds at least as many points as f
// or v), for every k: the sums of f_i sin(k x_i) over the odd point numbers
// (i even, counting points from 1, both ends included) and over the even
// ones, and, when v is not empty, the same sums of v_i sin^2(k x_i). The
// sines come from the angle-addition recurrence by the step h, started again
// at every 64th point from an anchor: at every 1024th point the sine and
// cosine of k x_i themselves, between them the anchor before turned by the
// angle 64 k h. The sums are within about 1e-14 of the exact ones. `build`
// is kBest or one of sums_builds().
void filon_sums(std::span<const double> x, double h, std::span<const double> f, std::span<const double> v,
                std::span<const double> k, const SumsOut& out, SumsBuild build = SumsBuild::kBest);

// The same for several functions on one grid, f[p] and v[p] into out[p],
// each the same sums, bit for bit, as filon_sums gives it alone: the sines
// are worked out once for up to six functions. Every f is empty or none
// is, and so for v; each as long as the first.
void filon_sums_many(std::span<const double> x, double h, std::span<const std::span<const double>> f,
                     std::span<const std::span<const double>> v, std::span<const double> k,
                     std::span<const SumsOut> out, SumsBuild build = SumsBuild::kBest);

// The ends of a grid: its first and last point and their values.
struct Ends {
  double x_first, f_first, x_last, f_last;
};

// What the ends of a grid add for one k, the same for every function on it:
// Filon's weights for h k and the sine and cosine of k at either end.
struct EndTerms {
  FilonWeights w;
  double s_first, c_first, s_last, c_last;
};
EndTerms end_terms(double h, double k, double x_first, double x_last);

// Filon's integral from the sums (`odd` with both ends in full), t the end
// terms of its k.
double filon_value(double h, const EndTerms& t, const Ends& e, double odd, double even);
// The same, with the end terms worked out for k.
double filon_value(double h, double k, const Ends& e, double odd, double even);

// The variance of that integral from the sums of sigma_i^2 sin^2(k x_i), with
// e holding sigma^2 at the ends in place of f.
double filon_variance(double h, const EndTerms& t, const Ends& e, double v_odd, double v_even);

// The last step of a grid of an even number of points, from a to a + h:
// the straight line through its values integrated exactly against sin(kx),
// added to Filon's value over the points before it (whose last point is a),
// and to its variance with the covariance of the point they share (sa and
// sb the standard deviations of the step's values). The weights of one k
// are worked out once for both.
struct LastStep {
  double wa = 0.0, wb = 0.0;  // of f(a) and f(a + h) in the step's integral
  double w_end = 0.0;         // Filon's weight of f(a), the point the step shares
};
LastStep last_step(double h, double k, double a);
void add_last_step(const LastStep& w, double fa, double fb, double& value);
void add_last_step_variance(const LastStep& w, double sa, double sb, double& variance);

}  // namespace talvo::filon_detail
