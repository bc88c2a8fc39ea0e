#include "talvo/model/refine.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>

#include "talvo/files/read.hpp"
#include "talvo/numeric/least_squares.hpp"
#include "talvo/text/decimal.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

std::string text_of(double v) {
  char t[32];
  std::snprintf(t, sizeof t, "%.6g", v);
  return t;
}

Error invalid(const std::string& m) { return make_error(ErrorKind::kInvalidArgument, m); }

// How a parameter changes the structure or the options.
struct Handle {
  std::string name;
  double start = 0;
  double lower = -std::numeric_limits<double>::infinity(), upper = std::numeric_limits<double>::infinity();
  std::function<Outcome(Structure&, ModelOptions&, double)> set;
  std::vector<std::string> writes;  // what a CIF's uncertainties call what it moves
};

// The sites a name stands for: the one of that label, else every site of that element.
std::vector<std::size_t> sites_named(const Structure& s, std::string_view name) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < s.sites.size(); ++i)
    if (s.sites[i].label == name) return {i};
  for (std::size_t i = 0; i < s.sites.size(); ++i)
    if (equal_case_blind(s.sites[i].element, name)) out.push_back(i);
  return out;
}

Outcome remake_cell(Structure& s, double a, double b, double c, double alpha, double beta, double gamma) {
  Result<UnitCell> cell = make_cell(a, b, c, alpha, beta, gamma);
  if (!cell.ok()) return cell.error();
  // U_cart follows the cell: keep each site's U in the CIF frame.
  for (Site& site : s.sites) site.u = cell->u_cif_to_cartesian(s.cell.u_cartesian_to_cif(site.u));
  s.cell = *cell;
  return Done{};
}

Result<Handle> handle_of(const Structure& s0, const ModelOptions& o0, const RefineParameter& p) {
  Handle h;
  h.name = p.name;
  const std::size_t colon = p.name.find(':');
  const std::string base = p.name.substr(0, colon);
  const std::string which = colon == std::string::npos ? "" : p.name.substr(colon + 1);
  struct Field {
    const char* name;
    double ModelOptions::*member;
    double lower;
  };
  static const Field fields[] = {{"scale", &ModelOptions::scale, -1e300}, {"delta1", &ModelOptions::delta1, -1e300},
                                 {"delta2", &ModelOptions::delta2, -1e300}, {"qdamp", &ModelOptions::qdamp, 0.0},
                                 {"qbroad", &ModelOptions::qbroad, 0.0},   {"sratio", &ModelOptions::sratio, 0.0},
                                 {"spdiameter", &ModelOptions::spdiameter, 0.0}};
  for (const Field& f : fields)
    if (base == f.name && which.empty()) {
      h.start = o0.*f.member;
      h.lower = f.lower;
      const auto member = f.member;
      h.set = [member](Structure&, ModelOptions& o, double v) {
        o.*member = v;
        return Outcome(Done{});
      };
      if (base == "sratio" && o0.rcut <= 0) return invalid("sratio is refined only with an rcut above 0");
      return h;
    }
  if ((base == "a" || base == "b" || base == "c" || base == "alpha" || base == "beta" || base == "gamma") && which.empty()) {
    if (!s0.periodic) return invalid("a box has no cell to refine");
    const UnitCell& c = s0.cell;
    const bool b_follows = c.b == c.a, c_follows_a = c.c == c.a, c_follows_b = c.c == c.b;
    const bool beta_follows = c.beta == c.alpha, gamma_follows = c.gamma == c.alpha;
    h.lower = 0;
    h.writes = {base};
    if (base == "a" && b_follows) h.writes.push_back("b");
    if ((base == "a" && c_follows_a) || (base == "b" && c_follows_b && !c_follows_a)) h.writes.push_back("c");
    if (base == "alpha" && beta_follows) h.writes.push_back("beta");
    if (base == "alpha" && gamma_follows) h.writes.push_back("gamma");
    h.start = base == "a" ? c.a : base == "b" ? c.b : base == "c" ? c.c : base == "alpha" ? c.alpha : base == "beta" ? c.beta : c.gamma;
    h.set = [=](Structure& s, ModelOptions&, double v) {
      double a = s.cell.a, b = s.cell.b, cc = s.cell.c, al = s.cell.alpha, be = s.cell.beta, ga = s.cell.gamma;
      if (base == "a") {
        a = v;
        if (b_follows) b = v;
        if (c_follows_a) cc = v;
      } else if (base == "b") {
        b = v;
        if (c_follows_b && !c_follows_a) cc = v;
      } else if (base == "c") {
        cc = v;
      } else if (base == "alpha") {
        al = v;
        if (beta_follows) be = v;
        if (gamma_follows) ga = v;
      } else if (base == "beta") {
        be = v;
      } else {
        ga = v;
      }
      return remake_cell(s, a, b, cc, al, be, ga);
    };
    return h;
  }
  if (base == "uiso" || base == "occ" || base == "x" || base == "y" || base == "z") {
    std::vector<std::size_t> sites;
    if (which.empty()) {
      if (base != "uiso") return invalid(base + " needs a site: " + base + ":LABEL or " + base + ":ELEMENT");
      for (std::size_t i = 0; i < s0.sites.size(); ++i) sites.push_back(i);
    } else {
      sites = sites_named(s0, which);
    }
    if (sites.empty()) return invalid("no site or element \"" + which + "\" in the structure for " + p.name);
    if (base == "uiso" || base == "occ")
      for (std::size_t i : sites) h.writes.push_back(base + ":" + s0.sites[i].label);
    if (base == "uiso") {
      double sum = 0;
      for (std::size_t i : sites) sum += u_equivalent(s0.sites[i].u);
      h.start = sum / static_cast<double>(sites.size());
      h.lower = 0;
      h.set = [sites](Structure& s, ModelOptions&, double v) {
        for (std::size_t i : sites) s.sites[i].u = isotropic_u(v), s.sites[i].anisotropic = false;
        return Outcome(Done{});
      };
      return h;
    }
    if (base == "occ") {
      h.start = s0.sites[sites[0]].occupancy;
      h.lower = 0, h.upper = 1;
      h.set = [sites](Structure& s, ModelOptions&, double v) {
        for (std::size_t i : sites) s.sites[i].occupancy = v;
        return Outcome(Done{});
      };
      return h;
    }
    const std::size_t site = sites[0];
    const int component = base[0] - 'x';
    const SiteConstraint c = position_constraint(s0, site);
    const auto f = std::find(c.free.begin(), c.free.end(), component);
    if (f == c.free.end())
      return invalid(p.name + ": the site symmetry of " + s0.sites[site].label + " does not let " + base + " move");
    const std::vector<double> effect = c.basis[static_cast<std::size_t>(f - c.free.begin())];
    const Vec3 x0 = s0.sites[site].xyz;
    for (std::size_t k = 0; k < 3; ++k)
      if (effect[k] != 0.0) h.writes.push_back(std::string(1, static_cast<char>('x' + k)) + ":" + s0.sites[site].label);
    h.start = x0[static_cast<std::size_t>(component)];
    h.set = [=](Structure& s, ModelOptions&, double v) {
      const double delta = v - x0[static_cast<std::size_t>(component)];
      Vec3& x = s.sites[site].xyz;
      for (std::size_t k = 0; k < 3; ++k) x[k] = x0[k] + effect[k] * delta;
      return Outcome(Done{});
    };
    return h;
  }
  return invalid("\"" + p.name + "\" is not a parameter that can be refined (scale, a, b, c, alpha, beta, gamma, "
                                 "uiso, uiso:S, occ:S, x:S, y:S, z:S, delta1, delta2, qdamp, qbroad, sratio, spdiameter)");
}

}  // namespace

Result<std::vector<RefineParameter>> parse_refine_list(std::string_view text) {
  std::vector<RefineParameter> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(start, end - start);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    RefineParameter p;
    const std::size_t eq = item.find('=');
    p.name = std::string(item.substr(0, eq));
    if (p.name.empty()) return make_error(ErrorKind::kParseError, "an empty parameter name in \"" + std::string(text) + "\"");
    if (eq != std::string_view::npos) {
      std::string_view v = item.substr(eq + 1);
      double value = 0;
      if (v.empty() || read_decimal(v.data(), v.data() + v.size(), value).ptr != v.data() + v.size())
        return make_error(ErrorKind::kParseError, "the start of " + p.name + " is not a number: \"" + std::string(v) + "\"");
      p.start = value;
    }
    for (const RefineParameter& q : out)
      if (q.name == p.name)
        return make_error(ErrorKind::kInvalidArgument, "the parameter " + p.name + " is named twice: name it once");
    out.push_back(std::move(p));
    if (end == text.size()) break;
    start = end + 1;
  }
  return out;
}

Result<MeasuredPdf> read_measured_pdf(const std::string& file) {
  Result<std::string> text = read_whole_file(file);
  if (!text.ok()) return text.error();
  std::string_view all = *text;
  // PDFgetX2/N write "##### start data", PDFgetX3 "#### start data": the rows follow it.
  if (const std::size_t at = all.find("# start data"); at != std::string_view::npos) all = all.substr(at);
  MeasuredPdf d;
  d.source = file;
  std::size_t columns = 0, line_no = 0;
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find('\n', pos);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    const std::vector<std::string_view> w = split_words(line);
    if (w.empty() || w[0][0] == '#') continue;
    std::vector<double> v;
    for (std::string_view x : w) {
      double value = 0;
      if (read_decimal(x.data(), x.data() + x.size(), value).ptr != x.data() + x.size()) break;
      v.push_back(value);
    }
    if (v.size() != w.size() || v.size() < 2) {
      if (d.r.empty()) continue;  // a header's words before the rows
      return make_error(ErrorKind::kParseError, file + ": a row that is not numbers after the data began: \"" + std::string(line) + "\"");
    }
    if (columns == 0) columns = std::min<std::size_t>(v.size(), 4);
    if (v.size() < columns)
      return make_error(ErrorKind::kParseError, file + ": a row of " + std::to_string(v.size()) + " columns among rows of " + std::to_string(columns));
    d.r.push_back(v[0]);
    d.g.push_back(v[1]);
    if (columns == 3) d.dg.push_back(v[2]);
    if (columns == 4) d.dg.push_back(v[3]);
  }
  if (d.r.size() < 2) return invalid(file + ": a G(r) needs at least 2 points; it has " + std::to_string(d.r.size()));
  for (std::size_t i = 1; i < d.r.size(); ++i)
    if (!(d.r[i] > d.r[i - 1])) return invalid(file + ": r does not increase at r = " + text_of(d.r[i]));
  return d;
}

Result<RefineResult> refine(const Structure& structure, const MeasuredPdf& data, const RefineOptions& options) {
  if (options.parameters.empty()) return invalid("nothing to refine: name the parameters");
  // The data's points within the range, on their equal grid.
  std::vector<std::size_t> used;
  for (std::size_t i = 0; i < data.r.size(); ++i)
    if (data.r[i] >= options.rmin - 1e-9 && data.r[i] <= options.rmax + 1e-9) used.push_back(i);
  if (used.size() <= options.parameters.size())
    return invalid("the range " + text_of(options.rmin) + " to " + text_of(options.rmax) + " holds " +
                   std::to_string(used.size()) + " points of the data, too few for " +
                   std::to_string(options.parameters.size()) + " parameters");
  const double step = (data.r[used.back()] - data.r[used.front()]) / static_cast<double>(used.size() - 1);
  for (std::size_t k = 0; k < used.size(); ++k)
    if (std::fabs(data.r[used[k]] - (data.r[used.front()] + static_cast<double>(k) * step)) > 1e-6 * std::max(1.0, step * 1e3))
      return invalid(data.source + ": the points are not equally spaced in r; the model needs an equal grid");
  const bool unit = data.dg.empty();
  std::vector<double> sigma(used.size(), 1.0);
  if (!unit)
    for (std::size_t k = 0; k < used.size(); ++k) {
      sigma[k] = data.dg[used[k]];
      if (!(sigma[k] > 0)) return invalid(data.source + ": dG is not above 0 at r = " + text_of(data.r[used[k]]));
    }
  ModelOptions model = options.model;
  model.rmin = data.r[used.front()], model.rmax = data.r[used.back()], model.rstep = step;
  model.partials = false;
  std::vector<Handle> handles;
  std::vector<double> start;
  LeastSquaresOptions ls;
  for (const RefineParameter& p : options.parameters) {
    Result<Handle> h = handle_of(structure, model, p);
    if (!h.ok()) return h.error();
    if (p.start) h->start = *p.start;
    start.push_back(h->start);
    ls.lower.push_back(h->lower), ls.upper.push_back(h->upper);
    ls.typical.push_back(std::max(std::fabs(h->start), 1e-3));
    handles.push_back(std::move(*h));
  }
  auto evaluate = [&](std::span<const double> p, Structure& s, ModelOptions& o) -> Result<ModelResult> {
    s = structure;
    o = model;
    for (std::size_t k = 0; k < handles.size(); ++k)
      if (Outcome set = handles[k].set(s, o, p[k]); !set.ok()) return set.error();
    return pdf_model(s, o);
  };
  const ResidualFunction residuals = [&](std::span<const double> p, std::span<double> r) -> Outcome {
    Structure s;
    ModelOptions o;
    Result<ModelResult> m = evaluate(p, s, o);
    if (!m.ok()) return m.error();
    for (std::size_t k = 0; k < used.size(); ++k) r[k] = (data.g[used[k]] - m->g[k]) / sigma[k];
    return Done{};
  };
  ls.scale_covariance = false;
  ls.tolerance = 1e-8;
  ls.max_evaluations = options.max_iterations * static_cast<int>(handles.size() + 2);
  Result<LeastSquaresFit> fit = least_squares(residuals, start, used.size(), ls);
  if (!fit.ok()) return fit.error();
  RefineResult out;
  Result<ModelResult> final_model = evaluate(fit->p, out.structure, out.model);
  if (!final_model.ok()) return final_model.error();
  out.points = used.size();
  out.unit_weights = unit;
  double num = 0, den = 0;
  for (std::size_t k = 0; k < used.size(); ++k) {
    const double w = 1.0 / (sigma[k] * sigma[k]), obs = data.g[used[k]], calc = final_model->g[k];
    num += w * (obs - calc) * (obs - calc), den += w * obs * obs;
    out.r.push_back(data.r[used[k]]), out.g_obs.push_back(obs), out.g_calc.push_back(calc);
  }
  out.chi2 = num;
  out.rw = std::sqrt(num / den);
  out.chi2_reduced = num / static_cast<double>(used.size() - handles.size());
  out.iterations = fit->iterations;
  out.converged = fit->converged;
  const std::size_t n = handles.size();
  out.correlation.assign(n * n, 0.0);
  std::vector<std::string> bound_warnings;
  for (std::size_t k = 0; k < n; ++k) {
    if (fit->at_bound[k]) {
      // The fitter gives 0 for it, which would read as exact; no sigma is known.
      constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
      out.parameters.push_back({handles[k].name, fit->p[k], kNone, kNone, true});
      const bool lower = fit->p[k] <= handles[k].lower;
      bound_warnings.push_back(handles[k].name + " ended at its " + (lower ? "lower" : "upper") + " bound " +
                               text_of(lower ? handles[k].lower : handles[k].upper) +
                               ": it has no sigma from the curvature there");
      continue;
    }
    const double sd = fit->sigma[k];
    out.parameters.push_back({handles[k].name, fit->p[k], sd, sd * std::sqrt(out.chi2_reduced)});
    for (const std::string& w : handles[k].writes) out.uncertainties[w] = sd * std::sqrt(out.chi2_reduced);
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      const double d = std::sqrt(fit->covariance[i * n + i] * fit->covariance[j * n + j]);
      out.correlation[i * n + j] = d > 0 ? fit->covariance[i * n + j] / d : 0.0;
      if (j > i && std::fabs(out.correlation[i * n + j]) > 0.9)
        out.correlated.push_back(handles[i].name + "-" + handles[j].name + ": " + text_of(out.correlation[i * n + j]));
    }
  std::vector<std::string> warnings = fit.warnings();
  warnings.insert(warnings.end(), bound_warnings.begin(), bound_warnings.end());
  return Result<RefineResult>(std::move(out), std::move(warnings));
}

}  // namespace talvo
