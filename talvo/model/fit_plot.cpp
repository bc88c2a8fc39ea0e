#include "talvo/model/fit_plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace talvo {
namespace {

std::string num(double v, int decimals = 1) {
  char t[32];
  std::snprintf(t, sizeof t, "%.*f", decimals, v);
  return t;
}

// A tick step of 1, 2 or 5 times a power of ten giving at most `most` ticks over the span.
double tick_step(double span, int most) {
  const double raw = span / most;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw) return m * power;
  return 10 * power;
}

std::string escaped(std::string_view t) {
  std::string out;
  for (char c : t) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

}  // namespace

std::string fit_plot_svg(const RefineResult& f, std::string_view title) {
  constexpr double kW = 800, kH = 500, kLeft = 70, kRight = 20, kTop = 40, kBottom = 50;
  const std::size_t n = f.r.size();
  double g_lo = 0, g_hi = 0, d_span = 0;
  for (std::size_t i = 0; i < n; ++i) {
    g_lo = std::min({g_lo, f.g_obs[i], f.g_calc[i]});
    g_hi = std::max({g_hi, f.g_obs[i], f.g_calc[i]});
    d_span = std::max(d_span, std::fabs(f.g_obs[i] - f.g_calc[i]));
  }
  // The difference sits below the curves, its zero line a gap under their lowest point.
  const double offset = g_lo - 1.2 * d_span - 0.05 * (g_hi - g_lo);
  const double y_lo = offset - 1.2 * d_span, y_hi = g_hi + 0.05 * (g_hi - g_lo);
  const double r_lo = n ? f.r.front() : 0, r_hi = n ? f.r.back() : 1;
  auto X = [&](double r) { return kLeft + (r - r_lo) / (r_hi - r_lo) * (kW - kLeft - kRight); };
  auto Y = [&](double g) { return kTop + (y_hi - g) / (y_hi - y_lo) * (kH - kTop - kBottom); };
  std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"500\" viewBox=\"0 0 800 500\" "
                  "font-family=\"sans-serif\" font-size=\"13\">\n<rect width=\"800\" height=\"500\" fill=\"white\"/>\n";
  s += "<text x=\"400\" y=\"22\" text-anchor=\"middle\" font-size=\"15\">" + escaped(title) + "</text>\n";
  // Axes and ticks.
  s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(kW - kLeft - kRight) + "\" height=\"" +
       num(kH - kTop - kBottom) + "\" fill=\"none\" stroke=\"black\"/>\n";
  const double rs = tick_step(r_hi - r_lo, 10);
  for (double t = std::ceil(r_lo / rs) * rs; t <= r_hi + 1e-9; t += rs)
    s += "<line x1=\"" + num(X(t)) + "\" x2=\"" + num(X(t)) + "\" y1=\"" + num(kH - kBottom) + "\" y2=\"" +
         num(kH - kBottom + 5) + "\" stroke=\"black\"/><text x=\"" + num(X(t)) + "\" y=\"" + num(kH - kBottom + 19) +
         "\" text-anchor=\"middle\">" + num(t, rs < 1 ? 1 : 0) + "</text>\n";
  const double gs = tick_step(y_hi - y_lo, 8);
  for (double t = std::ceil(y_lo / gs) * gs; t <= y_hi + 1e-9; t += gs)
    s += "<line x1=\"" + num(kLeft - 5) + "\" x2=\"" + num(kLeft) + "\" y1=\"" + num(Y(t)) + "\" y2=\"" + num(Y(t)) +
         "\" stroke=\"black\"/><text x=\"" + num(kLeft - 8) + "\" y=\"" + num(Y(t) + 4) + "\" text-anchor=\"end\">" +
         num(std::fabs(t) < 1e-12 ? 0.0 : t, gs < 1 ? 1 : 0) + "</text>\n";
  s += "<text x=\"400\" y=\"" + num(kH - 12) + "\" text-anchor=\"middle\">r (\u00c5)</text>\n";
  s += "<text x=\"18\" y=\"" + num((kTop + kH - kBottom) / 2) + "\" text-anchor=\"middle\" transform=\"rotate(-90 18 " +
       num((kTop + kH - kBottom) / 2) + ")\">G(r) (\u00c5\u207b\u00b2)</text>\n";
  // The difference's zero line, the data, the model, the difference.
  s += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kW - kRight) + "\" y1=\"" + num(Y(offset)) + "\" y2=\"" +
       num(Y(offset)) + "\" stroke=\"#888\" stroke-dasharray=\"4 3\"/>\n";
  const std::size_t every = std::max<std::size_t>(1, n / 400);
  s += "<g fill=\"none\" stroke=\"#1f4fc0\" stroke-width=\"1\">\n";
  for (std::size_t i = 0; i < n; i += every)
    s += "<circle cx=\"" + num(X(f.r[i])) + "\" cy=\"" + num(Y(f.g_obs[i])) + "\" r=\"2\"/>\n";
  s += "</g>\n";
  auto polyline = [&](auto value, const char* colour) {
    std::string p = "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.3\" points=\"";
    for (std::size_t i = 0; i < n; ++i) p += num(X(f.r[i])) + "," + num(Y(value(i))) + " ";
    return p + "\"/>\n";
  };
  s += polyline([&](std::size_t i) { return f.g_calc[i]; }, "#d02020");
  s += polyline([&](std::size_t i) { return f.g_obs[i] - f.g_calc[i] + offset; }, "#208020");
  // Legend and Rw.
  const double lx = kW - kRight - 150, ly = kTop + 18;
  s += "<circle cx=\"" + num(lx) + "\" cy=\"" + num(ly - 4) + "\" r=\"2\" fill=\"none\" stroke=\"#1f4fc0\"/><text x=\"" +
       num(lx + 12) + "\" y=\"" + num(ly) + "\">measured</text>\n";
  s += "<line x1=\"" + num(lx - 6) + "\" x2=\"" + num(lx + 6) + "\" y1=\"" + num(ly + 14) + "\" y2=\"" + num(ly + 14) +
       "\" stroke=\"#d02020\"/><text x=\"" + num(lx + 12) + "\" y=\"" + num(ly + 18) + "\">model</text>\n";
  s += "<line x1=\"" + num(lx - 6) + "\" x2=\"" + num(lx + 6) + "\" y1=\"" + num(ly + 32) + "\" y2=\"" + num(ly + 32) +
       "\" stroke=\"#208020\"/><text x=\"" + num(lx + 12) + "\" y=\"" + num(ly + 36) + "\">difference</text>\n";
  s += "<text x=\"" + num(lx - 6) + "\" y=\"" + num(ly + 58) + "\">Rw = " + num(f.rw, 4) + "</text>\n";
  return s + "</svg>\n";
}

}  // namespace talvo
