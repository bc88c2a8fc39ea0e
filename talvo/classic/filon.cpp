#include "talvo/classic/filon.hpp"

#include <algorithm>

#include "talvo/numeric/filon.hpp"

namespace talvo::classic {
namespace {

// The classic numbers of a refused grid, the one place they are made: the
// modern transform refuses a grid only for these causes, or for memory that
// runs out, and its words follow the classic prefix.
Status classic_status(std::size_t nx, std::size_t nf, const Error& e) {
  const int ierr = e.kind == ErrorKind::kOutOfMemory ? 5 : nx != nf ? 3 : nx < 3 ? 1 : 4;
  return Status::error(ierr, "filon: " + e.message);
}

}  // namespace

Status filon_ft(std::vector<double>& x, std::vector<double>& f, std::span<const double> k, std::span<double> result) {
  const std::size_t nk = std::min(k.size(), result.size());
  // The transform integrates an even grid as if extended by the zero point,
  // with the values of the extended grid (its warning is the extension itself).
  FilonOptions o;
  o.even = EvenPoints::kZeroPoint;
  Result<FilonTransform> t = talvo::filon_ft(x, f, k.first(nk), o);
  if (!t.ok()) return classic_status(x.size(), f.size(), t.error());
  if (x.size() % 2 == 0) {
    const double h = x[1] - x[0];
    x.push_back(x.back() + h);
    f.push_back(0.0);
  }
  std::copy(t->integral.begin(), t->integral.end(), result.begin());
  return {};
}

}  // namespace talvo::classic
