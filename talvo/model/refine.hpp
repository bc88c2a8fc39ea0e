// A structure's G(r) fitted to a measured one by Levenberg-Marquardt
// (numeric/least_squares.hpp), with the parameters' standard deviations.
//
//   residual_i = (G_obs(r_i) - G_calc(r_i)) / sigma_i  over rmin <= r_i <= rmax
//                (sigma_i from the file's dG column, or 1 for every point when it has none)
//   chi2 = sum residual_i^2, reduced chi2 = chi2 / (points - parameters)
//   Rw = sqrt(sum w (G_obs - G_calc)^2 / sum w G_obs^2), w = 1 / sigma^2
//   sigma_k = sqrt(C_kk), C = (J^T W J)^-1 at the minimum (as PDFfit2 and srfit print them);
//   sigma_scaled_k = sigma_k sqrt(reduced chi2): what the misfit says the errors are, when the
//   model or the dG are not the whole truth (G(r)'s points are correlated, so chi2 is not a
//   count of independent points).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "talvo/model/pdf_model.hpp"
#include "talvo/result.hpp"
#include "talvo/structure/cif.hpp"
#include "talvo/structure/structure.hpp"

namespace talvo {

// A measured G(r): r on an equally spaced grid, G, and dG where the file gives it.
struct MeasuredPdf {
  std::vector<double> r, g, dg;  // dg empty: none
  std::string source;
};

// The rows of a G(r) file: after a "#... start data" line where there is
// one (PDFgetX2/N and PDFgetX3 write it), else every row of numbers; "#"
// lines skipped. Columns r G, r G dG, or r G dr dG (PDFgetX2/N's order).
// Errors: kNotFound/kIoError for the file, kParseError for rows of
// differing columns or no rows, kInvalidArgument for fewer than 2 points or
// r not increasing.
Result<MeasuredPdf> read_measured_pdf(const std::string& file);

// One parameter to refine: "scale", "a" ... "gamma" (a moves b and c where
// they equal it in the start; b moves c likewise), "uiso" (every site,
// isotropic), "uiso:S", "occ:S", "x:S" "y:S" "z:S" (where the site's
// symmetry lets the coordinate move; the others it ties move with it),
// "delta1", "delta2", "qdamp", "qbroad", "sratio", "spdiameter". S is a site's
// label or an element (its sites all). start: the value to begin from,
// else the structure's or the options'.
struct RefineParameter {
  std::string name;
  std::optional<double> start;
};

// "a,uiso=0.005,scale" as parameters. kParseError for an empty name or a
// start that is no number.
Result<std::vector<RefineParameter>> parse_refine_list(std::string_view text);

struct RefineOptions {
  ModelOptions model;  // its grid is replaced by the data's points within [rmin, rmax]
  double rmin = 1.5, rmax = 20.0;
  std::vector<RefineParameter> parameters;
  int max_iterations = 100;
};

struct RefinedParameter {
  std::string name;
  double value = 0, sigma = 0, sigma_scaled = 0;
  // It ended held at one of its bounds (occ at 1, qdamp at 0, ...): chi2's
  // curvature there says nothing of its error, so sigma and sigma_scaled are
  // NaN, and a warning names the parameter and the bound.
  bool at_bound = false;
};

struct RefineResult {
  std::vector<RefinedParameter> parameters;
  std::vector<double> correlation;  // n x n by rows
  std::vector<std::string> correlated;  // "a-scale: 0.93" for |correlation| above 0.9
  double rw = 0, chi2 = 0, chi2_reduced = 0;
  std::size_t points = 0;
  int iterations = 0;
  bool converged = false;
  bool unit_weights = false;  // the data had no dG
  std::vector<double> r, g_obs, g_calc;
  Structure structure;  // refined
  // The scaled sigma of what each parameter moved, by the names cif_text
  // writes them under ("a", "b", "uiso:Ni1", "x:O1").
  CifUncertainties uncertainties;
  ModelOptions model;   // refined
};

// Errors: kInvalidArgument for an unknown parameter, a site that is not
// there, a coordinate its symmetry holds, a range with fewer points than
// parameters or data not on an equal grid; the model's errors at the start.
// A fit that ends by its evaluation limit is returned with converged false
// and a warning; so is one with a parameter held at its bound.
Result<RefineResult> refine(const Structure& structure, const MeasuredPdf& data, const RefineOptions& options);

}  // namespace talvo
