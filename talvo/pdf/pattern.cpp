#include "talvo/pdf/pattern.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <numbers>
#include <sstream>

#include "talvo/files/files.hpp"
#include "talvo/numeric/statistics.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace talvo::pdf {
namespace {

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

// A data row's first fields, without a vector of its own: `size` counts them
// all, `field` keeps the first three.
struct RowFields {
  std::array<std::string_view, 3> field;
  std::size_t size = 0;
};

RowFields row_fields(std::string_view line) {
  RowFields out;
  std::size_t i = 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && blank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !blank(line[i])) ++i;
    if (i > start) {
      if (out.size < out.field.size()) out.field[out.size] = line.substr(start, i - start);
      ++out.size;
    }
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

// The names of the columns above the data: the last comment line before
// the first row, when it holds as many words as the row holds numbers.
struct ColumnLine {
  std::string_view x_name;  // empty when there is no such line
  bool pyfai = false;       // "UNIT_NAME  I", as pyFAI names them: the x name is a unit
};

ColumnLine column_line(const std::vector<std::string_view>& lines) {
  std::size_t row = 0;
  while (row < lines.size() && is_comment(trim(lines[row]))) ++row;
  if (row == lines.size()) return {};
  const std::size_t numbers = row_fields(trim(lines[row])).size;
  for (std::size_t k = row; k-- > 0;) {
    std::string_view t = trim(lines[k]);
    if (t.empty()) continue;
    if (t.front() != '#') return {};
    while (!t.empty() && t.front() == '#') t.remove_prefix(1);
    const std::vector<std::string_view> names = fields(trim(t));
    if (names.size() != numbers || numbers < 2) return {};
    return {names[0], names[1] == "I" && names[0].find('_') != std::string_view::npos};
  }
  return {};
}

std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool has(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The reference program's header: "key = value" lines in "[SECTION]"
// blocks before "#### start data". Its [PDF] (or [DEFAULT]) keys, lower case.
struct ReferenceHeader {
  std::size_t data_start = 0;  // the line after "#### start data"; 0 when there is none
  std::vector<std::pair<std::string, std::string>> keys;
  std::string value(std::string_view key) const {
    for (const auto& [k, v] : keys)
      if (k == key) return v;
    return {};
  }
};

ReferenceHeader reference_header(const std::vector<std::string_view>& lines) {
  ReferenceHeader h;
  std::size_t start = 0;
  while (start < lines.size() && trim(lines[start]) != "#### start data") ++start;
  if (start == lines.size()) return h;
  h.data_start = start + 1;
  std::string section;
  for (std::size_t k = 0; k < start; ++k) {
    const std::string_view t = trim(lines[k]);
    if (t.size() > 2 && t.front() == '[' && t.back() == ']') {
      section = lower_ascii(t.substr(1, t.size() - 2));
      continue;
    }
    const std::size_t eq = t.find_first_of("=:");
    if (eq == std::string_view::npos || t.front() == '#' || t.front() == ';') continue;
    if (section == "pdf" || section == "default")
      h.keys.emplace_back(lower_ascii(trim(t.substr(0, eq))), std::string(trim(t.substr(eq + 1))));
  }
  return h;
}

// The first name of a "#L" line: names are set apart by two blanks, or one
// where no two are.
std::string_view first_column_name(std::string_view names) {
  names = trim(names);
  const std::size_t two = names.find("  ");
  if (two != std::string_view::npos) return trim(names.substr(0, two));
  const std::size_t one = names.find_first_of(" \t");
  return one == std::string_view::npos ? names : names.substr(0, one);
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
  const double k2 = median(std::move(ratio)) / 0.45493642311957283;
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
                     significant(p.sigma_scale, 6) +
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

std::optional<StatedAbscissa> abscissa_stated(std::string_view name) {
  const std::string n = lower_ascii(trim(name));
  if (n.empty()) return std::nullopt;
  constexpr std::string_view kTwoTheta[] = {"2theta",   "2-theta",   "2 theta",   "two theta", "two-theta",
                                            "twotheta", "2\xce\xb8", "2\xce\x98", "2th",       "tth"};
  for (const std::string_view t : kTwoTheta)
    if (n.rfind(t, 0) == 0) return StatedAbscissa{Abscissa::kTwoTheta, has(n, "rad") ? 180.0 / std::numbers::pi : 1.0};
  // Q, then what sets it apart from a longer word: a bracket, a blank, "_", "/" or "[".
  if (n[0] != 'q' || (n.size() > 1 && std::isalpha(static_cast<unsigned char>(n[1])))) return std::nullopt;
  if (has(n, "nm") || has(n, "nanomet")) return StatedAbscissa{Abscissa::kQnm};
  constexpr std::string_view kAngstrom[] = {"\\aa",   "\xc3\xa5", "\xc3\x85", "\xe2\x84\xab",  "angstrom", "a^-1",
                                            "a^{-1}", "1/a",      "a-1",      "a\xe2\x81\xbb", "_a"};
  for (const std::string_view a : kAngstrom)
    if (has(n, a)) return StatedAbscissa{Abscissa::kQA};
  return std::nullopt;
}

Result<Pattern> parse_text_pattern(std::string_view text, Abscissa abscissa, std::string_view source) {
  // UTF-16 text holds a NUL in every other byte: said once, not quoted row by row.
  if (text.find('\0') != std::string_view::npos)
    return make_error(ErrorKind::kParseError, escape_for_message(source) +
                                                  ": holds NUL bytes (UTF-16 text?): save it as plain text (ASCII or "
                                                  "UTF-8)");
  // A byte-order mark, as some programs write UTF-8, is no part of the first row.
  if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);
  const std::vector<std::string_view> lines = lines_of(text);
  Pattern p;
  p.abscissa = abscissa;
  // The x column's name, where a header gives one.
  std::string_view x_name;
  std::size_t first = chi_header_lines(lines);
  if (first == 4) x_name = trim(lines[1]);
  const ReferenceHeader header = reference_header(lines);
  if (header.data_start != 0) {
    first = header.data_start;
    const std::string type = lower_ascii(header.value("outputtype"));
    if (!type.empty() && type != "iq") {
      const std::string input = header.value("inputfile");
      return make_error(ErrorKind::kInvalidArgument,
                        escape_for_message(source) + " holds the reference program's " +
                            (type == "sq"   ? "S(Q)"
                             : type == "fq" ? "F(Q)"
                             : type == "gr" ? "G(r)"
                                            : quote_for_message(type)) +
                            " (outputtype = " + escape_for_message(type) +
                            "), not a measured pattern: reduce the pattern it was made from" +
                            (input.empty() ? "" : " (inputfile = " + escape_for_message(input) + ")") +
                            " or its I(Q) (outputtype = iq)");
    }
    for (std::size_t k = first; k < lines.size(); ++k) {
      const std::string_view t = trim(lines[k]);
      if (t.rfind("#L", 0) == 0) {
        x_name = first_column_name(t.substr(2));
        break;
      }
      if (!is_comment(t)) break;
    }
    const std::string background = header.value("backgroundfile");
    const std::optional<double> scale = parse_real(header.value("bgscale"));
    if (!background.empty() && (!scale || *scale != 0.0))
      p.subtracted_background = (scale ? shortest(*scale) : std::string("1")) + " x " + background;
  }
  // A .chi file names its x always; pyFAI's column line ("#  r_mm  I  sigma") too.
  bool x_named = first == 4;
  if (first == 0) {
    const ColumnLine column = column_line(lines);
    x_name = column.x_name;
    x_named = column.pyfai;
  }
  double x_scale = 1.0;
  if (const std::optional<StatedAbscissa> stated = abscissa_stated(x_name)) {
    p.abscissa = stated->abscissa;
    p.abscissa_label = std::string(x_name);
    x_scale = stated->scale;
  } else if (x_named) {
    p.foreign_abscissa = std::string(x_name);
  }
  std::size_t columns = 0;
  for (std::size_t k = first; k < lines.size(); ++k) {
    const std::string_view t = trim(lines[k]);
    if (is_comment(t)) continue;
    const RowFields row = row_fields(t);
    const std::size_t count = row.size;
    const auto& f = row.field;
    const auto where = [&] { return escape_for_message(source) + " line " + std::to_string(k + 1); };
    if (columns == 0) {
      if (count < 2 || count > 3)
        return make_error(ErrorKind::kParseError, where() +
                                                      ": a pattern has 2 columns (x, intensity) or 3 (x, intensity, "
                                                      "sigma), not " +
                                                      std::to_string(count));
      columns = count;
    } else if (count != columns) {
      return make_error(ErrorKind::kParseError, where() + ": " + std::to_string(count) +
                                                    " columns where the first row has " + std::to_string(columns));
    }
    double v[3] = {};
    for (std::size_t c = 0; c < columns; ++c) {
      const std::optional<double> r = parse_real(f[c]);
      if (!r)
        return make_error(ErrorKind::kInvalidArgument,
                          where() + ": " + quote_for_message(f[c]) + " is not a finite number; remove or fix the row");
      v[c] = *r;
    }
    v[0] *= x_scale;
    if (!p.x.empty() && !(v[0] > p.x.back()))
      return make_error(ErrorKind::kInvalidArgument,
                        where() + ": x = " + shortest(v[0]) + " does not increase; sort the pattern by x");
    if (columns == 3 && !(v[2] > 0.0))
      return make_error(ErrorKind::kInvalidArgument, where() + ": sigma = " + shortest(v[2]) + " must be above 0");
    p.x.push_back(v[0]);
    p.y.push_back(v[1]);
    if (columns == 3) p.sigma.push_back(v[2]);
  }
  if (p.x.size() < 3)
    return make_error(ErrorKind::kInvalidArgument, escape_for_message(source) + ": " + std::to_string(p.x.size()) +
                                                       " data rows; a pattern needs at least 3");
  std::vector<std::string> warnings;
  if (columns == 2) counting_errors(p, warnings);
  return Result<Pattern>(std::move(p), std::move(warnings));
}

Result<Pattern> pattern_of_columns(std::vector<double> x, std::vector<double> y, std::vector<double> sigma,
                                   Abscissa abscissa, std::string_view source) {
  if (y.size() != x.size() || (!sigma.empty() && sigma.size() != x.size()))
    return make_error(ErrorKind::kInvalidArgument, escape_for_message(source) + ": x, intensity and sigma have " +
                                                       std::to_string(x.size()) + ", " + std::to_string(y.size()) +
                                                       " and " + std::to_string(sigma.size()) + " values");
  for (std::size_t i = 0; i < x.size(); ++i) {
    const auto where = [&] { return "row " + std::to_string(i + 1) + " of " + escape_for_message(source); };
    if (!std::isfinite(x[i]) || !std::isfinite(y[i]) || (!sigma.empty() && !std::isfinite(sigma[i])))
      return make_error(ErrorKind::kInvalidArgument, where() + ": a value is not a finite number; remove or fix the row");
    if (i > 0 && !(x[i] > x[i - 1]))
      return make_error(ErrorKind::kInvalidArgument,
                        where() + ": x = " + shortest(x[i]) + " does not increase; sort the pattern by x");
    if (!sigma.empty() && !(sigma[i] > 0.0))
      return make_error(ErrorKind::kInvalidArgument, where() + ": sigma = " + shortest(sigma[i]) + " must be above 0");
  }
  if (x.size() < 3)
    return make_error(ErrorKind::kInvalidArgument, escape_for_message(source) + ": " + std::to_string(x.size()) +
                                                       " data rows; a pattern needs at least 3");
  Pattern p;
  p.abscissa = abscissa;
  p.x = std::move(x);
  p.y = std::move(y);
  p.sigma = std::move(sigma);
  std::vector<std::string> warnings;
  if (p.sigma.empty()) counting_errors(p, warnings);
  return Result<Pattern>(std::move(p), std::move(warnings));
}

Result<Pattern> parse_xrdml_pattern(std::string_view content, int scan, std::string_view source) {
  const Result<XrdmlFile> file = parse_xrdml(content);
  if (!file.ok()) return with_context(file, escape_for_message(source) + ": ");
  const std::vector<XrdmlScan>& scans = file->scans;
  if (scan < 0 || scan > static_cast<int>(scans.size()))
    return make_error(ErrorKind::kOutOfRange, escape_for_message(source) + " holds " + std::to_string(scans.size()) +
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
    if (!values.ok()) return with_context(values, escape_for_message(source) + ": ");
    const XrdmlValues& v = *values;
    if (v.x.size() > 1 && std::all_of(v.x.begin(), v.x.end(), [&](double x) { return x == v.x.front(); }))
      return make_error(ErrorKind::kUnsupported, escape_for_message(source) + ": scan " + std::to_string(s + 1) +
                                                     " stands at 2theta = " + shortest(v.x.front()) + " and moves " +
                                                     escape_for_message(scans[s].scan_axis) +
                                                     ": a powder pattern is a scan of 2theta");
    if (scan == 0 && s > 0) {
      // Scans summed must be repeats of one measurement, not the steps of a map or a pole figure.
      for (const auto& [axis, at] : scans[s].fixed_axes())
        for (const auto& [axis1, at1] : scans[0].fixed_axes())
          if (axis == axis1 && std::abs(at - at1) > 1e-6 * std::max(1.0, std::abs(at1)))
            return make_error(ErrorKind::kInvalidArgument,
                              escape_for_message(source) + ": scan " + std::to_string(s + 1) + " stands at " +
                                  escape_for_message(axis) + " = " + shortest(at) + ", scan 1 at " + shortest(at1) +
                                  ": its scans are not repeats of one pattern; choose one with scan");
    }
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
                        escape_for_message(source) + ": scan " + std::to_string(s + 1) +
                            " has other 2theta positions than scan 1; choose one with scan");
    for (std::size_t i = 0; i < p.x.size(); ++i) {
      p.y[i] += v.y[i];
      variance[i] += v.e[i] * v.e[i];
    }
  }
  if (p.x.size() < 3)
    return make_error(ErrorKind::kInvalidArgument, escape_for_message(source) + ": a pattern needs at least 3 points");
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
          escape_for_message(source) + ": the 2theta positions do not increase at point " + std::to_string(i + 1));
  p.sigma.resize(variance.size());
  for (std::size_t i = 0; i < variance.size(); ++i) p.sigma[i] = std::sqrt(std::max(variance[i], 1.0));
  // usedWavelength's intended attribute: "K-Alpha 1" is Kalpha1 alone,
  // "K-Alpha" (or none) the weighted mean, "K-Alpha 2" and "K-Beta" those
  // lines; any other ("Other") names no line the file gives.
  const XrdmlFile& f = *file;
  const std::string& intended = f.intended_wavelength;
  std::vector<std::string> warnings;
  const auto missing = [&](std::string_view element) {
    warnings.push_back(escape_for_message(source) + " intends the line " + quote_for_message(intended) +
                       " and gives no " + std::string(element) + ": give the wavelength (an anode names its Kalpha1)");
  };
  if (intended.empty() || equal_case_blind(intended, "K-Alpha") || equal_case_blind(intended, "K-Alpha 1")) {
    const bool alone = equal_case_blind(intended, "K-Alpha 1");
    if (f.k_alpha1 > 0.0) {
      p.wavelength_line = alone ? "K-Alpha 1" : "K-Alpha";
      p.wavelength = alone ? f.k_alpha1 : f.wavelength;
    } else {
      warnings.push_back(escape_for_message(source) + " gives no wavelength: give the wavelength or the anode");
    }
  } else if (equal_case_blind(intended, "K-Alpha 2")) {
    if (f.k_alpha2 > 0.0) {
      p.wavelength_line = "K-Alpha 2";
      p.wavelength = f.k_alpha2;
    } else {
      missing("kAlpha2");
    }
  } else if (equal_case_blind(intended, "K-Beta")) {
    if (f.k_beta > 0.0) {
      p.wavelength_line = "K-Beta";
      p.wavelength = f.k_beta;
    } else {
      missing("kBeta");
    }
  } else {
    warnings.push_back(escape_for_message(source) + " intends the line " + quote_for_message(intended) +
                       ", which is none of the file's (kAlpha1, kAlpha2, kBeta): give the wavelength");
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
