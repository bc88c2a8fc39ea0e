// Whole XRDML files: every scan with all its axes, read in one pass over the
// XML, whatever its layout (one line or many, LF or CR-LF, a byte-order mark,
// attributes in any order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

// How a scan gives the positions of one axis.
enum class XrdmlPositions {
  kCommon,  // <commonPosition>: one position for every point
  kRange,   // <startPosition> and <endPosition>: evenly spaced from first to last point
  kList,    // <listPositions>: one position per point
};

// One <positions> block of a scan.
struct XrdmlAxis {
  std::string name;  // the axis attribute: "2Theta", "Omega", "Phi", "Psi", "X", ...
  std::string unit;  // the unit attribute ("deg", "mm"), empty when not given
  XrdmlPositions form = XrdmlPositions::kCommon;
  double start = 0.0;        // kRange: first point; kCommon: the position
  double end = 0.0;          // kRange: last point; kCommon: the position
  std::vector<double> list;  // kList: one position per point

  // True when the positions are not all the same.
  bool varies() const;
  // The position of point j (from 0) of a scan of `points` points.
  double position(std::size_t j, std::size_t points) const;
};

// One <scan>.
struct XrdmlScan {
  int number = 0;                      // 1 for the first scan of the file
  std::string scan_axis;               // the scanAxis attribute as written: "Phi", "2Theta", "Omega-2Theta", "Gonio"
  std::vector<XrdmlAxis> axes;         // in the order of the file
  std::vector<double> values;          // the stored <intensities>, or <counts> when the scan has no intensities
  bool raw_counts = false;             // values are <counts>: the attenuation factors are still to be applied
  std::vector<double> attenuation;     // <beamAttenuationFactors>, one per point; empty: 1 for every point
  bool has_common_time = false;        // <commonCountingTime> given
  double common_time = 0.0;            // seconds
  std::vector<double> counting_times;  // <countingTimes>, seconds, one per point; empty when not given

  std::size_t points() const { return values.size(); }
  // The axis of that name (compared case-blind), or null.
  const XrdmlAxis* axis(std::string_view name) const;
  // The axis a row's x is taken from by default: 2Theta when it moves within
  // the scan, else the scan axis, else the first axis that moves.
  const XrdmlAxis& x_axis() const;
  // The axes that stay put over the scan, with their position, in file order.
  std::vector<std::pair<std::string, double>> fixed_axes() const;
  // Counting time of point j in seconds; 0 when the scan gives none.
  double counting_time(std::size_t j) const;
  // Attenuation factor of point j (1 when the scan gives none).
  double attenuation_factor(std::size_t j) const { return attenuation.empty() ? 1.0 : attenuation[j]; }
};

struct XrdmlFile {
  // (kAlpha1 + ratio kAlpha2) / (1 + ratio) in Angstrom, as readxrdml gives
  // it; kAlpha1 alone when the file gives no kAlpha2 or no ratio; 0 when it
  // gives no kAlpha1. A later <usedWavelength> overrides an earlier one.
  double wavelength = 0.0;
  double k_alpha1 = 0.0, k_alpha2 = 0.0, ratio = 0.0;
  double k_beta = 0.0;  // 0 when the file gives none
  // <usedWavelength>'s intended attribute: the line the measurement meant
  // ("K-Alpha 1" for Kalpha1 alone, "K-Alpha" for the weighted mean,
  // "K-Alpha 2", "K-Beta", "Other"); empty when the file does not say.
  std::string intended_wavelength;
  std::vector<XrdmlScan> scans;
};

// Larger files are refused before anything is read: every number of the
// file becomes an 8-byte double, so memory grows to a few times the size.
inline constexpr std::uint64_t kXrdmlMaxFileSize = std::uint64_t{4} << 30;

// The most scans, and points a scan, of a reading that sums the scans point
// by point into arrays of fixed size (the calculator's readxrdml, talvo-tools
// xrdml without --scans).
inline constexpr int kXrdmlSummedScans = 20;
inline constexpr int kXrdmlSummedPoints = 5000;

struct XrdmlReadOptions {
  std::uint64_t max_file_size = kXrdmlMaxFileSize;  // bytes
  // Bytes read at a time into a buffer used again and again (it grows only
  // for a longer piece of markup than this, a long comment say).
  std::size_t read_size = std::size_t{1} << 16;
  // Asked after each piece read (kCancelled once it says stop).
  StopCheck stop{};
};

// Reads every scan of an XRDML file. Only regular files are read (a device,
// FIFO or socket may never end); the file is read once, a piece at a time
// (never mapped: a file that another process cuts short meanwhile is an
// error, not a signal), and only the result takes memory in proportion to
// the file. Messages show text from the file with control characters
// escaped.
//
// Errors: kNotFound no such file; kIoError not a regular file, unreadable,
// larger than the limit, or cut short while it was read; kParseError not an
// XRDML file, markup broken or the file cut short, no scan, a number that
// cannot be read (or a wavelength beyond the double range), a scan whose
// lists do not fit together or that lacks its positions or data;
// kOutOfMemory. Warning: no wavelength in the file (it is then 0).
Result<XrdmlFile> read_xrdml_file(const std::string& path, const XrdmlReadOptions& options = {});

// The same on a file's content already in memory.
Result<XrdmlFile> parse_xrdml(std::string_view text);

struct XrdmlValueOptions {
  bool cps = false;  // divide y and e by each point's counting time
  std::string axis;  // x from this axis (case-blind); empty: the scan's x_axis()
};

struct XrdmlValues {
  std::string axis;  // the axis x was taken from
  std::vector<double> x, y, e;
};

// x, y and e of one scan: y is the stored intensity, or the count times its
// attenuation factor; e = sqrt(y * attenuation), the counting error of the
// raw count scaled as y is; with cps both are divided by the counting time.
//
// Every x, y and e is finite: values whose arithmetic leaves the double range
// (positions near 1.7e308, a factor of 1e308) are refused.
//
// Errors: kNotFound the scan has no axis of that name; kInvalidArgument cps
// for a scan without a counting time or with a point counted for no time;
// kOutOfRange an x, y or e beyond the double range; kOutOfMemory.
Result<XrdmlValues> xrdml_values(const XrdmlScan& scan, const XrdmlValueOptions& options = {});

}  // namespace talvo
