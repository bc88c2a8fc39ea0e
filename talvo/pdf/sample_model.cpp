#include "talvo/pdf/sample_model.hpp"

#include <cmath>

#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/xray_average.hpp"

namespace talvo::pdf {

std::optional<ComptonTable> compton_table_named(std::string_view name) {
  if (equal_case_blind(name, "hubbell")) return ComptonTable::kHubbell;
  if (equal_case_blind(name, "balyuzi")) return ComptonTable::kBalyuzi;
  return std::nullopt;
}

std::string_view compton_table_name(ComptonTable t) { return t == ComptonTable::kBalyuzi ? "balyuzi" : "hubbell"; }

Result<SampleModel> sample_model(std::span<const double> q, const SampleModelOptions& o) {
  if (o.composition.empty())
    return make_error(ErrorKind::kInvalidArgument, "no composition: give --composition FORMULA (e.g. SiO2)");
  if (o.density && !(*o.density > 0.0 && std::isfinite(*o.density)))
    return make_error(ErrorKind::kInvalidArgument, "the density must be above 0 g/cm3, not " + shortest(*o.density));
  if (o.number_density && !(*o.number_density > 0.0 && std::isfinite(*o.number_density)))
    return make_error(ErrorKind::kInvalidArgument,
                      "the number density must be above 0 atoms/A^3, not " + shortest(*o.number_density));
  if (!(o.packing > 0.0 && o.packing <= 1.0))
    return make_error(ErrorKind::kInvalidArgument, "--packing must be above 0 and at most 1, not " + shortest(o.packing));
  XrayAverageOptions xo;
  xo.density = o.density;
  xo.number_density = o.number_density;
  XrayAverage a = xray_average(o.composition, q, xo);
  if (a.status.failed()) {
    const ErrorKind kind = a.status.ierr == kXrayBadFormula ? ErrorKind::kParseError
                           : a.status.ierr == kXrayNoCoefficients ? ErrorKind::kNotFound
                                                                  : ErrorKind::kInvalidArgument;
    return make_error(kind, "--composition " + o.composition + ": " + a.status.message);
  }
  SampleModel m;
  m.f2 = std::move(a.f2);
  m.f_mean_sq = std::move(a.f_mean_sq);
  m.compton.assign(q.size(), 0.0);
  m.z_mean = a.f0_mean;
  m.number_density = a.number_density;
  return m;
}

}  // namespace talvo::pdf
