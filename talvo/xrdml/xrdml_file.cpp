#include "talvo/xrdml/xrdml_file.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>

#include "talvo/text/decimal.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xrdml/detail/decimal_digits.hpp"
#include "talvo/xrdml/detail/xml_scanner.hpp"

namespace talvo {

namespace {

using namespace xrdml_detail;
using namespace decimal_detail;

// The elements whose content is numbers.
enum class Field {
  kNone,
  kAlpha1,
  kAlpha2,
  kBeta,
  kRatio,
  kStart,
  kEnd,
  kCommon,
  kList,
  kIntensities,
  kCounts,
  kAttenuation,
  kCommonTime,
  kTimes,
};

bool single_value(Field f) {
  return f == Field::kAlpha1 || f == Field::kAlpha2 || f == Field::kBeta || f == Field::kRatio || f == Field::kStart ||
         f == Field::kEnd || f == Field::kCommon || f == Field::kCommonTime;
}

// The measurement built from what the scanner finds: the wavelength, and
// per scan its axes' positions and its lists of numbers, each number
// converted where it stands in the text.
class Builder : public XmlScanner<Builder> {
 public:
  explicit Builder(std::string_view text) : XmlScanner(text) {}
  explicit Builder(FileSource& source) : XmlScanner(source) {}

  Result<XrdmlFile> run() {
    if (Outcome scanned = scan(); !scanned.ok()) return scanned.error();
    if (file_.scans.empty()) return fail(ErrorKind::kParseError, "no scan in the file");
    if (have_alpha1_)
      file_.wavelength = have_alpha2_ && have_ratio_
                             ? (file_.k_alpha1 + file_.ratio * file_.k_alpha2) / (1.0 + file_.ratio)
                             : file_.k_alpha1;
    if (!std::isfinite(file_.wavelength))
      return fail(ErrorKind::kParseError,
                  "the wavelength (kAlpha1 + ratio kAlpha2) / (1 + ratio) is too large to compute");
    Result<XrdmlFile> r(std::move(file_));
    if (!have_alpha1_) r.add_warning("no kAlpha1 wavelength in the file, wavelength = 0");
    return r;
  }

 private:
  friend class XmlScanner<Builder>;

  bool reading_numbers() const { return field_ != Field::kNone; }

  Outcome first_element(std::string_view raw, std::string_view name) {
    if (!same(name, "xrdMeasurements"))
      return fail(ErrorKind::kParseError,
                  "not an XRDML file: its first element is <" + shown(raw) + ">, not <xrdMeasurements>");
    return Done{};
  }

  // The children of <dataPoints> are a scan's positions and numbers.
  static bool marks(std::string_view name) { return same(name, "dataPoints"); }

  // The factor to Angstrom of a wavelength's unit attribute: the files write "Angstrom"; "nm" is
  // converted; anything else would be a wavelength read in the wrong unit, and is refused.
  Result<double> wavelength_unit_scale(const char* line) {
    const std::string unit = attribute("unit");
    if (unit.empty() || equal_case_blind(unit, "Angstrom") || equal_case_blind(unit, "A")) return 1.0;
    if (equal_case_blind(unit, "nm")) return 10.0;
    return fail(ErrorKind::kUnsupported, std::string(line) + " is in \"" + shown(unit) + "\": Angstrom or nm expected");
  }

  // A wavelength line: its unit's factor, then its number.
  Outcome begin_wavelength(const char* line, Field f) {
    const Result<double> scale = wavelength_unit_scale(line);
    if (!scale.ok()) return scale.error();
    wavelength_scale_ = *scale;
    begin_single(f);
    return Done{};
  }

  Outcome start_element(std::string_view name, std::size_t depth, bool in_data_points) {
    if (same(name, "usedWavelength")) {
      file_.intended_wavelength = attribute("intended");
      return Done{};
    }
    if (same(name, "kAlpha1")) return begin_wavelength("kAlpha1", Field::kAlpha1);
    if (same(name, "kAlpha2")) return begin_wavelength("kAlpha2", Field::kAlpha2);
    if (same(name, "kBeta")) return begin_wavelength("kBeta", Field::kBeta);
    if (same(name, "ratioKAlpha2KAlpha1")) {
      begin_single(Field::kRatio);
    } else if (same(name, "scan")) {
      if (scan_depth_ != 0) return malformed("a <scan> inside a <scan>");
      scan_depth_ = depth;
      scan_ = XrdmlScan{};
      scan_.number = static_cast<int>(file_.scans.size()) + 1;
      // The scans of a file mostly give the same axes as the one before.
      if (!file_.scans.empty()) scan_.axes.reserve(file_.scans.back().axes.size());
      scan_.scan_axis = attribute("scanAxis");
      counts_.clear();
      have_intensities_ = have_counts_ = have_attenuation_ = have_times_ = false;
    } else if (scan_depth_ != 0 && in_data_points) {
      if (same(name, "positions")) {
        axis_depth_ = depth;
        axis_ = XrdmlAxis{};
        axis_.name = attribute("axis");
        axis_.unit = attribute("unit");
        have_start_ = have_end_ = have_common_ = have_list_ = false;
      } else if (same(name, "intensities")) {
        return begin_list(Field::kIntensities, scan_.values, have_intensities_, "intensities");
      } else if (same(name, "counts")) {
        return begin_list(Field::kCounts, counts_, have_counts_, "counts");
      } else if (same(name, "beamAttenuationFactors")) {
        return begin_list(Field::kAttenuation, scan_.attenuation, have_attenuation_, "attenuation factors");
      } else if (same(name, "countingTimes")) {
        return begin_list(Field::kTimes, scan_.counting_times, have_times_, "counting times");
      } else if (same(name, "commonCountingTime")) {
        begin_single(Field::kCommonTime);
      }
    } else if (axis_depth_ != 0 && depth == axis_depth_ + 1) {
      if (same(name, "startPosition")) {
        begin_single(Field::kStart);
      } else if (same(name, "endPosition")) {
        begin_single(Field::kEnd);
      } else if (same(name, "commonPosition")) {
        begin_single(Field::kCommon);
      } else if (same(name, "listPositions")) {
        return begin_list(Field::kList, axis_.list, have_list_, "positions");
      }
    }
    return Done{};
  }

  void begin_single(Field f) {
    field_ = f;
    single_.clear();
    target_ = &single_;
  }

  Outcome begin_list(Field f, std::vector<double>& into, bool& given, const char* what) {
    if (given)
      return fail(ErrorKind::kParseError, scan_prefix() + "it gives its " + what +
                                              (f == Field::kList ? " of axis " + shown(axis_.name) : "") + " twice");
    given = true;
    field_ = f;
    target_ = &into;
    counted_ = false;  // the list is sized when its numbers are first read
    return Done{};
  }

  // Room for exactly the numbers up to the next '<', counted before any is
  // converted: no growing, no copies, and no memory taken beyond the result.
  // When the buffer ends before the '<' it is refilled first if that brings
  // the rest in; a list longer than that is counted by reading ahead.
  Step size_list() {
    const void* lt = std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_));
    if (!lt && !at_end_ && source_->refill_helps(p_, end_)) return Got::kCut;
    const char* stop = lt ? static_cast<const char*>(lt) : end_;
    bool ink_before = false;
    std::size_t words = count_words(p_, static_cast<std::size_t>(stop - p_), ink_before);
    if (!lt && !at_end_) words += source_->words_ahead(ink_before);
    target_->reserve(target_->size() + words);
    counted_ = true;
    return Got::kAll;
  }

  Outcome end_element(std::size_t depth) {
    if (field_ != Field::kNone)
      if (Outcome ended = end_field(); !ended.ok()) return ended;
    if (depth == axis_depth_) {
      Outcome ended = end_axis();
      axis_depth_ = 0;
      return ended;
    }
    if (depth == scan_depth_) {
      Outcome ended = end_scan();
      scan_depth_ = 0;
      return ended;
    }
    return Done{};
  }

  std::string scan_prefix() const { return scan_depth_ ? "scan " + std::to_string(scan_.number) + ": " : ""; }

  // What the element being read holds, for messages.
  std::string field_name() const {
    switch (field_) {
      case Field::kAlpha1:
        return "kAlpha1";
      case Field::kAlpha2:
        return "kAlpha2";
      case Field::kBeta:
        return "kBeta";
      case Field::kRatio:
        return "ratioKAlpha2KAlpha1";
      case Field::kStart:
        return "start position of axis " + shown(axis_.name);
      case Field::kEnd:
        return "end position of axis " + shown(axis_.name);
      case Field::kCommon:
        return "common position of axis " + shown(axis_.name);
      case Field::kList:
        return "position of axis " + shown(axis_.name);
      case Field::kIntensities:
        return "intensity";
      case Field::kCounts:
        return "count";
      case Field::kAttenuation:
        return "attenuation factor";
      case Field::kCommonTime:
      case Field::kTimes:
        return "counting time";
      case Field::kNone:
        break;
    }
    return {};
  }

  bool signed_field() const {
    return field_ == Field::kStart || field_ == Field::kEnd || field_ == Field::kCommon || field_ == Field::kList;
  }

  Step bad_number(const char* s) {
    const char* q = s;
    while (q != end_ && !is_space(*q) && *q != '<' && q - s <= 40) ++q;
    if (q == end_ && !at_end_) {
      p_ = s;  // the message shows the word as the file has it, not as the buffer cut it
      return Got::kCut;
    }
    const std::string token = quote_for_message(std::string_view(s, static_cast<std::size_t>(q - s)), 40);
    std::string where = scan_prefix();
    if (!single_value(field_)) {
      where = scan_depth_
                  ? "scan " + std::to_string(scan_.number) + ", point " + std::to_string(target_->size() + 1) + ": "
                  : where;
    }
    return fail(ErrorKind::kParseError, where + field_name() + " " + token + " is not a plain " +
                                            (signed_field() ? "number" : "non-negative number"));
  }

  // The numbers up to the next '<', appended to the element's list.
  Step read_numbers() {
    if (!counted_)
      if (Step sized = size_list(); stops(sized)) return sized;
    const char* p = p_;
    std::vector<double>& out = *target_;
    const bool negative_allowed = signed_field();
    for (;;) {
      while (p != end_ && is_space(*p)) ++p;
      if (p == end_ || *p == '<') break;
      const char* s = p;
      const bool negative = *p == '-';
      if (negative) {
        if (!negative_allowed) return bad_number(s);
        ++p;
      }
      // Up to 15 significant digits: the digits and the power of ten are
      // exact doubles, so one division rounds as the general conversion does.
      if constexpr (std::endian::native == std::endian::little) {
        if (end_ - p >= 24) {
          // Eight bytes at a time when the buffer holds enough after p: up
          // to 8 digits, a point and up to 7 more (15 in all).
          std::uint64_t w = 0;
          std::memcpy(&w, p, 8);
          const int whole = leading_digits(w);
          const char* q = p + whole;
          if (whole < 8 || !is_digit(*q)) {
            std::uint64_t mantissa = whole ? digits_value(w, whole) : 0;
            int decimals = 0;
            if (*q == '.') {
              std::memcpy(&w, q + 1, 8);
              decimals = std::min(leading_digits(w), 15 - whole);
              if (decimals > 0) mantissa = mantissa * kPowersOf10[decimals] + digits_value(w, decimals);
              q += 1 + decimals;
            }
            if (whole + decimals > 0 && (is_space(*q) || *q == '<')) {
              double v = static_cast<double>(mantissa);
              if (decimals > 0) v /= kPowersOfTen[decimals];
              out.push_back(negative ? -v : v);
              p = q;
              continue;
            }
          }
        }
      }
      std::uint64_t mantissa = 0;
      int count = 0, decimals = 0;
      while (p != end_ && is_digit(*p) && count < 15) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
        ++count;
      }
      if (p != end_ && *p == '.') {
        ++p;
        while (p != end_ && is_digit(*p) && count < 15) {
          mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
          ++count;
          ++decimals;
        }
      }
      if (p == end_ && !at_end_) {
        p_ = s;  // the number may go on past the buffer
        return Got::kCut;
      }
      if (count > 0 && (p == end_ || is_space(*p) || *p == '<')) {
        double v = static_cast<double>(mantissa);
        if (decimals > 0) v /= kPowersOfTen[decimals];
        out.push_back(negative ? -v : v);
        continue;
      }
      // Longer numbers, and exponents, the general way.
      double v = 0.0;
      const auto r = read_decimal(s, end_, v);
      if (r.ptr == end_ && !at_end_) {
        p_ = s;
        return Got::kCut;
      }
      if (r.ec != std::errc() || (r.ptr != end_ && !is_space(*r.ptr) && *r.ptr != '<')) return bad_number(s);
      out.push_back(v);
      p = r.ptr;
      p_ = p;
    }
    p_ = p;
    return Got::kAll;
  }

  Outcome end_field() {
    const Field f = field_;
    if (single_value(f) && single_.size() != 1)
      return fail(ErrorKind::kParseError,
                  scan_prefix() + field_name() + (single_.empty() ? " is empty" : " holds more than one number"));
    field_ = Field::kNone;
    target_ = nullptr;
    counted_ = true;
    if (!single_value(f)) return Done{};
    const double v = single_.front();
    switch (f) {
      case Field::kAlpha1:
        file_.k_alpha1 = v * wavelength_scale_;
        have_alpha1_ = true;
        break;
      case Field::kAlpha2:
        file_.k_alpha2 = v * wavelength_scale_;
        have_alpha2_ = true;
        break;
      case Field::kBeta:
        file_.k_beta = v * wavelength_scale_;
        break;
      case Field::kRatio:
        file_.ratio = v;
        have_ratio_ = true;
        break;
      case Field::kStart:
        axis_.start = v;
        have_start_ = true;
        break;
      case Field::kEnd:
        axis_.end = v;
        have_end_ = true;
        break;
      case Field::kCommon:
        axis_.start = axis_.end = v;
        have_common_ = true;
        break;
      case Field::kCommonTime:
        scan_.common_time = v;
        scan_.has_common_time = true;
        break;
      default:
        break;
    }
    return Done{};
  }

  Outcome end_axis() {
    const auto bad = [this](const char* what) {
      return fail(ErrorKind::kParseError, scan_prefix() + "axis " + shown(axis_.name) + " " + what);
    };
    if (axis_.name.empty()) return fail(ErrorKind::kParseError, scan_prefix() + "positions without an axis name");
    if (scan_.axis(axis_.name)) return bad("is given twice");
    const int forms = (have_list_ ? 1 : 0) + (have_common_ ? 1 : 0) + (have_start_ || have_end_ ? 1 : 0);
    if (forms == 0) return bad("gives no position");
    if (forms > 1) return bad("gives its positions in more than one way");
    if (have_start_ != have_end_) return bad(have_start_ ? "has no end position" : "has no start position");
    axis_.form = have_list_ ? XrdmlPositions::kList : have_common_ ? XrdmlPositions::kCommon : XrdmlPositions::kRange;
    if (Outcome degrees = angle_in_degrees(); !degrees.ok()) return degrees;
    scan_.axes.push_back(std::move(axis_));
    return Done{};
  }

  // An angle in radians becomes one in degrees, the unit every caller reads
  // angles in; an angle in any other unit would be read wrongly and is refused.
  // The stage's linear axes (X, Y, Z: mm) keep their unit.
  Outcome angle_in_degrees() {
    const bool radians = equal_case_blind(axis_.unit, "rad");
    if (!radians) {
      constexpr std::string_view kAngles[] = {"2Theta", "Theta", "Omega", "Phi", "Psi", "Chi", "Omega-2Theta",
                                              "2Theta-Omega"};
      const bool angle = std::any_of(std::begin(kAngles), std::end(kAngles),
                                     [this](std::string_view a) { return equal_case_blind(axis_.name, a); });
      if (angle && !axis_.unit.empty() && !equal_case_blind(axis_.unit, "deg"))
        return fail(ErrorKind::kUnsupported, scan_prefix() + "axis " + shown(axis_.name) + " is in \"" + shown(axis_.unit) +
                                          "\": deg or rad expected");
      return Done{};
    }
    constexpr double kDegrees = 180.0 / std::numbers::pi;
    axis_.start *= kDegrees;
    axis_.end *= kDegrees;
    for (double& x : axis_.list) x *= kDegrees;
    axis_.unit = "deg";
    return Done{};
  }

  Outcome end_scan() {
    if (have_intensities_) {
      scan_.raw_counts = false;
    } else if (have_counts_) {
      scan_.values = std::move(counts_);
      scan_.raw_counts = true;
    } else {
      return fail(ErrorKind::kParseError, scan_prefix() + "it holds neither intensities nor counts");
    }
    if (scan_.axes.empty()) return fail(ErrorKind::kParseError, scan_prefix() + "it gives no positions");
    const std::size_t n = scan_.values.size();
    const auto mismatch = [&](std::size_t given, const char* what) {
      return fail(ErrorKind::kParseError,
                  scan_prefix() + std::to_string(given) + " " + what + " for " + std::to_string(n) + " points");
    };
    if (have_attenuation_ && scan_.attenuation.size() != n)
      return mismatch(scan_.attenuation.size(), "attenuation factors");
    if (have_times_ && scan_.counting_times.size() != n) return mismatch(scan_.counting_times.size(), "counting times");
    for (const XrdmlAxis& a : scan_.axes)
      if (a.form == XrdmlPositions::kList && a.list.size() != n)
        return fail(ErrorKind::kParseError, scan_prefix() + "axis " + shown(a.name) + " has " +
                                                std::to_string(a.list.size()) + " positions for " + std::to_string(n) +
                                                " points");
    file_.scans.push_back(std::move(scan_));
    scan_ = XrdmlScan{};
    return Done{};
  }

  XrdmlFile file_;
  bool have_alpha1_ = false, have_alpha2_ = false, have_ratio_ = false;
  double wavelength_scale_ = 1.0;  // to Angstrom, from the line's unit

  std::size_t scan_depth_ = 0;  // depth of the open <scan>, 0 outside one
  XrdmlScan scan_;
  std::vector<double> counts_;
  bool have_intensities_ = false, have_counts_ = false, have_attenuation_ = false, have_times_ = false;

  std::size_t axis_depth_ = 0;  // depth of the open <positions>, 0 outside one
  XrdmlAxis axis_;
  bool have_start_ = false, have_end_ = false, have_common_ = false, have_list_ = false;

  Field field_ = Field::kNone;  // the numeric element being read
  std::vector<double>* target_ = nullptr;
  bool counted_ = true;  // target_ has room for the numbers of its element
  std::vector<double> single_;
};

}  // namespace

namespace {

// A parse run by `run`; memory that runs out (the lists of a file's numbers
// can be as large as the file) as the error.
template <typename Run>
Result<XrdmlFile> parse(Run run) {
  try {
    return run();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return make_error(ErrorKind::kOutOfMemory, "out of memory");
}

}  // namespace

Result<XrdmlFile> parse_xrdml(std::string_view text) {
  return parse([&] { return Builder(text).run(); });
}

Result<XrdmlFile> read_xrdml_file(const std::string& path, const XrdmlReadOptions& options) {
  const std::string name = escape_for_message(path, 4096);
  // A file that may not fit in memory twice is as good as too large.
  Result<RegularFile> file = RegularFile::open(path, std::min<std::uint64_t>(options.max_file_size, SIZE_MAX / 2));
  if (!file.ok()) {
    switch (file.kind()) {
      case ErrorKind::kNotFound:
        return make_error(ErrorKind::kNotFound, "file not found: " + name);
      case ErrorKind::kInvalidArgument:
        return make_error(ErrorKind::kIoError, "not a regular file: " + name);
      case ErrorKind::kOutOfRange:
        return make_error(ErrorKind::kIoError,
                          "file larger than " + std::to_string(options.max_file_size) + " bytes: " + name);
      default:
        return make_error(ErrorKind::kIoError, "cannot read file: " + name);
    }
  }
  return parse([&] {
    FileSource source(*file, options.read_size, options.stop);
    return Builder(source).run();
  });
}

}  // namespace talvo
