// talvo.filon_ft, modification, sq2gr and peak.
#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/modification.hpp"
#include "talvo/numeric/peaks.hpp"
#include "talvo/numeric/sq2gr.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::python {
namespace {

struct Sq2grTag {};
using Sq2grOut = Typed<Sq2grTag>;

constexpr std::array<Field, 3> kSq2grFields{{
    {"G", Kind::kArrayOrFloat},
    {"g", Kind::kArrayOrFloat},
    {"sigma_G", Kind::kArrayOrFloat},
}};

Window window_of(const std::string& name) {
  const std::optional<Window> w = window_named(text_arg(name, "window"));
  if (!w) raise_invalid("unknown window " + quote_for_message(name) + ": give lorch, step, quadratic, gaussian, sphere or none");
  return *w;
}

py::object filon_ft(const py::object& x_in, const py::object& f_in, const py::object& k_in,
                    const std::optional<py::object>& sigma_in, bool single_precision) {
  const InArray x = numbers(x_in, "x"), f = numbers(f_in, "f"), k = numbers(k_in, "k");
  std::optional<InArray> sigma;
  if (sigma_in && !sigma_in->is_none()) sigma = numbers(*sigma_in, "sigma");
  FilonOptions o;
  o.single_precision = single_precision;
  if (sigma) o.sigma = one_d(*sigma, "sigma");
  const auto xs = one_d(x, "x");
  const auto fs = one_d(f, "f");
  const Interrupts interrupts;
  o.stop = interrupts.stop();
  std::optional<Result<FilonTransform>> r;
  {
    py::gil_scoped_release unlocked;
    r = talvo::filon_ft(xs, fs, view(k), o);
  }
  interrupts.raise_if_stopped();
  FilonTransform t = take(std::move(*r));
  const auto shape = shape_of(k);
  py::object integral = shaped(std::move(t.integral), shape);
  if (!sigma) return integral;
  return py::make_tuple(integral, shaped(std::move(t.sigma), shape));
}

py::array_t<double> modification(const py::object& q_in, const std::string& window, std::optional<double> qmax,
                                 double p1, double p2, bool histogram) {
  const InArray q = numbers(q_in, "q");
  const auto qs = one_d(q, "q");
  const Window w = window_of(window);
  ModificationOptions o;
  o.p1 = p1;
  o.p2 = p2;
  o.histogram = histogram;
  // Without a Qmax the window closes at the last Q, as sq2gr's does.
  const double qm = qmax ? *qmax : (qs.empty() ? 0.0 : qs.back());
  std::optional<Result<std::vector<double>>> r;
  {
    py::gil_scoped_release unlocked;
    r = talvo::modification(qs, w, qm, o);
  }
  return to_numpy(take(std::move(*r)));
}

py::object sq2gr(const py::object& q_in, const py::object& s_in, const py::object& r_in, double rho0,
                 const std::optional<py::object>& sigma_in, const std::string& window, std::optional<double> qmax,
                 double p1, double p2) {
  const InArray q = numbers(q_in, "q"), s = numbers(s_in, "s"), r = numbers(r_in, "r");
  std::optional<InArray> sigma;
  if (sigma_in && !sigma_in->is_none()) sigma = numbers(*sigma_in, "sigma");
  Sq2grOptions o;
  if (sigma) o.sigma = one_d(*sigma, "sigma");
  o.window = window_of(window);
  o.qmax = qmax;
  o.p1 = p1;
  o.p2 = p2;
  const auto qs = one_d(q, "q");
  const auto ss = one_d(s, "s");
  const Interrupts interrupts;
  o.stop = interrupts.stop();
  std::optional<Result<PairDistribution>> result;
  {
    py::gil_scoped_release unlocked;
    result = talvo::sq2gr(qs, ss, view(r), rho0, o);
  }
  interrupts.raise_if_stopped();
  PairDistribution g = take(std::move(*result));
  const auto shape = shape_of(r);
  Sq2grOut out;
  out.v = {shaped(std::move(g.G), shape), shaped(std::move(g.g), shape), shaped(std::move(g.sigma_G), shape)};
  return make_result(std::move(out));
}

py::object peak(const py::object& x_in, const std::string& shape, double center, double fwhm, double eta) {
  const std::optional<PeakShape> kind = peak_shape_named(text_arg(shape, "shape"));
  if (!kind) raise_invalid("unknown peak shape " + quote_for_message(shape) + ": give gaussian, lorentzian or pseudo-voigt");
  const InArray x = numbers(x_in, "x");
  PeakOptions o;
  o.shape = *kind;
  o.center = center;
  o.fwhm = fwhm;
  o.eta = eta;
  std::optional<Result<std::vector<double>>> r;
  {
    py::gil_scoped_release unlocked;
    r = talvo::peak(view(x), o);
  }
  return shaped(take(std::move(*r)), shape_of(x));
}

constexpr const char* kFilonDoc = R"(filon_ft(x, f, k, sigma=None, single_precision=True)
--

The integral of f(x) sin(k x) dx over the grid x, by Filon's rule.

Accurate also where sin(kx) turns many times within a step.

x, f
    The function on an equally spaced grid (one-dimensional, at least 3
    points). An even number of points is integrated with one more point
    x(n) + h where f = 0, with a TalvoWarning saying so.
k
    Where to evaluate, in the inverse of x's unit (inverse Angstrom for x
    in Angstrom): any shape, or a scalar.
sigma
    The standard deviation of each f value (independent errors).
single_precision
    Round each integral to single precision as `talvo-tools filon` prints
    it (the default); False keeps the double.

Returns the integrals in k's shape (a float for a scalar k); with sigma, a
tuple (integral, sigma of the integral), the latter in double precision.
Raises ValueError for too few points, x and f (or sigma) of different
lengths, or an x that is not equally spaced.)";

constexpr const char* kModificationDoc = R"(modification(q, window='lorch', qmax=None, p1=0.0, p2=0.0, histogram=False)
--

The modification function M(Q) that damps termination ripples.

q
    Q values in inverse Angstrom (one-dimensional): points, or bin edges with histogram=True
    (then one value per bin).
window
    "lorch" (sin(pi Q / Qmax) / (pi Q / Qmax)), "step", "quadratic",
    "gaussian" (exp(-p1^2 Q^2)), "sphere" (sub-option p1 = 1, 2 or 3, p2 the
    scale of x) or "none" (1 everywhere).
qmax
    Where the window closes; the last Q when None.

Returns a float64 array. Raises ValueError for an unknown window, a Q that
is negative or not finite, an unreasonable Qmax or parameter, or too few Q
values.)";

constexpr const char* kSq2grDoc = R"(sq2gr(q, s, r, rho0, sigma=None, window='lorch', qmax=None, p1=0.0, p2=0.0)
--

The pair distribution functions G(r) and g(r) from S(Q).

G(r) = (2/pi) integral of Q (S(Q) - 1) M(Q) sin(Qr) dQ over the data, by
Filon's rule in double precision, and g(r) = 1 + G(r) / (4 pi r rho0).

q, s
    S(Q) on an increasing grid of Q >= 0 (one-dimensional, at least 3
    points). Q not equally spaced (within 1/1000 of a step), as a 2theta
    scan's, is interpolated linearly onto as many equally spaced points, with
    a TalvoWarning. An even number of points leaves the last one out, with a
    TalvoWarning.
r
    Where to evaluate (above 0): any shape, or a scalar.
rho0
    The number density in atoms per cubic Angstrom.
sigma
    The standard deviation of each S(Q) value, for sigma_G.
window, qmax, p1, p2
    The window M(Q) as in modification(); lorch by default, closing at the
    last Q.

Returns an Sq2gr with G, g and sigma_G (0 without sigma), each of r's shape
(floats for a scalar r). Raises ValueError for unequal lengths, too few
points, a negative Q or one that does not increase, an r or rho0 that is
not positive, or a window that refuses its Qmax or parameters.)";

constexpr const char* kPeakDoc = R"(peak(x, shape, center, fwhm, eta=0.5)
--

A peak of unit area at every x.

shape
    "gaussian", "lorentzian" or "pseudo-voigt" (eta Lorentzian, 1 - eta
    Gaussian, of the same width).
center, fwhm
    The centre and the full width at half maximum, in x's unit.
eta
    The Lorentzian share of a pseudo-Voigt peak, 0 to 1.

Returns an array of x's shape (a float for a scalar x). Raises ValueError
for an unknown shape, a width that is not positive, an eta outside 0..1 or
a centre that is not finite.)";

}  // namespace

void init_numeric(py::module_& m) {
  define<Sq2grTag>(m, "Sq2gr",
                   "G(r) (per square Angstrom), g(r) and the standard deviation of G, at every r (see sq2gr()).",
                   kSq2grFields);
  m.def("filon_ft", &filon_ft, kFilonDoc, py::arg("x"), py::arg("f"), py::arg("k"), py::arg("sigma") = py::none(),
        py::arg("single_precision") = true);
  m.def("modification", &modification, kModificationDoc, py::arg("q"), py::arg("window") = "lorch",
        py::arg("qmax") = py::none(), py::arg("p1") = 0.0, py::arg("p2") = 0.0, py::arg("histogram") = false);
  m.def("sq2gr", &sq2gr, kSq2grDoc, py::arg("q"), py::arg("s"), py::arg("r"), py::arg("rho0"),
        py::arg("sigma") = py::none(), py::arg("window") = "lorch", py::arg("qmax") = py::none(), py::arg("p1") = 0.0,
        py::arg("p2") = 0.0);
  m.def("peak", &peak, kPeakDoc, py::arg("x"), py::arg("shape"), py::arg("center"), py::arg("fwhm"),
        py::arg("eta") = 0.5);
}

}  // namespace talvo::python
