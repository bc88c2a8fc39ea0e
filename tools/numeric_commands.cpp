// moq, filon, peak and sq2gr: modification functions, Filon sine integrals,
// peak shapes and the transform of S(Q) to G(r).
#include <iostream>
#include <string>
#include <vector>

#include "talvo/files/files.hpp"
#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/modification.hpp"
#include "talvo/numeric/peaks.hpp"
#include "talvo/numeric/sq2gr.hpp"
#include "talvo/text/quote.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

// The window of each --option number, 1 to 5.
constexpr Window kOptionWindows[] = {Window::kLorch, Window::kStep, Window::kQuadratic, Window::kGaussian,
                                     Window::kSphere};

// Option `name`'s number, `fallback` when it is not given.
Result<double> option_number(const Args& a, const std::string& name, double fallback) {
  return a.get(name) ? number(*a.get(name), name) : Result<double>(fallback);
}

int run_moq(const Args& a) {
  if (!a.get("--option") || !a.get("--qmax")) return usage(a, "--option and --qmax are needed");
  const Result<std::vector<std::vector<double>>> read = read_columns(1);
  if (!read.ok()) return input_error(a, read.error());
  const std::vector<double>& q = (*read)[0];
  const bool histogram = a.flag("--histogram");
  const std::size_t nm = histogram ? (q.empty() ? 0 : q.size() - 1) : q.size();
  ModificationOptions o;
  const Result<double> p1 = option_number(a, "--p1", 0.0), p2 = option_number(a, "--p2", 0.0);
  if (!p1.ok()) return usage(a, p1.error());
  if (!p2.ok()) return usage(a, p2.error());
  o.p1 = *p1;
  o.p2 = *p2;
  o.histogram = histogram;
  const Result<double> qmax = number(*a.get("--qmax"), "--qmax");
  if (!qmax.ok()) return usage(a, qmax.error());
  const Result<int> option = integer(*a.get("--option"), "--option");
  if (!option.ok()) return usage(a, option.error());
  if (*option < 1 || *option > 5)
    return input_error(a, "unknown option " + std::to_string(*option) +
                              ": give 1 (Lorch), 2 (step), 3 (quadratic), 4 (Gaussian) or 5 (sphere)");
  const Result<std::vector<double>> m = modification(q, kOptionWindows[*option - 1], *qmax, o);
  if (!report("moq", m)) return 1;
  const std::vector<double> qe = moq_effective_q(q, nm);
  for (std::size_t j = 0; j < nm; ++j) row({qe[j], (*m)[j]});
  return 0;
}

int run_filon(const Args& a) {
  if (a.get("--k").has_value() == a.get("--single").has_value()) return usage(a, "give --k FROM:TO:STEP or --single K");
  const bool errors = a.flag("--errors");
  const Result<std::vector<std::vector<double>>> cols = read_columns(std::cin, "standard input", errors ? 3 : 2);
  if (!cols.ok()) return input_error(a, cols.error());
  const std::vector<double>& x = (*cols)[0];
  const std::vector<double>& f = (*cols)[1];
  const std::vector<double> none;
  const std::vector<double>& sigma = errors ? (*cols)[2] : none;
  if (a.get("--single")) {
    const Result<double> k = number(*a.get("--single"), "--single");
    if (!k.ok()) return usage(a, k.error());
    const double h = x.size() >= 2 ? x[1] - x[0] : 0.0;
    const Result<double> value = filon_integral(x, f, h, *k);
    if (!report("filon", value)) return 1;
    if (!errors) {
      row({*k, *value});
      return 0;
    }
    const Result<double> sd = filon_integral_sigma(x, sigma, h, *k);
    if (!report("filon", sd)) return 1;
    row({*k, *value, *sd});
    return 0;
  }
  const Result<std::vector<double>> k = grid(*a.get("--k"));
  if (!k.ok()) return usage(a, k.error());
  const Result<FilonTransform> r = filon_ft(x, f, *k, {sigma, true});
  if (!report("filon", r)) return 1;
  for (std::size_t m = 0; m < k->size(); ++m)
    errors ? row({(*k)[m], static_cast<float>(r->integral[m]), r->sigma[m]})
           : row({(*k)[m], static_cast<float>(r->integral[m])});
  return 0;
}

int run_peak(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one peak shape: gaussian, lorentzian or pseudo-voigt");
  const std::optional<PeakShape> shape = peak_shape_named(a.positional[0]);
  if (!shape) return usage(a, "unknown peak shape: " + quote_for_message(a.positional[0]));
  if (!a.get("--center") || !a.get("--fwhm")) return usage(a, "--center and --fwhm are needed");
  if ((*shape == PeakShape::kPseudoVoigt) != a.get("--eta").has_value())
    return usage(a, "--eta belongs to pseudo-voigt, and pseudo-voigt needs it");
  PeakOptions o;
  o.shape = *shape;
  const Result<double> center = number(*a.get("--center"), "--center"), fwhm = number(*a.get("--fwhm"), "--fwhm");
  if (!center.ok()) return usage(a, center.error());
  if (!fwhm.ok()) return usage(a, fwhm.error());
  o.center = *center;
  o.fwhm = *fwhm;
  if (a.get("--eta")) {
    const Result<double> eta = number(*a.get("--eta"), "--eta");
    if (!eta.ok()) return usage(a, eta.error());
    o.eta = *eta;
  }
  std::vector<double> x;
  if (a.get("--x")) {
    Result<std::vector<double>> g = grid(*a.get("--x"));
    if (!g.ok()) return usage(a, g.error());
    x = std::move(*g);
  } else {
    Result<std::vector<std::vector<double>>> read = read_columns(1);
    if (!read.ok()) return input_error(a, read.error());
    x = std::move((*read)[0]);
  }
  const Result<std::vector<double>> y = peak(x, o);
  if (!report("peak", y)) return 1;
  for (std::size_t i = 0; i < x.size(); ++i) row({x[i], (*y)[i]});
  return 0;
}

int run_sq2gr(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one file of \"Q S(Q) [sigma]\" rows");
  if (!a.get("--rho0") || !a.get("--r")) return usage(a, "--rho0 and --r are needed");
  Sq2grOptions o;
  if (a.get("--window")) {
    const std::optional<Window> w = window_named(*a.get("--window"));
    if (!w) return usage(a, "unknown window: " + quote_for_message(*a.get("--window")));
    o.window = *w;
  }
  if (a.get("--qmax")) {
    const Result<double> qmax = number(*a.get("--qmax"), "--qmax");
    if (!qmax.ok()) return usage(a, qmax.error());
    o.qmax = *qmax;
  }
  const Result<double> p1 = option_number(a, "--p1", o.p1), p2 = option_number(a, "--p2", o.p2);
  if (!p1.ok()) return usage(a, p1.error());
  if (!p2.ok()) return usage(a, p2.error());
  o.p1 = *p1;
  o.p2 = *p2;
  const Result<double> rho0 = number(*a.get("--rho0"), "--rho0");
  if (!rho0.ok()) return usage(a, rho0.error());
  const Result<std::vector<double>> r = grid(*a.get("--r"));
  if (!r.ok()) return usage(a, r.error());
  const std::string& file = a.positional[0];
  Result<std::vector<std::vector<double>>> cols = make_error(ErrorKind::kIoError, "");
  if (file == "-") {
    cols = read_columns(std::cin, "standard input", 2, 1);
  } else {
    // Only a regular file: a FIFO would hang the command, a device never end.
    Result<InputFile> in = InputFile::open(file);
    if (!in.ok()) return input_error(a, in.error());
    cols = read_columns(in->stream(), file, 2, 1);
  }
  if (!cols.ok()) return input_error(a, cols.error());
  if (cols->size() > 2) o.sigma = (*cols)[2];
  const Result<PairDistribution> g = sq2gr((*cols)[0], (*cols)[1], *r, *rho0, o);
  if (!report("sq2gr", g)) return 1;
  for (std::size_t j = 0; j < r->size(); ++j) row({(*r)[j], g->G[j], g->g[j], g->sigma_G[j]});
  return 0;
}

}  // namespace

const Subcommand kMoqCommand{
    "moq",
    run_moq,
    {"--histogram"},
    {"--option", "--qmax", "--p1", "--p2"},
    "modification function M(Q) on a Q grid",
    "usage: talvo-tools moq --option N --qmax Q [--p1 V] [--p2 V] [--histogram]\n"
    "Q values (points, or bin edges with --histogram) from the first column of standard input;\n"
    "prints \"Qe M\" rows. Options: 1 Lorch, 2 step, 3 piecewise quadratic, 4 Gaussian (p1),\n"
    "5 sphere transform (p1 = sub-option 1, 2 with scale p2, or 3). M is 0 beyond Qmax.\n"};

const Subcommand kFilonCommand{
    "filon",
    run_filon,
    {"--errors"},
    {"--k", "--single"},
    "sine Fourier integral by Filon's method",
    "usage: talvo-tools filon --k FROM:TO:STEP | --single K [--errors]\n"
    "\"x f\" rows on an equally spaced grid from standard input; prints \"k integral\" rows of the\n"
    "integral of f(x) sin(kx), or with --single the one value. With --errors a third column holds\n"
    "the standard deviation of each f, and a third column of the output that of the integral.\n"
    "An even number of points: with --k a point x(n) + h with f = 0 is added, --single refuses it.\n"};

const Subcommand kPeakCommand{
    "peak",
    run_peak,
    {},
    {"--center", "--eta", "--fwhm", "--x"},
    "peak shapes of unit area",
    "usage: talvo-tools peak gaussian|lorentzian|pseudo-voigt --center C --fwhm W [--eta E]\n"
    "                        [--x FROM:TO:STEP]\n"
    "prints \"x y\" rows of the peak of centre C and full width at half maximum W, on the grid or\n"
    "on the x values of standard input; pseudo-voigt needs --eta, the Lorentzian share (0 to 1).\n"};

const Subcommand kSq2grCommand{
    "sq2gr",
    run_sq2gr,
    {},
    {"--rho0", "--r", "--window", "--qmax", "--p1", "--p2"},
    "pair distribution function G(r) from S(Q)",
    "usage: talvo-tools sq2gr FILE --rho0 R --r FROM:TO:STEP [--window W] [--qmax Q] [--p1 V] [--p2 V]\n"
    "FILE (- for standard input) holds \"Q S(Q) [sigma]\" rows of increasing Q >= 0 (the .sq of pdf\n"
    "reads as it is); Q not equally spaced is interpolated linearly onto as many equally spaced points;\n"
    "prints \"r G g sigma_G\" rows: G(r) = (2/pi) integral of Q (S(Q) - 1) M(Q) sin(Qr) dQ up to\n"
    "Qmax, g(r) = 1 + G(r) / (4 pi r R) with R in atoms per cubic Angstrom, sigma_G from the sigma\n"
    "column (0 without one). W: lorch (the default), step, quadratic, gaussian (--p1), sphere\n"
    "(--p1 sub-option, --p2), none; Qmax is the last Q unless --qmax gives it, and data beyond it\n"
    "are left out. An even number of points up to Qmax integrates the last step as the straight line\n"
    "through its values, with a warning. Lorch is the default here, for a quick look at an S(Q) whose\n"
    "end may not have come to 1 (it rings least); pdf's default is none, as the reference program's,\n"
    "so that its G(r) compares with that program's.\n"};

}  // namespace talvo::cli
