// M(Q), the Filon transform with and without errors, peaks and S(Q) -> G(r)
// on arbitrary grids and parameters.
#include <cmath>
#include <sstream>

#include "fuzz_support.hpp"
#include "talvo/classic/filon.hpp"
#include "talvo/classic/moq.hpp"
#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/modification.hpp"
#include "talvo/numeric/peaks.hpp"
#include "talvo/numeric/sq2gr.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int option = data[0] % 7, histogram = data[1] % 2, nk = data[2] % 8;
  std::vector<double> v = fuzz::doubles(data + 4, size - 4);
  if (v.size() < 3) return 0;
  const double qmax = v[0], p1 = v[1], p2 = v[2];
  std::vector<double> q(v.begin() + 3, v.end());
  std::vector<double> m(histogram && !q.empty() ? q.size() - 1 : q.size());
  std::ostringstream out;
  (void)talvo::classic::moq(q, m, qmax, {p1, p2}, option, data[3] % 2, out);
  const talvo::Result<std::vector<double>> window =
      talvo::modification(q, static_cast<talvo::Window>(option % 6), qmax, {p1, p2, histogram == 1});
  if (window.ok())
    for (double w : *window)
      if (!std::isfinite(w)) __builtin_trap();

  // Filon: the first values as k, the rest as x and f pairs.
  const std::size_t k_count = std::min(static_cast<std::size_t>(nk), v.size());
  std::vector<double> k(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k_count)), r(k_count);
  std::vector<double> x, f;
  for (std::size_t i = k_count; i + 1 < v.size(); i += 2) {
    x.push_back(v[i]);
    f.push_back(v[i + 1]);
  }
  const std::size_t n = x.size();
  (void)talvo::classic::filon_ft(x, f, k, r);
  if (x.size() != f.size() || x.size() > n + 1) __builtin_trap();
  if (x.size() >= 2) (void)talvo::filon_integral(x, f, x[1] - x[0], k.empty() ? 1.0 : k[0]);

  // The value-returning forms: f doubles as its own sigma, x as Q, f as S(Q).
  x.resize(n);
  f.resize(n);
  const talvo::Result<talvo::FilonTransform> fr = talvo::filon_ft(x, f, k, {f, data[3] % 2 == 0});
  if (fr.ok() && (fr->integral.size() != k.size() || fr->sigma.size() != k.size())) __builtin_trap();
  talvo::Sq2grOptions o;
  o.window = static_cast<talvo::Window>(option % 6);
  o.p1 = p1;
  o.p2 = p2;
  if (histogram) o.sigma = f;
  if (data[3] % 3 == 0) o.qmax = qmax;
  const talvo::Result<talvo::PairDistribution> g = talvo::sq2gr(x, f, k, p1, o);
  if (g.ok() && (g->G.size() != k.size() || g->g.size() != k.size() || g->sigma_G.size() != k.size())) __builtin_trap();
  const talvo::Result<std::vector<double>> pk =
      talvo::peak(q, {static_cast<talvo::PeakShape>(option % 3), qmax, p1, p2});
  if (pk.ok() && pk->size() != q.size()) __builtin_trap();
  return 0;
}
