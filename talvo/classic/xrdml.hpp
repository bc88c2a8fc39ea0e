// Reader for XRDML powder-diffraction files, record by record: only the first
// tag of each line is looked at.
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/classic/status.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace talvo::classic {

inline constexpr int kXrdmlMaxScans = kXrdmlSummedScans;
inline constexpr int kXrdmlMaxPoints = kXrdmlSummedPoints;

// What a read returns besides the arrays.
struct XrdmlResult {
  double wavelength = 0.0;  // (kAlpha1 + ratio kAlpha2) / (1 + ratio), Angstrom
  int points = 0;
  int scans = 0;
  Status status;
};

// Reads 2-theta (x), intensity (y) and its error (e) of one scan
// (scan_choice k >= 1) or of the sum of all scans (0), as counts (mode 0) or
// counts per second (mode 1). x, y and e must be equally long: their length is
// the most points a scan may have (and never more than 5000).
//
// Codes: 1 read error, 2 unmatched scan tags, 3 invalid scan choice, 4 x axis
// unreadable, 5 wavelength unreadable, 6 counting time unreadable, 7 unknown
// normalisation mode, 8 more than 20 scans, 9 too many points, 10 scans that
// cannot be summed, 11 file not found, 13 scans and intensity records differ
// in number, 14 (warning) no wavelength in the file (lambda 0), 15 an
// intensity that is not a number, 16 a scan with fewer than two points, 17 no
// scan in the file, 18 an x or y that is not finite (positions or counts near
// the double range, or a counting time of 0 with counts per second). After a
// warning the data are returned. Records are used
// whole, however long: code 12, once a warning for records longer than 300
// characters, is not given. Only regular files are read (code 1 otherwise).
XrdmlResult readxrdml(const std::string& file_name, std::span<double> x, std::span<double> y, std::span<double> e,
                      int scan_choice, int norm_mode, int print_level, std::ostream& out);

// The reading itself, on the file's content with its number of records and
// longest record as measured.
XrdmlResult readxrdml2(std::string_view content, long long records, long long max_length, std::span<double> x,
                       std::span<double> y, std::span<double> e, int scan_choice, int norm_mode, int print_level,
                       std::ostream& out);

// True when the record's first tag begins with the keyword; `positions`
// receives the column of every "<".
bool keyword_search(std::string_view record, std::string_view keyword, std::vector<int>& positions);
bool keyword_found(std::string_view record, std::string_view keyword);

// The columns of every occurrence of `c`, and their number.
int count_keyword(std::string_view record, char c, std::vector<int>& positions);

// The element content: after the first ">" up to the next "<".
std::string_view get_values_xrdml(std::string_view record);

}  // namespace talvo::classic
