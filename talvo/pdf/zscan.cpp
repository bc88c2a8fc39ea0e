#include "talvo/pdf/zscan.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <utility>

#include "talvo/files/read.hpp"
#include "talvo/numeric/least_squares.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"

namespace talvo::pdf {
namespace {

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

// The levels a fit starts from and is checked against.
struct Levels {
  double high = 0.0, low = 0.0;              // the open beam (the scan's 90th percentile) and its lowest value
  double first_half = 0.0, last_half = 0.0;  // the heights where the dip crosses half way down
};

Levels levels_of(const ZScan& s) {
  Levels l;
  std::vector<double> sorted = s.intensity;
  std::sort(sorted.begin(), sorted.end());
  l.high = sorted[static_cast<std::size_t>(0.9 * static_cast<double>(sorted.size() - 1))];
  l.low = sorted.front();
  const double half = 0.5 * (l.high + l.low);
  const std::size_t n = s.height.size();
  l.first_half = s.height.front();
  for (std::size_t i = 1; i < n; ++i)
    if (s.intensity[i] < half) {
      const double f = (s.intensity[i - 1] - half) / (s.intensity[i - 1] - s.intensity[i]);
      l.first_half = s.height[i - 1] + f * (s.height[i] - s.height[i - 1]);
      break;
    }
  l.last_half = s.height.back();
  for (std::size_t i = n - 1; i-- > 0;)
    if (s.intensity[i] < half) {
      const double f = (s.intensity[i + 1] - half) / (s.intensity[i + 1] - s.intensity[i]);
      l.last_half = s.height[i + 1] - f * (s.height[i + 1] - s.height[i]);
      break;
    }
  return l;
}

}  // namespace

Result<ZScan> parse_zscan(std::string_view text, std::string_view source) {
  ZScan s;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line_number;
    if (line.empty() || line[0] == '#' || line[0] == '\'' || line[0] == '!') continue;
    const std::string where = escape_for_message(source) + " line " + std::to_string(line_number);
    const std::vector<std::string_view> f = split_words(line);
    std::optional<double> z, y;
    if (f.size() == 2) {
      z = parse_real(f[0]);
      y = parse_real(f[1]);
    }
    if (!z || !y || !std::isfinite(*z) || !std::isfinite(*y))
      return make_error(ErrorKind::kParseError,
                        where + ": a z-scan row is two numbers, the height (mm) and the transmitted intensity");
    if (!s.height.empty() && !(*z > s.height.back()))
      return invalid(where + ": the height " + shortest(*z) + " does not increase; sort the scan by height");
    if (!(*y > 0.0)) return invalid(where + ": the intensity " + shortest(*y) + " must be above 0");
    s.height.push_back(*z);
    s.intensity.push_back(*y);
  }
  if (s.height.size() < 8)
    return invalid(escape_for_message(source) + ": " + std::to_string(s.height.size()) +
                   " rows; a z-scan needs at least 8 to be fitted");
  return s;
}

Result<ZScan> read_zscan(const std::string& path) {
  Result<std::string> text = read_whole_file(path);
  if (!text.ok()) return text.error();
  return parse_zscan(*text, path);
}

Result<ZScanFit> fit_zscan(const ZScan& scan, const ZScanFitOptions& options) {
  const double d = options.diameter;
  if (!(d > 0.0 && std::isfinite(d)))
    return invalid("the capillary's diameter must be a number above 0, not " + shortest(d));
  if (scan.height.size() < 8 || scan.height.size() != scan.intensity.size())
    return invalid("a z-scan needs at least 8 heights, each with its intensity");
  const Levels lv = levels_of(scan);
  if (!(lv.low < 0.9 * lv.high))
    return invalid("the z-scan does not cross the capillary: its lowest intensity is " + shortest(lv.low / lv.high) +
                   " of its highest");
  const double edge = lv.low + 0.8 * (lv.high - lv.low);
  if (!(scan.intensity.front() > edge && scan.intensity.back() > edge))
    return invalid(
        "the z-scan does not reach the open beam on both sides of the capillary; scan from further below "
        "to further above it");

  const double r = 0.5 * d;
  const std::size_t m = scan.height.size();
  const std::size_t np = options.baseline ? 5 : 4;
  // The fit runs on intensities relative to the open beam, so that it ends alike whatever their unit; the
  // weights stay those of counts (1 / sqrt(I)), and what is fitted in intensity is scaled back at the end.
  const double unit = lv.high;
  std::vector<double> intensity(m), weight(m);
  for (std::size_t i = 0; i < m; ++i) {
    intensity[i] = scan.intensity[i] / unit;
    weight[i] = 1.0 / std::sqrt(intensity[i]);
  }
  // p = mu D, w, z0, I0 (, b)
  auto profile = [&](std::span<const double> p, std::span<double> out) -> Outcome {
    CapillaryBeam beam{p[1] / r, options.profile, 0.0};
    for (std::size_t i = 0; i < m; ++i) {
      beam.offset = (scan.height[i] - p[2]) / r;
      const Result<double> t = cylinder_transmission(0.5 * p[0], beam);
      if (!t.ok()) return t.error();
      out[i] = p[3] * *t + (np == 5 ? p[4] : 0.0);
    }
    return Done{};
  };
  auto residuals = [&](std::span<const double> p, std::span<double> out) -> Outcome {
    if (Outcome o = profile(p, out); !o.ok()) return o;
    for (std::size_t i = 0; i < m; ++i) out[i] = (out[i] - intensity[i]) * weight[i];
    return Done{};
  };
  const double span_z = scan.height.back() - scan.height.front();
  LeastSquaresOptions lso;
  lso.lower = {0.0, 1e-3 * d, scan.height.front(), 0.0};
  lso.upper = {50.0, 4.0 * d, scan.height.back(), 10.0};
  lso.typical = {1.0, 0.1 * d, 0.1 * d, 1.0};
  if (np == 5) {
    lso.lower.push_back(-1.0);
    lso.upper.push_back(1.0);
    lso.typical.push_back(0.01);
  }
  const double mu_d0 = std::clamp(-std::log(lv.low / lv.high), 0.05, 49.0);
  const double z0 = std::clamp(0.5 * (lv.first_half + lv.last_half), scan.height.front(), scan.height.back());
  std::optional<LeastSquaresFit> best;
  std::vector<std::string> warnings;
  int evaluations = 0;
  for (double w0 : {0.1, 0.3, 0.8}) {
    std::vector<double> start = {mu_d0, std::min(w0 * d, 0.5 * span_z), z0, 1.0};
    start[1] = std::clamp(start[1], lso.lower[1], lso.upper[1]);
    if (np == 5) start.push_back(0.0);
    Result<LeastSquaresFit> f = least_squares(residuals, start, m, lso);
    if (!f.ok()) return f.error();
    evaluations += f->evaluations;
    if (!best || f->cost < best->cost) {
      best = *f;
      warnings = f.warnings();
    }
  }
  // A fit that leaves a parameter undetermined gives no width or mu D to use: said by name, with what
  // a dip far wider than the capillary most likely means.
  std::string undetermined;
  constexpr const char* kNames[] = {"mu D", "the beam's width", "the centre", "the open beam", "the baseline"};
  for (std::size_t k = 0; k < np; ++k)
    if (!std::isfinite(best->sigma[k])) undetermined += (undetermined.empty() ? "" : ", ") + std::string(kNames[k]);
  if (!undetermined.empty()) {
    const double dip = lv.last_half - lv.first_half;
    std::string hint = ": is the capillary's diameter right, and does the scan cross it?";
    if (dip > 5.0 * d)
      hint = ": the dip is " + significant(dip, 4) + " wide at half depth, " + significant(dip / d, 3) +
             " times the capillary's diameter (" + shortest(d) + " mm); the heights are read in mm: are they in " +
             (dip > 200.0 * d ? "micrometres" : "another unit") + "?";
    return invalid("the z-scan fit does not determine " + undetermined + hint);
  }
  ZScanFit out;
  auto value = [&](std::size_t k) { return FittedValue{best->p[k], best->sigma[k]}; };
  out.mu_d = value(0);
  out.width = value(1);
  out.centre = value(2);
  out.open_beam = {unit * best->p[3], unit * best->sigma[3]};
  if (np == 5) out.baseline = FittedValue{unit * best->p[4], unit * best->sigma[4]};
  // chi^2 per point of the counts: each residual of the relative fit is 1 / sqrt(unit) of the counts' own.
  out.residual_variance = unit * best->residual_variance;
  out.evaluations = evaluations;
  out.model.resize(m);
  if (Outcome o = profile(best->p, out.model); !o.ok()) return o.error();
  for (double& v : out.model) v *= unit;
  for (std::size_t k : {std::size_t{0}, std::size_t{1}})
    if (best->at_bound[k])
      warnings.push_back(std::string(k == 0 ? "mu D" : "the beam's width") +
                         " of the z-scan fit stopped at its bound " + shortest(best->p[k]) +
                         ": the scan does not measure it");
  return Result<ZScanFit>(std::move(out), std::move(warnings));
}

}  // namespace talvo::pdf
