#include "talvo/pdf/plot.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <span>

#include "talvo/text/axis.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::pdf {
namespace {

// ---- Text in the picture.

// How wide a text of the picture's font is, roughly: its characters (not
// bytes) times an average advance, a digit's (0.64 em in DejaVu Sans and
// Arial) for numbers, less for words.
double text_width(std::string_view s, double font_size, double em_per_char) {
  std::size_t chars = 0;
  for (const char c : s) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return em_per_char * font_size * static_cast<double>(chars);
}

// A coordinate to 0.1 pixel, without a trailing ".0": what a screen resolves.
void put(std::string& out, double v) {
  v = std::clamp(v, -1e5, 1e5);  // far off the panel: the clip hides it, the digits stay few
  long long t = std::llround(v * 10.0);
  if (t < 0) {
    out += '-';
    t = -t;
  }
  out += std::to_string(t / 10);
  if (t % 10 != 0) {
    out += '.';
    out += static_cast<char>('0' + t % 10);
  }
}

std::string num(double v) {
  std::string s;
  put(s, v);
  return s;
}

// ---- Panels.

constexpr double kFont = 12, kLegendFont = 11;
constexpr double kPanelW = 380, kPanelH = 220;
constexpr const char* kData = "#1f77b4";
constexpr const char* kBandFill = "fill=\"#1f77b4\" fill-opacity=\"0.25\"";
constexpr const char* kModel = "#d62728";
constexpr const char* kDensityLine = "#555";
constexpr const char* kExtrapolated = "#ff7f0e";

struct Trace {
  std::span<const double> x, y;
  std::span<const double> sigma;  // empty: no band
  const char* colour;
  bool dashed;
  std::string name;
};

// A curve of x and y (and sigma, when it is as long): as many points as both have.
Trace trace(std::span<const double> x, std::span<const double> y, std::span<const double> sigma, const char* colour,
            bool dashed, std::string name) {
  const std::size_t n = std::min(x.size(), y.size());
  return {x.first(n), y.first(n), sigma.size() >= n ? sigma.first(n) : std::span<const double>{},
          colour,     dashed,     std::move(name)};
}

struct Panel {
  const char* id;
  double left, top;
  const char* x_name;
  const char* y_name;
  std::vector<Trace> traces;
  double reference;  // a thin line across at this value (0, or 1 for S)
};

struct Frame {
  double left, top, w, h;
  Axis x, y;
  double px(double v) const { return left + w * (v - x.lo) / (x.hi - x.lo); }
  double py(double v) const { return top + h * (y.hi - v) / (y.hi - y.lo); }
};

// The points of a line, at most a lowest and a highest a pixel column (in
// the order they come), so a sharp peak keeps its height however many points
// the pattern has.
void polyline_points(std::string& svg, const Frame& f, std::span<const double> x, std::span<const double> y) {
  std::size_t i = 0;
  const auto emit = [&](std::size_t k) {
    put(svg, f.px(x[k]));
    svg += ',';
    put(svg, f.py(y[k]));
    svg += ' ';
  };
  while (i < x.size()) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) {
      ++i;
      continue;
    }
    const double column = std::floor(f.px(x[i]));
    std::size_t lo = i, hi = i;
    std::size_t j = i + 1;
    for (; j < x.size() && std::floor(f.px(x[j])) == column; ++j) {
      if (!std::isfinite(y[j])) continue;
      if (y[j] < y[lo]) lo = j;
      if (y[j] > y[hi]) hi = j;
    }
    emit(std::min(lo, hi));
    if (lo != hi) emit(std::max(lo, hi));
    i = j;
  }
}

// The band y +- sigma as one outline, a pixel column at a time; true when it
// is anywhere wider than the line drawn over it.
bool band(std::string& svg, const Frame& f, const Trace& t) {
  std::vector<double> xs, upper, lower;
  bool visible = false;
  const double per_unit = f.h / (f.y.hi - f.y.lo);
  std::size_t i = 0;
  while (i < t.x.size()) {
    if (!std::isfinite(t.x[i])) {
      ++i;
      continue;
    }
    const double column = std::floor(f.px(t.x[i]));
    double up = INFINITY, down = -INFINITY, x_sum = 0;
    int n = 0;
    std::size_t j = i;
    for (; j < t.x.size() && std::floor(f.px(t.x[j])) == column; ++j) {
      if (!std::isfinite(t.y[j]) || !std::isfinite(t.sigma[j])) continue;
      up = std::min(up, f.py(t.y[j] + t.sigma[j]));
      down = std::max(down, f.py(t.y[j] - t.sigma[j]));
      x_sum += f.px(t.x[j]);
      ++n;
      visible = visible || 2.0 * t.sigma[j] * per_unit >= 1.5;
    }
    if (n > 0) {
      xs.push_back(x_sum / n);
      upper.push_back(up);
      lower.push_back(down);
    }
    i = j;
  }
  if (!visible || xs.empty()) return false;
  svg += "<polygon class=\"band\" ";
  svg += kBandFill;
  svg += " points=\"";
  for (std::size_t k = 0; k < xs.size(); ++k) {
    put(svg, xs[k]);
    svg += ',';
    put(svg, upper[k]);
    svg += ' ';
  }
  for (std::size_t k = xs.size(); k-- > 0;) {
    put(svg, xs[k]);
    svg += ',';
    put(svg, lower[k]);
    svg += ' ';
  }
  svg += "\"/>\n";
  return true;
}

double widest_label(const Axis& a, double font_size) {
  double w = 0;
  for (const std::string& l : a.labels) w = std::max(w, text_width(l, font_size, 0.64));
  return w;
}

void draw_panel(std::string& svg, const Panel& p) {
  // The ranges: every finite point of every curve (the bands may run off);
  // Q and r from 0 where the data start close to it.
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (const Trace& t : p.traces)
    for (std::size_t i = 0; i < t.x.size(); ++i) {
      if (!std::isfinite(t.x[i]) || !std::isfinite(t.y[i])) continue;
      x0 = std::min(x0, t.x[i]);
      x1 = std::max(x1, t.x[i]);
      y0 = std::min(y0, t.y[i]);
      y1 = std::max(y1, t.y[i]);
    }
  if (x0 >= 0.0 && x0 <= 0.25 * x1) x0 = 0.0;
  if (y1 > y0) {
    const double pad = 0.04 * (y1 - y0);
    y0 -= pad;
    y1 += pad;
  }
  Frame f{p.left, p.top, kPanelW, kPanelH, {}, round_axis(y0, y1, 7)};
  // As many x ticks as leave room between their labels.
  for (int most = 8; most >= 2; --most) {
    f.x = round_axis(x0, x1, most);
    if (widest_label(f.x, kFont) + 10.0 <= f.w * f.x.step / (f.x.hi - f.x.lo)) break;
  }

  svg += "<g id=\"";
  svg += p.id;
  svg += "\">\n<clipPath id=\"";
  svg += p.id;
  svg += "-clip\"><rect x=\"" + num(f.left) + "\" y=\"" + num(f.top) + "\" width=\"" + num(f.w) + "\" height=\"" +
         num(f.h) + "\"/></clipPath>\n";
  // Grid and ticks: one path each.
  std::string grid, ticks;
  for (double v : f.x.ticks) {
    const double x = f.px(v);
    grid += "M" + num(x) + " " + num(f.top) + "v" + num(f.h);
    ticks += "M" + num(x) + " " + num(f.top + f.h) + "v-5M" + num(x) + " " + num(f.top) + "v5";
  }
  for (double v : f.y.ticks) {
    const double y = f.py(v);
    grid += "M" + num(f.left) + " " + num(y) + "h" + num(f.w);
    ticks += "M" + num(f.left) + " " + num(y) + "h5M" + num(f.left + f.w) + " " + num(y) + "h-5";
  }
  svg += "<path class=\"grid\" stroke=\"#ebebeb\" d=\"" + grid + "\"/>\n";
  // The curves, clipped to the frame.
  svg += "<g clip-path=\"url(#" + std::string(p.id) + "-clip)\">\n";
  std::vector<bool> banded(p.traces.size(), false);
  for (std::size_t k = 0; k < p.traces.size(); ++k)
    if (!p.traces[k].sigma.empty()) banded[k] = band(svg, f, p.traces[k]);
  if (p.reference > f.y.lo && p.reference < f.y.hi)
    svg += "<path class=\"reference\" stroke=\"#999\" stroke-width=\"0.8\" d=\"M" + num(f.left) + " " +
           num(f.py(p.reference)) + "h" + num(f.w) + "\"/>\n";
  for (const Trace& t : p.traces) {
    svg += "<polyline class=\"curve\" fill=\"none\" stroke=\"";
    svg += t.colour;
    svg += t.dashed ? "\" stroke-dasharray=\"5,3\" stroke-width=\"1.2\" points=\"" : "\" stroke-width=\"1\" points=\"";
    polyline_points(svg, f, t.x, t.y);
    svg += "\"/>\n";
  }
  svg += "</g>\n";
  svg += "<path class=\"ticks\" stroke=\"#333\" d=\"" + ticks + "\"/>\n";
  svg += "<rect class=\"frame\" x=\"" + num(f.left) + "\" y=\"" + num(f.top) + "\" width=\"" + num(f.w) +
         "\" height=\"" + num(f.h) + "\" fill=\"none\" stroke=\"#333\"/>\n";
  // Tick labels and axis names.
  svg += "<g class=\"x-labels\" text-anchor=\"middle\">";
  for (std::size_t k = 0; k < f.x.ticks.size(); ++k)
    svg +=
        "<text x=\"" + num(f.px(f.x.ticks[k])) + "\" y=\"" + num(f.top + f.h + 15) + "\">" + f.x.labels[k] + "</text>";
  svg += "</g>\n<g class=\"y-labels\" text-anchor=\"end\">";
  for (std::size_t k = 0; k < f.y.ticks.size(); ++k)
    svg += "<text x=\"" + num(f.left - 5) + "\" y=\"" + num(f.py(f.y.ticks[k]) + 4) + "\">" + f.y.labels[k] + "</text>";
  svg += "</g>\n";
  svg += "<text class=\"x-name\" x=\"" + num(f.left + f.w / 2) + "\" y=\"" + num(f.top + f.h + 33) +
         "\" text-anchor=\"middle\">" + p.x_name + "</text>\n";
  const double yx = f.left - 5 - widest_label(f.y, kFont) - 9;
  const double yy = f.top + f.h / 2;
  svg += "<text class=\"y-name\" x=\"" + num(yx) + "\" y=\"" + num(yy) + "\" transform=\"rotate(-90 " + num(yx) + " " +
         num(yy) + ")\" text-anchor=\"middle\">" + p.y_name + "</text>\n";
  // The legend, in a row above the frame, where it hides no data.
  svg += "<g class=\"legend\" font-size=\"11\">";
  double at = f.left;
  const double base = f.top - 7;
  const auto entry = [&](const std::string& name) {
    svg += "<text x=\"" + num(at + 22) + "\" y=\"" + num(base) + "\">" + name + "</text>";
    at += 22 + text_width(name, kLegendFont, 0.55) + 14;
  };
  for (const Trace& t : p.traces) {
    svg += "<path stroke=\"";
    svg += t.colour;
    svg += t.dashed ? "\" stroke-dasharray=\"5,3\" d=\"M" : "\" d=\"M";
    svg += num(at) + " " + num(base - 4) + "h18\"/>";
    entry(t.name);
  }
  if (std::find(banded.begin(), banded.end(), true) != banded.end()) {
    svg += "<rect x=\"" + num(at) + "\" y=\"" + num(base - 8) + "\" width=\"18\" height=\"8\" " + kBandFill + "/>";
    entry("\u00b1\u03c3");
  }
  svg += "</g>\n</g>\n";
}

// The index up to which -4 pi rho0 r is drawn: G's first peak, the first
// local maximum from 1 Angstrom on (only bonds to hydrogen are shorter; the
// ripples of the transform's cut-off sit below) that reaches half the
// largest G there. Without one, as far as the line stays above G's lowest.
std::size_t first_peak(std::span<const double> r, std::span<const double> g, double rho0) {
  std::size_t from = 0;
  while (from < r.size() && r[from] < 1.0) ++from;
  if (from == r.size()) return r.size() - 1;
  double top = -INFINITY, bottom = INFINITY;
  for (std::size_t i = from; i < r.size(); ++i)
    if (std::isfinite(g[i])) {
      top = std::max(top, g[i]);
      bottom = std::min(bottom, g[i]);
    }
  if (top > 0.0)
    for (std::size_t i = std::max<std::size_t>(from, 1); i + 1 < r.size(); ++i)
      if (g[i] >= 0.5 * top && g[i] >= g[i - 1] && g[i] >= g[i + 1]) return i;
  std::size_t i = 0;
  while (i + 1 < r.size() && -4.0 * std::numbers::pi * rho0 * r[i + 1] >= bottom) ++i;
  return i;
}

}  // namespace

std::string plot_svg(const Reduction& r, Mode mode, std::string_view input) {
  const std::string_view name = input.substr(input.rfind('/') + 1);
  const std::string title = (name.empty() ? std::string() : xml_text(name) + " \u2014 ") +
                            (mode == Mode::kAdhoc ? "ad hoc" : "physical") + " mode";
  const double width = 980, height = 640;
  std::string svg;
  svg.reserve(96 * 1024);
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) +
         "\" height=\"" + num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n";
  svg += "<title>" + title + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text class=\"title\" x=\"" + num(width / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">" +
         title + "</text>\n";

  const std::string background = mode == Mode::kAdhoc   ? "ad hoc background"
                                 : r.compton_subtracted ? "self scattering + Compton"
                                                        : "self scattering";
  const double left = 85, right = 575, top = 72, bottom = 372;
  // What the intensity oscillates about is found from qmin up: below it (a beam stop's zeros) it means nothing.
  std::size_t from = 0;
  while (from < r.iq.x.size() && from < r.model.size() && r.iq.x[from] < r.qmin) ++from;
  const std::span<const double> model_q = std::span<const double>(r.iq.x).subspan(std::min(from, r.iq.x.size()));
  const std::span<const double> model_y = std::span<const double>(r.model).subspan(std::min(from, r.model.size()));
  const char* q_name = "Q (\u00c5\u207b\u00b9)";
  draw_panel(svg, {"iq",
                   left,
                   top,
                   q_name,
                   "I (a.u.)",
                   {trace(r.iq.x, r.iq.y, r.iq.sigma, kData, false, "I(Q)"),
                    trace(model_q, model_y, {}, kModel, false, background)},
                   0.0});
  // Points extrapolated below the data in their own colour, up to the first measured one so that the two meet.
  const auto measured_and_below = [&](const Curve& c, const char* label) {
    const std::size_t e = std::min(r.extrapolated, c.x.size());
    const auto part = [&](std::size_t first, std::size_t n) {
      return std::array{std::span<const double>(c.x).subspan(first, n), std::span<const double>(c.y).subspan(first, n),
                        std::span<const double>(c.sigma).subspan(first, n)};
    };
    const auto [x, y, s] = part(e, c.x.size() - e);
    std::vector<Trace> t = {trace(x, y, s, kData, false, label)};
    if (e > 0) {
      const auto [xl, yl, sl] = part(0, std::min(e + 1, c.x.size()));
      t.push_back(trace(xl, yl, {}, kExtrapolated, false, "extrapolated"));
    }
    return t;
  };
  draw_panel(svg, {"sq", right, top, q_name, "S(Q)", measured_and_below(r.sq, "S(Q)"), 1.0});
  draw_panel(svg, {"fq", left, bottom, q_name, "F(Q) (\u00c5\u207b\u00b9)", measured_and_below(r.fq, "F(Q)"), 0.0});
  std::vector<double> line;
  std::vector<Trace> gr = {trace(r.gr.x, r.gr.y, r.gr.sigma, kData, false, "G(r)")};
  if (r.number_density && !gr[0].x.empty()) {
    const double rho0 = *r.number_density;
    line.resize(first_peak(gr[0].x, gr[0].y, rho0) + 1);
    for (std::size_t j = 0; j < line.size(); ++j) line[j] = -4.0 * std::numbers::pi * rho0 * gr[0].x[j];
    gr.push_back(trace(gr[0].x, line, {}, kDensityLine, true, "\u22124\u03c0\u03c1\u2080r"));
  }
  draw_panel(svg, {"gr", right, bottom, "r (\u00c5)", "G(r) (\u00c5\u207b\u00b2)", std::move(gr), 0.0});
  svg += "</svg>\n";
  return svg;
}

}  // namespace talvo::pdf
