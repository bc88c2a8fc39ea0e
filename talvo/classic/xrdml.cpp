#include "talvo/classic/xrdml.hpp"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "talvo/classic/files.hpp"
#include "talvo/classic/print.hpp"
#include "talvo/classic/words.hpp"
#include "talvo/files/files.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::classic {

bool keyword_found(std::string_view record, std::string_view keyword) {
  const auto lt = record.find('<');
  if (lt == std::string_view::npos) return false;
  return record.substr(lt + 1).substr(0, keyword.size()) == keyword && record.size() - lt - 1 >= keyword.size();
}

bool keyword_search(std::string_view record, std::string_view keyword, std::vector<int>& positions) {
  count_keyword(record, '<', positions);
  return keyword_found(record, keyword);
}

int count_keyword(std::string_view record, char c, std::vector<int>& positions) {
  positions.clear();
  for (std::size_t i = 0; i < record.size(); ++i)
    if (record[i] == c) positions.push_back(static_cast<int>(i) + 1);
  return static_cast<int>(positions.size());
}

std::string_view get_values_xrdml(std::string_view record) {
  const auto gt = record.find('>');
  if (gt == std::string_view::npos) return {};
  std::string_view rest = record.substr(gt + 1);
  return rest.substr(0, rest.find('<'));
}

namespace {

struct Scan {
  std::size_t start_record = 0;
  std::size_t end_record = 0;
  double start = 0.0, end = 0.0, step = 0.0, time = 0.0;
  std::size_t points = 0;
};

XrdmlResult failure(XrdmlResult r, int code, const std::string& message) {
  r.status = Status::error(code, message);
  return r;
}

bool blank(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

// The records of the content, without line ends, a CR before the LF or a
// byte-order mark at the start.
std::vector<std::string_view> split_records(std::string_view content) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  std::vector<std::string_view> recs;
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t nl = content.find('\n', pos);
    if (nl == std::string_view::npos) nl = content.size();
    std::string_view r = content.substr(pos, nl - pos);
    if (!r.empty() && r.back() == '\r') r.remove_suffix(1);
    recs.push_back(r);
    pos = nl + 1;
  }
  return recs;
}

bool read_value(std::string_view record, double& v) { return read_free(get_values_xrdml(record), {&v}); }

// "/scan" ends a scan only as a whole tag name: "</scanAxisCenter>" does not.
bool scan_end(std::string_view record) {
  if (!keyword_found(record, "/scan")) return false;
  const std::size_t after = record.find('<') + 6;
  return after >= record.size() || record[after] == '>' || record[after] == ' ' || record[after] == '\t';
}

// The error `code` into r: false, for the caller to return r as it stands.
bool refuse(XrdmlResult& r, int code, const std::string& message) {
  r.status = Status::error(code, message);
  return false;
}

// The records that hold a scan's counts ("intensities" or "counts"), in order.
bool find_intensities(const std::vector<std::string_view>& table, std::vector<std::string_view>& intensities,
                      XrdmlResult& r) {
  for (const std::string_view rec : table) {
    if (keyword_found(rec, "intensities") || keyword_found(rec, "counts")) {
      if (static_cast<int>(intensities.size()) == kXrdmlMaxScans) return refuse(r, 8, "Too many scans in file");
      intensities.push_back(rec);
    }
  }
  return true;
}

// What the scan pass finds: the wavelength's parts, each scan's first and
// last record, and how many scan ends there are.
struct Layout {
  double k_alpha1 = 0.0, k_alpha2 = 0.0, ratio = 0.0;
  bool have_wavelength = false;
  std::vector<Scan> scans;
  std::size_t ends = 0;
};

// The scan pass: the wavelength's tags, and where each scan starts and ends.
bool find_scans(const std::vector<std::string_view>& table, Layout& l, XrdmlResult& r) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    const std::string_view rec = table[i];
    if (blank(rec) || rec.find('<') == std::string_view::npos) continue;
    if (keyword_found(rec, "kAlpha1 unit=\"Angstrom\"")) {
      if (!read_value(rec, l.k_alpha1)) return refuse(r, 5, "Problem reading wavelength");
      l.have_wavelength = true;
    } else if (keyword_found(rec, "kAlpha2 unit=\"Angstrom\"")) {
      if (!read_value(rec, l.k_alpha2)) return refuse(r, 5, "Problem reading wavelength");
    } else if (keyword_found(rec, "ratioKAlpha2KAlpha1")) {
      if (!read_value(rec, l.ratio)) return refuse(r, 5, "Problem reading wavelength");
    } else if (keyword_found(rec, "scan ")) {
      if (static_cast<int>(l.scans.size()) == kXrdmlMaxScans) return refuse(r, 8, "Too many scans in file");
      l.scans.push_back(Scan{i, 0, 0, 0, 0, 0, 0});
    } else if (scan_end(rec)) {
      if (static_cast<int>(l.ends) == kXrdmlMaxScans) return refuse(r, 8, "Too many scans in file");
      if (l.ends < l.scans.size()) l.scans[l.ends].end_record = i;
      ++l.ends;
    }
  }
  return true;
}

enum class Tags { kFound, kNone, kUnreadable };

// The 2-theta range and counting time from the tags between the scan's
// first and last record; kNone when there is no tag there at all.
Tags read_scan_tags(const std::vector<std::string_view>& table, Scan& s, XrdmlResult& r) {
  bool tagged = false;
  for (std::size_t rr = s.start_record + 1; rr < s.end_record; ++rr) {
    const std::string_view rec = table[rr];
    if (blank(rec) || rec.find('<') == std::string_view::npos) continue;
    tagged = true;
    if (keyword_found(rec, "positions axis=\"2Theta\"")) {
      if (rr + 2 >= table.size() || !read_value(table[rr + 1], s.start) || !read_value(table[rr + 2], s.end)) {
        refuse(r, 4, "Problem reading x-axis");
        return Tags::kUnreadable;
      }
    } else if (keyword_found(rec, "commonCountingTime unit=\"seconds\"")) {
      if (!read_value(rec, s.time)) {
        refuse(r, 6, "Problem reading counting time");
        return Tags::kUnreadable;
      }
    }
  }
  return tagged ? Tags::kFound : Tags::kNone;
}

// Scan k's counts from its intensity record straight into y: the chosen
// scan's as they are, or (scan_choice 0) added to the sum, with the scan's
// counting time added beside each point. Sets the scan's points and step.
bool read_counts(std::string_view record, std::size_t k, int scan_choice, std::size_t limit, Scan& s,
                 std::span<double> y, std::vector<double>& time, XrdmlResult& r) {
  const std::string_view values = get_values_xrdml(record);
  const classic::WordPositions w = classic::count_word(values);
  if (static_cast<std::size_t>(w.count) > limit) return refuse(r, 9, "Too many data points");
  const bool chosen = k + 1 == static_cast<std::size_t>(scan_choice);
  for (int j = 1; j <= w.count; ++j) {
    double count = 0.0;
    if (!read_free(classic::word_text(values, w, j), {&count}))
      return refuse(r, 15, "Intensity value is not a number in scan " + free_int(static_cast<long long>(k + 1)));
    const auto i = static_cast<std::size_t>(j - 1);
    if (scan_choice == 0) {
      y[i] += count;
      time[i] += s.time;
    } else if (chosen) {
      y[i] = count;
    }
  }
  s.points = static_cast<std::size_t>(w.count);
  if (w.count >= 2) s.step = (s.end - s.start) / (w.count - 1);
  return true;
}

// Every scan's tags and counts; a scan the result uses needs two points.
bool read_scans(const std::vector<std::string_view>& table, const std::vector<std::string_view>& intensities,
                int scan_choice, std::size_t limit, std::vector<Scan>& scans, std::span<double> y,
                std::vector<double>& time, XrdmlResult& r) {
  for (std::size_t k = 0; k < scans.size(); ++k) {
    const Tags tags = read_scan_tags(table, scans[k], r);
    if (tags == Tags::kUnreadable) return false;
    if (tags == Tags::kNone) continue;
    if (!read_counts(intensities[k], k, scan_choice, limit, scans[k], y, time, r)) return false;
  }
  for (std::size_t k = 0; k < scans.size(); ++k)
    if (scans[k].points < 2 && (scan_choice == 0 || k + 1 == static_cast<std::size_t>(scan_choice)))
      return refuse(r, 16, "Scan " + free_int(static_cast<long long>(k + 1)) + " has fewer than two points");
  return true;
}

// x and e of the chosen scan, and y divided by its counting time for counts
// per second.
void chosen_scan(const Scan& s, int norm_mode, std::span<double> x, std::span<double> y, std::span<double> e,
                 XrdmlResult& r) {
  const double div = norm_mode == 1 ? s.time : 1.0;
  r.points = static_cast<int>(s.points);
  for (std::size_t j = 0; j < s.points; ++j) {
    x[j] = s.start + static_cast<double>(j) * s.step;
    e[j] = std::sqrt(y[j]) / div;
    y[j] /= div;
  }
}

// x and e of the sum of the scans, and y divided by the summed counting time
// for counts per second; false for scans whose angles do not agree.
bool summed_scans(const std::vector<Scan>& scans, const std::vector<double>& time, int norm_mode, std::span<double> x,
                  std::span<double> y, std::span<double> e, XrdmlResult& r) {
  const Scan& first = scans.front();
  // Both ways: a scan starting below the first one would be summed point by
  // point with angles that do not belong together.
  for (std::size_t k = 1; k < scans.size(); ++k)
    if (std::fabs(scans[k].start - first.start) > 1.0e-4 * std::fabs(first.start) ||
        std::fabs(scans[k].step - first.step) > 1.0e-4 * std::fabs(first.step))
      return refuse(r, 10, "Incompatible scans");
  std::size_t n = 0;
  for (const Scan& s : scans) n = std::max(n, s.points);
  r.points = static_cast<int>(n);
  // A point beyond a scan's own length has taken only the scans that reach it.
  for (std::size_t j = 0; j < n; ++j) {
    x[j] = first.start + static_cast<double>(j) * first.step;
    e[j] = std::sqrt(y[j]);
    if (norm_mode == 1) {
      y[j] /= time[j];
      e[j] /= time[j];
    }
  }
  return true;
}

// Huge positions or counts can leave the double range, and a counting
// time of 0 divides by zero: such a point is refused, never returned.
bool all_points_finite(std::span<const double> x, std::span<const double> y, XrdmlResult& r) {
  for (std::size_t j = 0; j < static_cast<std::size_t>(r.points); ++j)
    if (!std::isfinite(x[j]) || !std::isfinite(y[j])) {
      const int points = r.points;
      r.points = 0;
      return refuse(
          r, 18, "Value out of range at point " + free_int(static_cast<long long>(j + 1)) + " of " + free_int(points));
    }
  return true;
}

void print_summary(const XrdmlResult& r, const Layout& l, std::span<const double> x, std::span<const double> y,
                   std::span<const double> e, std::ostream& out) {
  const auto last = static_cast<std::size_t>(r.points - 1);
  classic::pr_int(out, "readxrdml: Number of points = ", r.points);
  classic::pr_dpar_3(out, "readxrdml: First point x=", x[0], " y=", y[0], " e=", e[0]);
  classic::pr_dpar_3(out, "readxrdml: Last point  x=", x[last], " y=", y[last], " e=", e[last]);
  classic::pr_dpar(out, "readxrdml: kAlpha1 = ", l.k_alpha1);
  classic::pr_dpar(out, "readxrdml: kAlpha2 = ", l.k_alpha2);
  classic::pr_dpar(out, "readxrdml: ratioKAlpha2KAlpha1 = ", l.ratio);
  classic::pr_dpar(out, "readxrdml: Lambda = ", r.wavelength);
}

}  // namespace

XrdmlResult readxrdml(const std::string& file_name, std::span<double> x, std::span<double> y, std::span<double> e,
                      int scan_choice, int norm_mode, int print_level, std::ostream& out) {
  XrdmlResult r;
  // A missing file is code 11; a FIFO, a device or a folder is no XRDML file to read (code 1, below).
  if (const Outcome found = check_regular_file(file_name); !found.ok() && found.kind() == ErrorKind::kNotFound)
    return failure(r, 11, "file not found: " + file_name);
  // Read, not mapped: a file cut short by another process meanwhile is a
  // read error, never a SIGBUS.
  const Result<FileContent> file = FileContent::open(file_name);
  if (!file.ok())
    return failure(
        r, 1,
        "Error reading XRDML file: " +
            (file.kind() == ErrorKind::kInvalidArgument ? "not a regular file: " + file_name : file.error().message));
  const std::string_view content = file->text();
  // The file is measured on the content already read, so that it is read once.
  RecordCounter counter;
  counter.feed(content);
  const RecordCounts measured = counter.finish();
  classic::report_records(measured, print_level, out);
  if (print_level == 1) out << " calling readxrdml2\n";
  return readxrdml2(content, measured.records, measured.max_length, x, y, e, scan_choice, norm_mode, print_level, out);
}

XrdmlResult readxrdml2(std::string_view content, long long records, long long max_length, std::span<double> x,
                       std::span<double> y, std::span<double> e, int scan_choice, int norm_mode, int print_level,
                       std::ostream& out) {
  (void)max_length;  // records are views of the content, whatever their length
  XrdmlResult r;
  if (scan_choice < 0) return failure(r, 3, "Invalid mode = " + fmt_i(scan_choice, classic::len_int(scan_choice)));
  if (norm_mode != 0 && norm_mode != 1) return failure(r, 7, "Unrecognised normalisation mode");
  const bool progress = print_level == 1;
  if (progress) out << " opening xrdml file\n";
  const std::vector<std::string_view> table = split_records(content);
  if (static_cast<long long>(table.size()) < records) return failure(r, 1, "Error reading XRDML file: ");

  // Record pass. Every record is there whole, however long, so none is cut
  // and none draws a warning for its length.
  std::vector<std::string_view> intensities;
  if (!find_intensities(table, intensities, r)) return r;
  if (progress) out << " closing xrdml file\n searching for scans\n";

  Layout layout;
  if (!find_scans(table, layout, r)) return r;
  std::vector<Scan>& scans = layout.scans;
  r.wavelength =
      layout.have_wavelength ? (layout.k_alpha1 + layout.ratio * layout.k_alpha2) / (1.0 + layout.ratio) : 0.0;
  if (scans.size() != layout.ends)
    return failure(r, 2,
                   "Number of scan starts " + fmt_i(static_cast<long long>(scans.size()), 0) +
                       " not equal to number of scan ends " + fmt_i(static_cast<long long>(layout.ends), 0));
  r.scans = static_cast<int>(scans.size());
  if (print_level > 0) classic::pr_int(out, "readxrdml: Number of scans = ", r.scans);
  // Nothing found is a file this routine cannot read (not XRDML, or not one
  // tag per line), never an empty success.
  if (scans.empty()) return failure(r, 17, "No scan in file");
  if (scans.size() != intensities.size()) return failure(r, 13, "Inconsistency in number of scans");
  if (scan_choice > r.scans)
    return failure(r, 3, "Invalid mode = " + fmt_i(scan_choice, classic::len_int(scan_choice)));

  if (progress) out << " getting data\n";
  const std::size_t capacity = std::min({x.size(), y.size(), e.size()});
  const std::size_t limit = std::min<std::size_t>(capacity, kXrdmlMaxPoints);
  // The counts go straight into y as they are read: the chosen scan's, or the
  // sum over the scans with the counting time of each point beside it.
  std::fill(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(limit), 0.0);
  std::vector<double> time(scan_choice == 0 ? limit : 0, 0.0);
  if (!read_scans(table, intensities, scan_choice, limit, scans, y, time, r)) return r;
  if (scan_choice >= 1)
    chosen_scan(scans[static_cast<std::size_t>(scan_choice - 1)], norm_mode, x, y, e, r);
  else if (!summed_scans(scans, time, norm_mode, x, y, e, r))
    return r;
  if (!all_points_finite(x, y, r)) return r;
  if (!layout.have_wavelength && r.status.ok())
    r.status = Status::warning(14, "readxrdml warning: no kAlpha1 wavelength in file, lambda = 0");
  if (print_level > 0 && r.points > 0) print_summary(r, layout, x, y, e, out);
  return r;
}

}  // namespace talvo::classic
