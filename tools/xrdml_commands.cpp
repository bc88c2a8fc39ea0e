// xrdml: 2-theta, intensity and error from an XRDML file; with --scans, every
// point of every scan.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "talvo/xrdml/xrdml.hpp"
#include "talvo/xrdml/xrdml_file.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

// Rows of a whole file gathered in one buffer: a row is written with
// to_chars, never through a stream, so that printing keeps pace with reading.
class RowBuffer {
 public:
  // Room for `bytes` at once: growing a large buffer copies it and touches
  // fresh memory each time.
  explicit RowBuffer(std::size_t bytes) : cache_(kCacheSlots) { room(bytes); }
  void text(std::string_view s) {
    room(s.size());
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
      slot.length =
          static_cast<std::uint8_t>(std::to_chars(slot.text, slot.text + sizeof slot.text, v).ptr - slot.text);
    }
    room(sizeof slot.text);
    std::memcpy(buf_.get() + used_, slot.text, sizeof slot.text);
    used_ += slot.length;
  }
  void number(int v) {
    room(16);
    used_ = static_cast<std::size_t>(std::to_chars(buf_.get() + used_, buf_.get() + size_, v).ptr - buf_.get());
  }
  void row(int k, double x, double y, double e) {
    number(k);
    text(" ");
    number(x);
    text(" ");
    number(y);
    text(" ");
    number(e);
    text("\n");
  }
  std::string_view view() const { return std::string_view(buf_.get(), used_); }

 private:
  void room(std::size_t n) {
    if (used_ + n <= size_) return;
    const std::size_t size = std::max(size_ * 2, used_ + n + 4096);
    auto bigger = std::make_unique_for_overwrite<char[]>(size);
    if (used_ > 0) std::memcpy(bigger.get(), buf_.get(), used_);
    buf_ = std::move(bigger);
    size_ = size;
  }
  static constexpr int kCacheBits = 12;
  static constexpr std::size_t kCacheSlots = std::size_t{1} << kCacheBits;
  struct Slot {
    std::uint64_t bits = 0;
    std::uint8_t length = 0;  // 0: empty
    char text[24] = {};       // the longest double, "-2.2250738585072014e-308", fits
  };
  std::unique_ptr<char[]> buf_;
  std::size_t size_ = 0, used_ = 0;
  std::vector<Slot> cache_;
};

int run_scans(const Args& a, const std::string& which) {
  if (a.get("--scan") || a.get("--print"))
    throw UsageError{"--scan and --print belong to the summed reading, not to --scans"};
  const XrdmlFileResult r = read_xrdml_file(a.positional[0]);
  if (!report(r.status)) return 1;
  const auto& scans = r.file.scans;
  std::size_t first = 0, last = scans.size();
  if (which != "all") {
    const int k = integer(which, "--scans");
    if (k < 1 || static_cast<std::size_t>(k) > scans.size()) {
      std::cerr << "talvo-tools xrdml: no scan " << k << " in " << a.positional[0] << ", which holds " << scans.size()
                << " scans\n";
      return 1;
    }
    first = static_cast<std::size_t>(k - 1);
    last = first + 1;
  }
  XrdmlValueOptions options;
  options.cps = a.flag("--cps");
  options.axis = a.get("--axis").value_or("");

  // A row is at most 88 characters: the scan number and three doubles.
  std::size_t points = 0;
  for (std::size_t i = first; i < last; ++i) points += scans[i].points();
  RowBuffer out(4096 + 88 * points);
  out.text("# wavelength ");
  out.number(r.file.wavelength);
  out.text("\n# scans ");
  out.number(static_cast<int>(scans.size()));
  out.text("\n");
  for (std::size_t i = first; i < last; ++i) {
    const XrdmlScan& scan = scans[i];
    const XrdmlValues v = xrdml_values(scan, options);
    if (!report(v.status)) return 1;
    out.text("# scan ");
    out.number(scan.number);
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
  const std::string_view text = out.view();
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "talvo-tools xrdml: cannot write the rows\n";
    return 1;
  }
  return 0;
}

int run_xrdml(const Args& a) {
  if (a.positional.size() != 1) throw UsageError{"give one FILE"};
  if (const auto which = a.get("--scans")) return run_scans(a, *which);
  if (a.get("--axis")) throw UsageError{"--axis needs --scans"};
  const int scan = a.get("--scan") ? integer(*a.get("--scan"), "--scan") : 0;
  const int level = a.get("--print") ? integer(*a.get("--print"), "--print") : 0;
  std::vector<double> x(kXrdmlMaxPoints), y(kXrdmlMaxPoints), e(kXrdmlMaxPoints);
  // Progress and summary lines go to standard error, keeping standard output to the rows.
  const XrdmlResult r = readxrdml(a.positional[0], x, y, e, scan, a.flag("--cps") ? 1 : 0, level, std::cerr);
  if (!report(r.status)) return 1;
  std::cout << "# wavelength " << num(r.wavelength) << "\n# scans " << r.scans << '\n';
  for (int j = 0; j < r.points; ++j) {
    const auto k = static_cast<std::size_t>(j);
    row({x[k], y[k], e[k]});
  }
  return 0;
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
    "(at most 20 scans of 5000 points, one tag per line); --cps divides by the counting time.\n"
    "--scans reads any XRDML file whole and prints \"k x y e\" rows for every point of scan k\n"
    "(all scans, or scan K), each scan after a line \"# scan k x AXIS fixed NAME=VALUE ...\".\n"
    "x is 2Theta when it moves within the scan, else the scan's own axis; --axis picks another.\n"
    "y is the intensity (counts times the attenuation factor), e = sqrt(y * attenuation factor);\n"
    "numbers are the shortest text that reads back to the same value.\n"};

}  // namespace talvo::cli
