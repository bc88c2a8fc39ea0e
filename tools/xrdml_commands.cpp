// xrdml: 2-theta, intensity and error from an XRDML file, one scan or the sum
// of all; with --scans, every point of every scan. Both read the whole file
// (any layout, attenuation factors applied, every number checked).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/shortest.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xrdml/xrdml_file.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

// Rows written through one buffer of fixed size, handed to standard output
// whenever it fills: a row is written with to_chars, never through a stream,
// so that printing keeps pace with reading, and memory does not grow with the
// number of rows (a scan of 250 million points prints as well as a small one).
class RowBuffer {
 public:
  RowBuffer() : buf_(std::make_unique_for_overwrite<char[]>(kSize)), cache_(kCacheSlots) {}
  void text(std::string_view s) {
    while (used_ + s.size() > kSize) {
      const std::size_t part = kSize - used_;
      std::memcpy(buf_.get() + used_, s.data(), part);
      used_ = kSize;
      s.remove_prefix(part);
      flush();
    }
    std::memcpy(buf_.get() + used_, s.data(), s.size());
    used_ += s.size();
  }
  // The shortest text that reads back as the same double. Scans repeat their
  // positions, small counts and their square roots over and over: the text
  // of a value met before is copied from a small cache instead of being
  // worked out again.
  void number(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    Slot& slot = cache_[(bits * 0x9E3779B97F4A7C15u) >> (64 - kCacheBits)];
    if (slot.length == 0 || slot.bits != bits) {
      slot.bits = bits;
      char text[kShortestRoom];
      slot.length = static_cast<std::uint8_t>(write_shortest(text, v) - text);
      std::memcpy(slot.text, text, sizeof slot.text);
    }
    room(sizeof slot.text);
    std::memcpy(buf_.get() + used_, slot.text, sizeof slot.text);
    used_ += slot.length;
  }
  void number(long long v) {
    room(24);
    used_ = static_cast<std::size_t>(std::to_chars(buf_.get() + used_, buf_.get() + kSize, v).ptr - buf_.get());
  }
  void row(int k, double x, double y, double e) {
    number(static_cast<long long>(k));
    text(" ");
    row(x, y, e);
  }
  void row(double x, double y, double e) {
    number(x);
    text(" ");
    number(y);
    text(" ");
    number(e);
    text("\n");
  }
  // False when standard output refused the rows (a full disk, a closed pipe).
  bool finish() {
    flush();
    std::cout.flush();
    return static_cast<bool>(std::cout);
  }

 private:
  void room(std::size_t n) {
    if (used_ + n > kSize) flush();
  }
  void flush() {
    if (used_ > 0) std::cout.write(buf_.get(), static_cast<std::streamsize>(used_));
    used_ = 0;
  }
  static constexpr std::size_t kSize = std::size_t{1} << 16;
  static constexpr int kCacheBits = 12;
  static constexpr std::size_t kCacheSlots = std::size_t{1} << kCacheBits;
  struct Slot {
    std::uint64_t bits = 0;
    std::uint8_t length = 0;  // 0: empty
    char text[kShortestChars] = {};
  };
  std::unique_ptr<char[]> buf_;
  std::size_t used_ = 0;
  std::vector<Slot> cache_;
};

int write_failed(RowBuffer& out) {
  if (out.finish()) return 0;
  std::cerr << "talvo-tools xrdml: cannot write the rows\n";
  return 1;
}

int run_scans(const Args& a, const std::string& which) {
  if (a.get("--scan") || a.get("--print"))
    return usage(a, "--scan and --print belong to the summed reading, not to --scans");
  const Result<XrdmlFile> r = read_xrdml_file(a.positional[0]);
  if (!report("xrdml", r)) return 1;
  const auto& scans = r->scans;
  std::size_t first = 0, last = scans.size();
  if (which != "all") {
    const Result<int> chosen = integer(which, "--scans");
    if (!chosen.ok()) return usage(a, chosen.error());
    const int k = *chosen;
    if (k < 1 || static_cast<std::size_t>(k) > scans.size()) {
      std::cerr << "talvo-tools xrdml: no scan " << k << " in " << escape_for_message(a.positional[0]) << ", which holds " << scans.size()
                << " scans\n";
      return 1;
    }
    first = static_cast<std::size_t>(k - 1);
    last = first + 1;
  }
  XrdmlValueOptions options;
  options.cps = a.flag("--cps");
  options.axis = a.get("--axis").value_or("");

  // Every scan's values are worked out before a row is printed: an error in
  // the last scan leaves standard output empty rather than cut.
  std::vector<XrdmlValues> values;
  values.reserve(last - first);
  for (std::size_t i = first; i < last; ++i) {
    Result<XrdmlValues> v = xrdml_values(scans[i], options);
    if (!report("xrdml", v)) return 1;
    values.push_back(std::move(*v));
  }
  RowBuffer out;
  out.text("# wavelength ");
  out.number(r->wavelength);
  out.text("\n# scans ");
  out.number(static_cast<long long>(scans.size()));
  out.text("\n");
  for (std::size_t i = first; i < last; ++i) {
    const XrdmlScan& scan = scans[i];
    const XrdmlValues& v = values[i - first];
    out.text("# scan ");
    out.number(static_cast<long long>(scan.number));
    out.text(" x ");
    out.text(v.axis);
    const auto fixed = scan.fixed_axes();
    if (!fixed.empty()) out.text(" fixed");
    for (const auto& [name, position] : fixed) {
      out.text(" ");
      out.text(name);
      out.text("=");
      out.number(position);
    }
    out.text("\n");
    for (std::size_t j = 0; j < v.x.size(); ++j) out.row(scan.number, v.x[j], v.y[j], v.e[j]);
  }
  return write_failed(out);
}

// The summed reading: one scan (k >= 1) or the sum of all scans point by
// point (k = 0), from the whole-file reader, within the limits of a summed
// reading (20 scans of 5000 points).
struct Pattern {
  std::vector<double> x, y, e;
};

bool sum_scans(const std::vector<XrdmlScan>& scans, bool cps, Pattern& p) {
  std::vector<XrdmlValues> values;
  std::size_t n = 0;
  for (const XrdmlScan& scan : scans) {
    Result<XrdmlValues> v = xrdml_values(scan);
    if (!report("xrdml", v)) return false;
    values.push_back(std::move(*v));
    n = std::max(n, values.back().x.size());
    if (cps && !scan.has_common_time && scan.counting_times.empty()) {
      std::cerr << "talvo-tools xrdml: scan " << scan.number << " gives no counting time: no counts per second\n";
      return false;
    }
    if (!equal_case_blind(values.back().axis, values.front().axis)) {
      std::cerr << "talvo-tools xrdml: Incompatible scans: scan " << scan.number << " moves " << values.back().axis
                << ", scan 1 " << values.front().axis << "\n";
      return false;
    }
  }
  p.x.assign(n, 0.0);
  p.y.assign(n, 0.0);
  p.e.assign(n, 0.0);
  std::vector<double> variance(n, 0.0), time(n, 0.0), step(n, 0.0);
  std::vector<bool> have(n, false);
  for (std::size_t k = 0; k < scans.size(); ++k) {
    const XrdmlValues& v = values[k];
    const std::size_t m = v.x.size();
    const double scan_step = m > 1 ? (v.x[m - 1] - v.x[0]) / static_cast<double>(m - 1) : 0.0;
    for (std::size_t j = 0; j < m; ++j) {
      // Points are summed by index: their angles must agree within 1e-4 of
      // the angle and of the step (the first scan that reaches a point sets it).
      if (!have[j]) {
        have[j] = true;
        p.x[j] = v.x[j];
        step[j] = scan_step;
      } else if (std::fabs(v.x[j] - p.x[j]) > 1e-4 * (std::fabs(p.x[j]) + std::fabs(step[j]))) {
        std::cerr << "talvo-tools xrdml: Incompatible scans: point " << j + 1 << " of scan " << scans[k].number
                  << " lies at " << num(v.x[j]) << ", not at " << num(p.x[j]) << "\n";
        return false;
      }
      p.y[j] += v.y[j];
      variance[j] += v.e[j] * v.e[j];
      time[j] += scans[k].counting_time(j);
    }
  }
  for (std::size_t j = 0; j < n; ++j) {
    // Independent counts: their errors add in quadrature.
    p.e[j] = std::sqrt(variance[j]);
    if (cps) {
      if (!(time[j] > 0.0)) {
        std::cerr << "talvo-tools xrdml: point " << j + 1 << ": counting time " << num(time[j])
                  << ", no counts per second\n";
        return false;
      }
      p.y[j] /= time[j];
      p.e[j] /= time[j];
    }
    if (!std::isfinite(p.y[j]) || !std::isfinite(p.e[j])) {
      std::cerr << "talvo-tools xrdml: point " << j + 1 << ": the sum of the scans is beyond the range of a double\n";
      return false;
    }
  }
  return true;
}

int run_xrdml(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one FILE");
  if (const auto which = a.get("--scans")) return run_scans(a, *which);
  if (a.get("--axis")) return usage(a, "--axis needs --scans");
  const Result<int> scan_read = a.get("--scan") ? integer(*a.get("--scan"), "--scan") : 0;
  if (!scan_read.ok()) return usage(a, scan_read.error());
  const Result<int> level_read = a.get("--print") ? integer(*a.get("--print"), "--print") : 0;
  if (!level_read.ok()) return usage(a, level_read.error());
  const int choice = *scan_read, level = *level_read;
  const bool cps = a.flag("--cps");
  const Result<XrdmlFile> r = read_xrdml_file(a.positional[0]);
  if (!report("xrdml", r)) return 1;
  const auto& scans = r->scans;
  if (scans.size() > static_cast<std::size_t>(kXrdmlSummedScans)) {
    std::cerr << "talvo-tools xrdml: Too many scans in file: " << scans.size() << ", of which this reading takes "
              << kXrdmlSummedScans << "; --scans all reads every scan\n";
    return 1;
  }
  for (const XrdmlScan& scan : scans)
    if (scan.points() > static_cast<std::size_t>(kXrdmlSummedPoints)) {
      std::cerr << "talvo-tools xrdml: Too many data points: scan " << scan.number << " has " << scan.points()
                << ", of which this reading takes " << kXrdmlSummedPoints << "; --scans all reads every point\n";
      return 1;
    }
  if (choice < 0 || static_cast<std::size_t>(choice) > scans.size()) {
    std::cerr << "talvo-tools xrdml: no scan " << choice << " in " << escape_for_message(a.positional[0]) << ", which holds "
              << scans.size() << " scans\n";
    return 1;
  }
  Pattern p;
  if (choice >= 1) {
    XrdmlValueOptions options;
    options.cps = cps;
    Result<XrdmlValues> v = xrdml_values(scans[static_cast<std::size_t>(choice - 1)], options);
    if (!report("xrdml", v)) return 1;
    p.x = std::move(v->x), p.y = std::move(v->y), p.e = std::move(v->e);
  } else if (!sum_scans(scans, cps, p)) {
    return 1;
  }
  if (level > 0 && !p.x.empty()) {
    // The summary goes to standard error, keeping standard output to the
    // rows, in the calculator's layout: counts in as many columns as they
    // need, points in E14.7, the wavelengths in E20.13.
    const auto count = [](const char* label, std::size_t n) {
      const auto v = static_cast<long long>(n);
      std::cerr << ' ' << label << fmt_i(v, int_columns(v)) << '\n';
    };
    const auto point = [&](const char* label, std::size_t j) {
      std::cerr << ' ' << label << fmt_e(p.x[j], 14, 7) << " y=" << fmt_e(p.y[j], 14, 7)
                << " e=" << fmt_e(p.e[j], 14, 7) << '\n';
    };
    const auto wavelength = [](const char* label, double v) { std::cerr << ' ' << label << fmt_e(v, 20, 13) << '\n'; };
    count("readxrdml: Number of scans = ", scans.size());
    count("readxrdml: Number of points = ", p.x.size());
    point("readxrdml: First point x=", 0);
    point("readxrdml: Last point  x=", p.x.size() - 1);
    wavelength("readxrdml: kAlpha1 = ", r->k_alpha1);
    wavelength("readxrdml: kAlpha2 = ", r->k_alpha2);
    wavelength("readxrdml: ratioKAlpha2KAlpha1 = ", r->ratio);
    wavelength("readxrdml: Lambda = ", r->wavelength);
  }
  RowBuffer out;
  out.text("# wavelength ");
  out.number(r->wavelength);
  out.text("\n# scans ");
  out.number(static_cast<long long>(scans.size()));
  out.text("\n");
  for (std::size_t j = 0; j < p.x.size(); ++j) out.row(p.x[j], p.y[j], p.e[j]);
  return write_failed(out);
}

}  // namespace

const Subcommand kXrdmlCommand{
    "xrdml",
    run_xrdml,
    {"--cps"},
    {"--axis", "--print", "--scan", "--scans"},
    "2-theta, intensity and error from an XRDML file",
    "usage: talvo-tools xrdml FILE [--scan K] [--cps] [--print LEVEL]\n"
    "       talvo-tools xrdml FILE --scans all|K [--cps] [--axis NAME]\n"
    "Prints \"# wavelength L\", \"# scans N\", then \"x y e\" rows. --scan 0 (default) sums all scans\n"
    "point by point (at most 20 scans of 5000 points; their angles must agree within 1e-4),\n"
    "e = sqrt(sum of e^2); --cps divides by the (summed) counting time.\n"
    "--scans reads any XRDML file whole and prints \"k x y e\" rows for every point of scan k\n"
    "(all scans, or scan K), each scan after a line \"# scan k x AXIS fixed NAME=VALUE ...\".\n"
    "x is 2Theta when it moves within the scan, else the scan's own axis; --axis picks another.\n"
    "y is the intensity (counts times the attenuation factor), e = sqrt(y * attenuation factor);\n"
    "numbers are the shortest text that reads back to the same value.\n"};

}  // namespace talvo::cli
