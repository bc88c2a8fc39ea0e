#include "talvo/pdf/pattern.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <numbers>
#include <sstream>

#include "talvo/files/files.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace talvo::pdf {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == ',' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != ',' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

bool is_comment(std::string_view t) { return t.empty() || t[0] == '#' || t[0] == '\'' || t[0] == '!'; }

// A .chi file (Fit2D) opens with a title, the x and y labels and the number
// of points: four lines, the fourth a lone integer.
std::size_t chi_header_lines(const std::vector<std::string_view>& lines) {
  if (lines.size() < 5) return 0;
  const std::vector<std::string_view> f = fields(trim(lines[3]));
  if (f.size() != 1 || !parse_int(f[0])) return 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::vector<std::string_view> g = fields(trim(lines[k]));
    bool numbers = !g.empty();
    for (std::string_view w : g) numbers = numbers && parse_real(w).has_value();
    if (numbers && g.size() >= 2) return 0;  // a data row: no header
  }
  return 4;
}

// sqrt(|I|) scaled so that the second differences y_i - (y_{i-1} + y_{i+1})/2,
// whose variance is 1.5 sigma^2 for independent errors, scatter as the errors
// say: the median of d^2 / (1.5 |I|) is k^2 times that of a chi-square of one
// degree of freedom (0.4549).
double scatter_scale(std::span<const double> y) {
  std::vector<double> ratio;
  for (std::size_t i = 1; i + 1 < y.size(); ++i) {
    const double d = y[i] - 0.5 * (y[i - 1] + y[i + 1]);
    const double v = 1.5 * std::max(std::abs(y[i]), 1e-300);
    ratio.push_back(d * d / v);
  }
  if (ratio.empty()) return 1.0;
  auto mid = ratio.begin() + static_cast<std::ptrdiff_t>(ratio.size() / 2);
  std::nth_element(ratio.begin(), mid, ratio.end());
  const double k2 = *mid / 0.45493642311957283;
  return k2 > 0.0 ? std::sqrt(k2) : 1.0;
}

void counting_errors(Pattern& p, std::vector<std::string>& warnings) {
  bool counts = true;
  for (double v : p.y) counts = counts && v >= 0.0 && v == std::floor(v);
  p.sigma.resize(p.y.size());
  if (counts) {
    p.sigma_source = SigmaSource::kCounts;
    for (std::size_t i = 0; i < p.y.size(); ++i) p.sigma[i] = std::sqrt(std::max(p.y[i], 1.0));
    return;
  }
  p.sigma_source = SigmaSource::kScaled;
  p.sigma_scale = scatter_scale(p.y);
  for (std::size_t i = 0; i < p.y.size(); ++i)
    p.sigma[i] = p.sigma_scale * std::sqrt(std::max(std::abs(p.y[i]), 1e-12));
  warnings.push_back("the intensities are not whole counts and the file gives no errors: sigma is taken as " +
                     shortest(p.sigma_scale) +
                     " sqrt(I), the scale from the scatter of neighbouring points; give a third column to use yours");
}

}  // namespace

std::optional<InputFormat> input_format_named(std::string_view name) {
  if (equal_case_blind(name, "xrdml")) return InputFormat::kXrdml;
  if (equal_case_blind(name, "twotheta")) return InputFormat::kTwoTheta;
  if (equal_case_blind(name, "qa")) return InputFormat::kQA;
  if (equal_case_blind(name, "qnm")) return InputFormat::kQnm;
  return std::nullopt;
}

std::string_view input_format_name(InputFormat format) {
  switch (format) {
    case InputFormat::kXrdml:
      return "xrdml";
    case InputFormat::kTwoTheta:
      return "twotheta";
    case InputFormat::kQA:
      return "qa";
    case InputFormat::kQnm:
      return "qnm";
  }
  return "twotheta";
}

InputFormat input_format_of_path(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot != std::string_view::npos && equal_case_blind(path.substr(dot), ".xrdml")) return InputFormat::kXrdml;
  return InputFormat::kTwoTheta;
}

Result<Pattern> parse_text_pattern(std::string_view text, Abscissa abscissa, std::string_view source) {
  const std::vector<std::string_view> lines = lines_of(text);
  Pattern p;
  p.abscissa = abscissa;
  std::size_t columns = 0;
  for (std::size_t k = chi_header_lines(lines); k < lines.size(); ++k) {
    const std::string_view t = trim(lines[k]);
    if (is_comment(t)) continue;
    const std::vector<std::string_view> f = fields(t);
    const std::string where = std::string(source) + " line " + std::to_string(k + 1);
    if (columns == 0) {
      if (f.size() < 2 || f.size() > 3)
        return make_error(ErrorKind::kParseError, where +
                                                      ": a pattern has 2 columns (x, intensity) or 3 (x, intensity, "
                                                      "sigma), not " +
                                                      std::to_string(f.size()));
      columns = f.size();
    } else if (f.size() != columns) {
      return make_error(ErrorKind::kParseError, where + ": " + std::to_string(f.size()) +
                                                    " columns where the first row has " + std::to_string(columns));
    }
    double v[3] = {};
    for (std::size_t c = 0; c < columns; ++c) {
      const std::optional<double> r = parse_real(f[c]);
      if (!r)
        return make_error(ErrorKind::kInvalidArgument,
                          where + ": \"" + std::string(f[c]) + "\" is not a finite number; remove or fix the row");
      v[c] = *r;
    }
    if (!p.x.empty() && !(v[0] > p.x.back()))
      return make_error(ErrorKind::kInvalidArgument,
                        where + ": x = " + shortest(v[0]) + " does not increase; sort the pattern by x");
    if (columns == 3 && !(v[2] > 0.0))
      return make_error(ErrorKind::kInvalidArgument, where + ": sigma = " + shortest(v[2]) + " must be above 0");
    p.x.push_back(v[0]);
    p.y.push_back(v[1]);
    if (columns == 3) p.sigma.push_back(v[2]);
  }
  if (p.x.size() < 3)
    return make_error(ErrorKind::kInvalidArgument, std::string(source) + ": " + std::to_string(p.x.size()) +
                                                       " data rows; a pattern needs at least 3");
  std::vector<std::string> warnings;
  if (columns == 2) counting_errors(p, warnings);
  return Result<Pattern>(std::move(p), std::move(warnings));
}

Result<Pattern> parse_xrdml_pattern(std::string_view content, int scan, std::string_view source) {
  const Result<XrdmlFile> file = parse_xrdml(content);
  if (!file.ok()) return make_error(file.kind(), std::string(source) + ": " + file.error().message);
  const std::vector<XrdmlScan>& scans = file->scans;
  if (scan < 0 || scan > static_cast<int>(scans.size()))
    return make_error(ErrorKind::kOutOfRange, std::string(source) + " holds " + std::to_string(scans.size()) +
                                                  " scans: scan must be 1 to " + std::to_string(scans.size()) +
                                                  " (or 0 for their sum)");
  Pattern p;
  p.abscissa = Abscissa::kTwoTheta;
  p.sigma_source = SigmaSource::kCounts;
  std::vector<double> variance;
  for (std::size_t s = 0; s < scans.size(); ++s) {
    if (scan != 0 && static_cast<int>(s) + 1 != scan) continue;
    XrdmlValueOptions vo;
    vo.axis = "2Theta";
    const Result<XrdmlValues> values = xrdml_values(scans[s], vo);
    if (!values.ok()) return make_error(values.kind(), std::string(source) + ": " + values.error().message);
    const XrdmlValues& v = *values;
    if (p.x.empty()) {
      p.x = v.x;
      p.y = v.y;
      variance.resize(v.e.size());
      for (std::size_t i = 0; i < v.e.size(); ++i) variance[i] = v.e[i] * v.e[i];
      continue;
    }
    bool same = v.x.size() == p.x.size();
    for (std::size_t i = 0; same && i < p.x.size(); ++i) same = std::abs(v.x[i] - p.x[i]) <= 1e-6;
    if (!same)
      return make_error(ErrorKind::kInvalidArgument,
                        std::string(source) + ": scan " + std::to_string(s + 1) +
                            " has other 2theta positions than scan 1; choose one with scan");
    for (std::size_t i = 0; i < p.x.size(); ++i) {
      p.y[i] += v.y[i];
      variance[i] += v.e[i] * v.e[i];
    }
  }
  if (p.x.size() < 3)
    return make_error(ErrorKind::kInvalidArgument, std::string(source) + ": a pattern needs at least 3 points");
  // A scan may run downwards; the reduction wants x ascending.
  if (p.x.front() > p.x.back()) {
    std::reverse(p.x.begin(), p.x.end());
    std::reverse(p.y.begin(), p.y.end());
    std::reverse(variance.begin(), variance.end());
  }
  for (std::size_t i = 1; i < p.x.size(); ++i)
    if (!(p.x[i] > p.x[i - 1]))
      return make_error(
          ErrorKind::kInvalidArgument,
          std::string(source) + ": the 2theta positions do not increase at point " + std::to_string(i + 1));
  p.sigma.resize(variance.size());
  for (std::size_t i = 0; i < variance.size(); ++i) p.sigma[i] = std::sqrt(std::max(variance[i], 1.0));
  // usedWavelength's intended attribute: "K-Alpha 1" is Kalpha1 alone,
  // "K-Alpha" the weighted mean.
  const std::size_t used = content.find("<usedWavelength");
  std::string intended;
  if (used != std::string_view::npos) {
    const std::size_t close = content.find('>', used);
    const std::string_view tag = content.substr(used, close == std::string_view::npos ? 0 : close - used);
    const std::size_t a = tag.find("intended=\"");
    if (a != std::string_view::npos) {
      const std::size_t b = tag.find('"', a + 10);
      if (b != std::string_view::npos) intended = std::string(tag.substr(a + 10, b - a - 10));
    }
  }
  std::vector<std::string> warnings;
  if (file->k_alpha1 > 0.0) {
    p.wavelength_line = intended.empty() ? "K-Alpha" : intended;
    p.wavelength = intended == "K-Alpha 1" ? file->k_alpha1 : file->wavelength;
  } else {
    warnings.push_back(std::string(source) + " gives no wavelength: give the wavelength or the anode");
  }
  return Result<Pattern>(std::move(p), std::move(warnings));
}

Result<Pattern> read_pattern(const std::string& path, InputFormat format, int scan) {
  Result<std::string> read = read_whole_file(path);
  if (!read.ok())
    return make_error(read.kind() == ErrorKind::kNotFound || read.kind() == ErrorKind::kOutOfMemory
                          ? read.kind()
                          : ErrorKind::kIoError,
                      read.error().message);
  const std::string text = std::move(*read);
  switch (format) {
    case InputFormat::kXrdml:
      return parse_xrdml_pattern(text, scan, path);
    case InputFormat::kTwoTheta:
      return parse_text_pattern(text, Abscissa::kTwoTheta, path);
    case InputFormat::kQA:
      return parse_text_pattern(text, Abscissa::kQA, path);
    case InputFormat::kQnm:
      return parse_text_pattern(text, Abscissa::kQnm, path);
  }
  return make_error(ErrorKind::kInvalidArgument, "unknown format");
}

Result<std::vector<double>> q_of(const Pattern& p, std::optional<double> wavelength) {
  std::vector<double> q(p.x.size());
  switch (p.abscissa) {
    case Abscissa::kQA:
      q = p.x;
      break;
    case Abscissa::kQnm:
      for (std::size_t i = 0; i < q.size(); ++i) q[i] = p.x[i] / 10.0;
      break;
    case Abscissa::kTwoTheta: {
      if (!wavelength)
        return make_error(ErrorKind::kInvalidArgument,
                          "a 2theta pattern needs the wavelength: give the wavelength (Angstrom) or the anode");
      const double deg = std::numbers::pi / 180.0;
      for (std::size_t i = 0; i < q.size(); ++i) {
        if (!(p.x[i] > 0.0 && p.x[i] < 180.0))
          return make_error(ErrorKind::kInvalidArgument,
                            "2theta = " + shortest(p.x[i]) + " lies outside 0 to 180 degrees; is the format right?");
        q[i] = 4.0 * std::numbers::pi * std::sin(0.5 * p.x[i] * deg) / *wavelength;
      }
      break;
    }
  }
  for (double v : q)
    if (!(v >= 0.0))
      return make_error(ErrorKind::kInvalidArgument, "Q = " + shortest(v) + " below 0; is the format right?");
  return q;
}

Result<Pattern> subtract_background(const Pattern& sample, const Pattern& bg, double scale) {
  if (sample.abscissa != bg.abscissa)
    return make_error(ErrorKind::kInvalidArgument,
                      "the background's x is in other units than the sample's; give both "
                      "in the same format");
  // A negative scale would add the background: never what a measurement means.
  if (!(scale >= 0.0) || !std::isfinite(scale))
    return make_error(ErrorKind::kInvalidArgument,
                      "the background scale must be a finite number of 0 or above, not " + shortest(scale));
  const double half_step = 0.5 * (bg.x.back() - bg.x.front()) / static_cast<double>(bg.x.size() - 1);
  if (sample.x.front() < bg.x.front() - half_step || sample.x.back() > bg.x.back() + half_step)
    return make_error(ErrorKind::kInvalidArgument, "the background covers x = " + shortest(bg.x.front()) + " to " +
                                                       shortest(bg.x.back()) + " and the sample " +
                                                       shortest(sample.x.front()) + " to " + shortest(sample.x.back()) +
                                                       ": measure the background over the sample's whole range");
  Pattern out = sample;
  std::size_t j = 0;
  for (std::size_t i = 0; i < sample.x.size(); ++i) {
    const double x = std::clamp(sample.x[i], bg.x.front(), bg.x.back());
    while (j + 2 < bg.x.size() && bg.x[j + 1] < x) ++j;
    const double t = (x - bg.x[j]) / (bg.x[j + 1] - bg.x[j]);
    const double b = (1.0 - t) * bg.y[j] + t * bg.y[j + 1];
    const double vb = (1.0 - t) * (1.0 - t) * bg.sigma[j] * bg.sigma[j] + t * t * bg.sigma[j + 1] * bg.sigma[j + 1];
    out.y[i] = sample.y[i] - scale * b;
    out.sigma[i] = std::sqrt(sample.sigma[i] * sample.sigma[i] + scale * scale * vb);
  }
  return out;
}

std::vector<std::size_t> find_outliers(std::span<const double> y, std::span<const double> sigma, double threshold) {
  std::vector<std::size_t> out;
  const std::size_t n = y.size();
  if (n < 7) return out;
  auto check = [&](std::size_t first, std::size_t width) {
    // Outer neighbours: two on each side of the run.
    const double nb[4] = {y[first - 2], y[first - 1], y[first + width], y[first + width + 1]};
    const double hi = std::max({nb[1], nb[2]});
    const double spread = *std::max_element(nb, nb + 4) - *std::min_element(nb, nb + 4);
    double low = y[first], sig = sigma[first];
    for (std::size_t k = 1; k < width; ++k) {
      low = std::min(low, y[first + k]);
      sig = std::max(sig, sigma[first + k]);
    }
    const double jump = low - hi;
    return jump > threshold * sig && jump > 3.0 * spread;
  };
  for (std::size_t i = 2; i + 2 < n; ++i) {
    if (check(i, 1)) {
      out.push_back(i);
      continue;
    }
    if (i + 3 < n && check(i, 2)) {
      out.push_back(i);
      out.push_back(i + 1);
      ++i;
    }
  }
  return out;
}

Pattern without_points(const Pattern& p, std::span<const std::size_t> indices) {
  Pattern out = p;
  out.x.clear();
  out.y.clear();
  out.sigma.clear();
  std::size_t k = 0;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    if (k < indices.size() && indices[k] == i) {
      ++k;
      continue;
    }
    out.x.push_back(p.x[i]);
    out.y.push_back(p.y[i]);
    out.sigma.push_back(p.sigma[i]);
  }
  return out;
}

}  // namespace talvo::pdf
