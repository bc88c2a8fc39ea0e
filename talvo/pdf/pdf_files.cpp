#include "talvo/pdf/pdf_files.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool is_key(std::string_view k) {
  if (k.empty()) return false;
  for (char c : k)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

std::string xml_escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string fixed(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

struct Series {
  std::span<const double> x, y;
  const char* colour;
};

// One panel at (left, top) of size w x h: the series as polylines, a frame,
// the axes' ranges written at the corners.
void panel(std::string& svg, double left, double top, double w, double h, const char* title, const char* xlabel,
           std::span<const Series> series) {
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (const Series& s : series)
    for (std::size_t i = 0; i < s.x.size(); ++i) {
      if (!std::isfinite(s.y[i])) continue;
      x0 = std::min(x0, s.x[i]);
      x1 = std::max(x1, s.x[i]);
      y0 = std::min(y0, s.y[i]);
      y1 = std::max(y1, s.y[i]);
    }
  if (!(x1 > x0)) x1 = x0 + 1.0;
  if (!(y1 > y0)) y1 = y0 + 1.0;
  const double pad = 0.05 * (y1 - y0);
  y0 -= pad;
  y1 += pad;
  svg += "<rect x=\"" + fixed(left, 1) + "\" y=\"" + fixed(top, 1) + "\" width=\"" + fixed(w, 1) + "\" height=\"" +
         fixed(h, 1) + "\" fill=\"none\" stroke=\"#444\"/>\n";
  svg += "<text x=\"" + fixed(left + 6, 1) + "\" y=\"" + fixed(top + 16, 1) + "\">" + xml_escape(title) + "</text>\n";
  svg += "<text x=\"" + fixed(left, 1) + "\" y=\"" + fixed(top + h + 14, 1) + "\">" + fixed(x0, 2) + "</text>\n";
  svg += "<text x=\"" + fixed(left + w, 1) + "\" y=\"" + fixed(top + h + 14, 1) + "\" text-anchor=\"end\">" +
         fixed(x1, 2) + "</text>\n";
  svg += "<text x=\"" + fixed(left + w / 2, 1) + "\" y=\"" + fixed(top + h + 14, 1) + "\" text-anchor=\"middle\">" +
         xml_escape(xlabel) + "</text>\n";
  svg += "<text x=\"" + fixed(left - 4, 1) + "\" y=\"" + fixed(top + 10, 1) + "\" text-anchor=\"end\">" + fixed(y1, 2) +
         "</text>\n";
  svg += "<text x=\"" + fixed(left - 4, 1) + "\" y=\"" + fixed(top + h, 1) + "\" text-anchor=\"end\">" + fixed(y0, 2) +
         "</text>\n";
  if (y0 < 0.0 && y1 > 0.0) {
    const double yz = top + h * (y1 / (y1 - y0));
    svg += "<line x1=\"" + fixed(left, 1) + "\" y1=\"" + fixed(yz, 1) + "\" x2=\"" + fixed(left + w, 1) + "\" y2=\"" +
           fixed(yz, 1) + "\" stroke=\"#bbb\"/>\n";
  }
  for (const Series& s : series) {
    // At most about 1500 vertices a line: a screen shows no more.
    const std::size_t stride = std::max<std::size_t>(1, s.x.size() / 1500);
    svg += "<polyline fill=\"none\" stroke=\"" + std::string(s.colour) + "\" stroke-width=\"1\" points=\"";
    for (std::size_t i = 0; i < s.x.size(); i += stride) {
      if (!std::isfinite(s.y[i])) continue;
      svg += fixed(left + w * (s.x[i] - x0) / (x1 - x0), 1) + "," + fixed(top + h * (y1 - s.y[i]) / (y1 - y0), 1) + " ";
    }
    svg += "\"/>\n";
  }
}

}  // namespace

void append_table_text(std::string& out, std::string_view title, const Parameters& parameters,
                       std::span<const std::string> notes, std::string_view columns,
                       std::span<const std::span<const double>> table) {
  const std::size_t rows = table.empty() ? 0 : table.front().size();
  out.reserve(out.size() + 1024 + 22 * table.size() * rows);  // a number is at most about 22 characters
  out += "# " + std::string(title) + "\n";
  for (const auto& [k, v] : parameters) out += "# " + k + " = " + v + "\n";
  for (const std::string& n : notes) out += "# " + n + "\n";
  out += "# " + std::string(columns) + "\n";
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t c = 0; c < table.size(); ++c) {
      if (c > 0) out += ' ';
      append_shortest(out, table[c][i]);
    }
    out += '\n';
  }
}

std::string table_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, std::span<const std::span<const double>> table) {
  std::string out;
  append_table_text(out, title, parameters, notes, columns, table);
  return out;
}

std::string curve_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, const Curve& c) {
  const std::span<const double> table[] = {c.x, c.y, c.sigma};
  return table_text(title, parameters, notes, columns, table);
}

bool append_output_text(std::string& out, std::string_view kind, const Parameters& p,
                        std::span<const std::string> notes, const Reduction& r) {
  const auto curve = [&](const char* title, const char* columns, const Curve& c) {
    const std::span<const double> table[] = {c.x, c.y, c.sigma};
    append_table_text(out, title, p, notes, columns, table);
    return true;
  };
  if (kind == "iq")
    return curve("talvo-tools pdf: I(Q), corrected, per atom in electron units", "columns: Q I sigma", r.iq);
  if (kind == "sq") return curve("talvo-tools pdf: S(Q)", "columns: Q S sigma", r.sq);
  if (kind == "fq") return curve("talvo-tools pdf: F(Q) = Q [S(Q) - 1]", "columns: Q F sigma", r.fq);
  if (kind == "gr") return curve("talvo-tools pdf: G(r)", "columns: r G sigma", r.gr);
  if (!r.number_density) return false;
  if (kind == "gofr") {
    const std::span<const double> table[] = {r.gr.x, r.g, r.sigma_g};
    append_table_text(out, "talvo-tools pdf: g(r) = 1 + G(r) / (4 pi r rho0)", p, notes, "columns: r g sigma", table);
    return true;
  }
  if (kind == "rdf") {
    const std::span<const double> table[] = {r.gr.x, r.rr, r.sigma_rr, r.rr_integral, r.sigma_rr_integral};
    append_table_text(out, "talvo-tools pdf: R(r) = 4 pi r^2 rho0 g(r) and N(r), its integral from rmin", p, notes,
                      "columns: r R sigma N sigma_N", table);
    return true;
  }
  return false;
}

Result<Parameters> parse_parameters(std::string_view text) {
  Parameters out;
  std::size_t start = 0;
  int line = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view t = trim(text.substr(start, end - start));
    start = end + 1;
    ++line;
    if (!t.empty() && t.front() == '#') t = trim(t.substr(1));
    const std::size_t eq = t.find(" = ");
    if (eq == std::string_view::npos) continue;
    const std::string_view key = trim(t.substr(0, eq));
    if (!is_key(key)) continue;
    const std::string value(trim(t.substr(eq + 3)));
    for (const auto& kv : out)
      if (kv.first == key)
        return make_error(ErrorKind::kParseError,
                          "line " + std::to_string(line) + ": \"" + std::string(key) + "\" is given twice");
    out.emplace_back(std::string(key), value);
  }
  return out;
}

std::string plot_svg(const Reduction& r, std::string_view title) {
  constexpr double kW = 460, kH = 260;
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1100\" height=\"660\" viewBox=\"0 0 1100 660\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"1100\" height=\"660\" fill=\"white\"/>\n";
  svg += "<text x=\"550\" y=\"20\" text-anchor=\"middle\" font-size=\"14\">" + xml_escape(title) + "</text>\n";
  std::vector<double> line;
  const Series iq[] = {{r.iq.x, r.iq.y, "#1f77b4"}, {r.iq.x, r.model, "#d62728"}};
  panel(svg, 70, 40, kW, kH, "I(Q) and the self scattering", "Q (1/A)", iq);
  const Series sq[] = {{r.sq.x, r.sq.y, "#1f77b4"}};
  panel(svg, 610, 40, kW, kH, "S(Q)", "Q (1/A)", sq);
  const Series fq[] = {{r.fq.x, r.fq.y, "#1f77b4"}};
  panel(svg, 70, 360, kW, kH, "F(Q) = Q [S(Q) - 1]", "Q (1/A)", fq);
  if (r.number_density) {
    line.resize(r.gr.x.size());
    for (std::size_t j = 0; j < line.size(); ++j) line[j] = -4.0 * std::numbers::pi * *r.number_density * r.gr.x[j];
    // Only below the first r where G rises above the line's end: the line would squash the panel.
    const Series gr[] = {{r.gr.x, r.gr.y, "#1f77b4"},
                         {std::span(r.gr.x).first(std::min<std::size_t>(line.size(), line.size() / 10 + 1)),
                          std::span(line).first(std::min<std::size_t>(line.size(), line.size() / 10 + 1)), "#999"}};
    panel(svg, 610, 360, kW, kH, "G(r)", "r (A)", gr);
  } else {
    const Series gr[] = {{r.gr.x, r.gr.y, "#1f77b4"}};
    panel(svg, 610, 360, kW, kH, "G(r)", "r (A)", gr);
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace talvo::pdf
