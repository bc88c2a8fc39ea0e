#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace talvo {

bool XrdmlAxis::varies() const {
  switch (form) {
    case XrdmlPositions::kCommon:
      return false;
    case XrdmlPositions::kRange:
      return start != end;
    case XrdmlPositions::kList:
      for (double v : list)
        if (v != list.front()) return true;
      return false;
  }
  return false;
}

double XrdmlAxis::position(std::size_t j, std::size_t points) const {
  switch (form) {
    case XrdmlPositions::kCommon:
      return start;
    case XrdmlPositions::kRange:
      // The last point lies exactly on the end position, however the steps round.
      if (points < 2) return start;
      if (j + 1 == points) return end;
      return start + static_cast<double>(j) * ((end - start) / static_cast<double>(points - 1));
    case XrdmlPositions::kList:
      return list[j];
  }
  return start;
}

const XrdmlAxis* XrdmlScan::axis(std::string_view name) const {
  for (const XrdmlAxis& a : axes)
    if (equal_case_blind(a.name, name)) return &a;
  return nullptr;
}

const XrdmlAxis& XrdmlScan::x_axis() const {
  const XrdmlAxis* two_theta = axis("2Theta");
  if (two_theta && two_theta->varies()) return *two_theta;
  const XrdmlAxis* own = axis(scan_axis);
  if (own && own->varies()) return *own;
  for (const XrdmlAxis& a : axes)
    if (a.varies()) return a;
  if (two_theta) return *two_theta;
  return own ? *own : axes.front();
}

std::vector<std::pair<std::string, double>> XrdmlScan::fixed_axes() const {
  std::vector<std::pair<std::string, double>> fixed;
  for (const XrdmlAxis& a : axes) {
    if (a.varies() || (a.form == XrdmlPositions::kList && a.list.empty())) continue;
    fixed.emplace_back(a.name, a.form == XrdmlPositions::kList ? a.list.front() : a.start);
  }
  return fixed;
}

double XrdmlScan::counting_time(std::size_t j) const {
  if (!counting_times.empty()) return counting_times[j];
  return has_common_time ? common_time : 0.0;
}

namespace {

// The arithmetic of xrdml_values, point by point into r; the error when a
// value is beyond the double range.
Outcome fill_values(const XrdmlScan& scan, const XrdmlAxis& axis, const XrdmlValueOptions& options,
                    const std::string& scan_name, XrdmlValues& r) {
  const std::size_t n = scan.points();
  for (std::size_t j = 0; j < n; ++j) {
    const double attenuation = scan.attenuation_factor(j);
    double y = scan.raw_counts ? scan.values[j] * attenuation : scan.values[j];
    double e = std::sqrt(y * attenuation);
    if (options.cps) {
      const double t = scan.counting_time(j);
      y /= t;
      e /= t;
    }
    const double x = axis.position(j, n);
    // The numbers read are finite; what they give need not be (positions
    // near the double range, a factor of 1e308): refused, never printed.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(e)) {
      const char* what = !std::isfinite(x)   ? "the position of axis "
                         : !std::isfinite(y) ? (options.cps ? "counts per second" : "the intensity")
                                             : "the error";
      return make_error(ErrorKind::kOutOfRange, scan_name + ", point " + std::to_string(j + 1) + ": " + what +
                                                    (std::isfinite(x) ? std::string() : escape_for_message(axis.name)) +
                                                    " is beyond the range of a double");
    }
    r.x[j] = x;
    r.y[j] = y;
    r.e[j] = e;
  }
  return Done{};
}

}  // namespace

Result<XrdmlValues> xrdml_values(const XrdmlScan& scan, const XrdmlValueOptions& options) {
  const std::string scan_name = "scan " + std::to_string(scan.number);
  if (scan.axes.empty()) return make_error(ErrorKind::kNotFound, scan_name + " has no axis");
  const XrdmlAxis* axis = options.axis.empty() ? &scan.x_axis() : scan.axis(options.axis);
  if (!axis) return make_error(ErrorKind::kNotFound, scan_name + " has no axis " + escape_for_message(options.axis));
  const std::size_t n = scan.points();
  if (options.cps) {
    if (!scan.has_common_time && scan.counting_times.empty())
      return make_error(ErrorKind::kInvalidArgument, scan_name + " gives no counting time: no counts per second");
    for (std::size_t j = 0; j < n; ++j)
      if (!(scan.counting_time(j) > 0.0))
        return make_error(ErrorKind::kInvalidArgument,
                          scan_name + ", point " + std::to_string(j + 1) + ": counting time 0, no counts per second");
  }
  try {
    XrdmlValues r;
    r.x.resize(n);
    r.y.resize(n);
    r.e.resize(n);
    if (Outcome filled = fill_values(scan, *axis, options, scan_name, r); !filled.ok()) return filled.error();
    r.axis = axis->name;
    return r;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return make_error(ErrorKind::kOutOfMemory, scan_name + ": out of memory for " + std::to_string(n) + " points");
}

}  // namespace talvo
