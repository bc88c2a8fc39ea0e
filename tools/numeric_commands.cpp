// moq and filon: modification functions and Filon sine integrals.
#include <iostream>

#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/moq.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

int run_moq(const Args& a) {
  if (!a.get("--option") || !a.get("--qmax")) throw UsageError{"--option and --qmax are needed"};
  const std::vector<double> q = read_columns(1)[0];
  const std::size_t nm = a.flag("--histogram") ? (q.empty() ? 0 : q.size() - 1) : q.size();
  std::vector<double> m(nm);
  const std::array<double, 2> params = {a.get("--p1") ? number(*a.get("--p1"), "--p1") : 0.0,
                                        a.get("--p2") ? number(*a.get("--p2"), "--p2") : 0.0};
  const Status s =
      moq(q, m, number(*a.get("--qmax"), "--qmax"), params, integer(*a.get("--option"), "--option"), 0, std::cout);
  if (!report(s)) return 1;
  const std::vector<double> qe = moq_effective_q(q, nm);
  for (std::size_t j = 0; j < nm; ++j) row({qe[j], m[j]});
  return 0;
}

int run_filon(const Args& a) {
  if (a.get("--k").has_value() == a.get("--single").has_value())
    throw UsageError{"give --k FROM:TO:STEP or --single K"};
  auto cols = read_columns(2);
  std::vector<double>& x = cols[0];
  std::vector<double>& f = cols[1];
  if (a.get("--single")) {
    const double k = number(*a.get("--single"), "--single");
    double value = 0;
    const Status s = filon_integral(x, f, x.size() >= 2 ? x[1] - x[0] : 0.0, k, value);
    if (!report(s)) return 1;
    row({k, value});
    return 0;
  }
  const std::vector<double> k = grid(*a.get("--k"));
  std::vector<double> result(k.size());
  const Status s = filon_ft(x, f, k, result);
  if (!report(s)) return 1;
  for (std::size_t m = 0; m < k.size(); ++m) row({k[m], result[m]});
  return 0;
}

}  // namespace

const Subcommand kMoqCommand{
    "moq", run_moq, {"--histogram"}, "modification function M(Q) on a Q grid",
    "usage: talvo-tools moq --option N --qmax Q [--p1 V] [--p2 V] [--histogram]\n"
    "Q values (points, or bin edges with --histogram) from the first column of standard input;\n"
    "prints \"Qe M\" rows. Options: 1 Lorch, 2 step, 3 piecewise quadratic, 4 Gaussian (p1),\n"
    "5 sphere transform (p1 = sub-option 1, 2 with scale p2, or 3).\n"};

const Subcommand kFilonCommand{
    "filon", run_filon, {}, "sine Fourier integral by Filon's method",
    "usage: talvo-tools filon --k FROM:TO:STEP | --single K\n"
    "\"x f\" rows on an equally spaced grid from standard input; prints \"k integral\" rows of the\n"
    "integral of f(x) sin(kx), or with --single the one value.\n"};

}  // namespace talvo::cli
