// A measured powder pattern as the total-scattering reduction takes it in:
// text columns (x, intensity[, sigma]: plain, Fit2D's .chi, the reference
// program's I(Q) output) or an XRDML file, the counting errors, a background
// subtracted, isolated outliers removed, and the move to Q.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo::pdf {

// What the x column of a pattern holds.
enum class Abscissa {
  kTwoTheta,  // 2theta in degrees
  kQA,        // Q in 1/Angstrom
  kQnm,       // Q in 1/nm
};

enum class InputFormat { kXrdml, kTwoTheta, kQA, kQnm };

// "xrdml", "twotheta", "qa", "qnm"; nothing for any other word.
std::optional<InputFormat> input_format_named(std::string_view name);
std::string_view input_format_name(InputFormat format);
// .xrdml (any case) is XRDML, anything else 2theta.
InputFormat input_format_of_path(std::string_view path);

// How the standard deviations of a pattern were found.
enum class SigmaSource {
  kColumn,  // the file's third column
  kCounts,  // sqrt(counts): every intensity is a whole number of counts
  kScaled,  // k sqrt(I), k from the point-to-point scatter: the intensities are not counts
};

struct Pattern {
  Abscissa abscissa = Abscissa::kTwoTheta;
  std::vector<double> x, y, sigma;
  SigmaSource sigma_source = SigmaSource::kColumn;
  double sigma_scale = 1.0;  // k of kScaled
  // From an XRDML file: Kalpha1, the weighted Kalpha mean, Kalpha2 or Kbeta,
  // as the file's usedWavelength intends; nothing for text, or for a file
  // that intends a line it does not give (a warning says so).
  std::optional<double> wavelength;
  std::string wavelength_line;  // "K-Alpha 1", "K-Alpha", "K-Alpha 2", "K-Beta" (XRDML only)
  // The name of the x column where the file's own header states its unit
  // (a .chi file's second line, the #L line of the reference program's
  // output): the abscissa is then the file's, whatever the caller asked.
  // Empty when the caller's abscissa was taken.
  std::string abscissa_label;
  // The x column's name where the header names one that is neither 2theta
  // nor Q (Fit2D's "Radial distance (mm)", pyFAI's "r_mm"): the pattern is
  // then read with the caller's abscissa, which read_input takes only when
  // the format was asked.
  std::string foreign_abscissa;
  // Set when the file is the reference program's I(Q), whose background
  // was subtracted already: what its header says was ("0.0848 x
  // Kapton-bkg.chi").
  std::optional<std::string> subtracted_background;
};

// The x unit a column's name states, for text patterns: 2theta ("2-Theta
// Angle (Degrees)", "2θ", "2th_deg", "2theta (rad)", in degrees or
// radians), Q in 1/nm ("Q (Inverse Nanometres)", "q_nm^-1") or in
// 1/Angstrom ("Q($\AA^{-1}$)", "Q (1/A)", "q_A^-1", "Q (Å⁻¹)"). Nothing when
// the name does not say (a bare "Q", "x", "intensity").
struct StatedAbscissa {
  Abscissa abscissa;
  double scale = 1.0;  // x times this is in the abscissa's unit: 180/pi for 2theta in radians
};
std::optional<StatedAbscissa> abscissa_stated(std::string_view name);

// Text columns: blank lines and comment lines are skipped (lines beginning
// with "#", "'" or "!"), and so are two kinds of header:
//  - a .chi file's (Fit2D): its first four lines, a title, the x and y
//    names and the number of points (when the fourth holds a whole number);
//  - the reference program's (PDFgetX3) output: everything before
//    "#### start data", then "#S" and "#L" (the column names). Only its
//    I(Q) (outputtype = iq) is a pattern; S(Q), F(Q) and G(r) are refused.
// Elsewhere the last comment line before the data names the columns when it
// holds as many words as a row holds numbers (pyFAI's "#  q_A^-1  I").
// A header that states the x unit (abscissa_stated) decides it; otherwise
// it is `abscissa`, and a .chi x name or a pyFAI column name that states
// another unit is kept in foreign_abscissa. Every data line must have the
// same 2 or 3 numbers. With 2 columns the errors are sqrt(counts) when
// every intensity is a whole number >= 0 (with sqrt(1) for a 0), else
// k sqrt(|I|) with k chosen so the differences between neighbouring points
// scatter as the errors say (a warning says so). `source` names the text in messages.
Result<Pattern> parse_text_pattern(std::string_view text, Abscissa abscissa, std::string_view source);

// A pattern of columns held in memory, checked as text rows are (finite
// numbers, x increasing, sigma above 0; at least 3 points) with the same
// errors when `sigma` is empty. `source` names it in messages ("row 5 of
// SOURCE").
Result<Pattern> pattern_of_columns(std::vector<double> x, std::vector<double> y, std::vector<double> sigma,
                                   Abscissa abscissa, std::string_view source);

// An XRDML file's content: its 2theta scans summed (scan 0) or scan K from
// 1; counts with sqrt(counts) errors. Scans summed must share their 2theta.
Result<Pattern> parse_xrdml_pattern(std::string_view content, int scan, std::string_view source);

// Reads a file as the format says (parse_text_pattern, parse_xrdml_pattern).
Result<Pattern> read_pattern(const std::string& path, InputFormat format, int scan = 0);

// Q = 4 pi sin(theta) / lambda in 1/Angstrom of every x; lambda in Angstrom
// is needed for 2theta only.
Result<std::vector<double>> q_of(const Pattern& p, std::optional<double> wavelength);

// The sample less scale times the background, the background interpolated
// (linearly, its errors with the same weights) onto the sample's x. The
// background must be in the same units and cover every sample point.
Result<Pattern> subtract_background(const Pattern& sample, const Pattern& background, double scale);

// The indices of isolated outliers: one point, or two side by side, that
// stand more than `threshold` sigma above the larger of their outer
// neighbours and more than three times the spread of those neighbours above
// them (a Bragg peak sampled with a few points per width rises gradually and
// is kept). Ascending.
std::vector<std::size_t> find_outliers(std::span<const double> y, std::span<const double> sigma,
                                       double threshold = 8.0);

// The pattern without the points at `indices` (ascending).
Pattern without_points(const Pattern& p, std::span<const std::size_t> indices);

}  // namespace talvo::pdf
