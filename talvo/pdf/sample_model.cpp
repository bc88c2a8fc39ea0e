#include "talvo/pdf/sample_model.hpp"

#include <cmath>

#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/compton.hpp"
#include "talvo/xray/dispersion.hpp"
#include "talvo/xray/xray_average.hpp"
#include "talvo/xray/xray_material.hpp"

namespace talvo::pdf {

Result<SampleModel> sample_model(std::span<const double> q, const SampleModelOptions& o) {
  if (o.composition.empty())
    return make_error(ErrorKind::kInvalidArgument, "no composition: give the sample's formula (e.g. SiO2)");
  if (o.density && !(*o.density > 0.0 && std::isfinite(*o.density)))
    return make_error(ErrorKind::kInvalidArgument, "the density must be above 0 g/cm3, not " + shortest(*o.density));
  if (o.number_density && !(*o.number_density > 0.0 && std::isfinite(*o.number_density)))
    return make_error(ErrorKind::kInvalidArgument,
                      "the number density must be above 0 atoms/A^3, not " + shortest(*o.number_density));
  if (!(o.packing > 0.0 && o.packing <= 1.0))
    return make_error(ErrorKind::kInvalidArgument, "packing must be above 0 and at most 1, not " + shortest(o.packing));
  if (o.breit_dirac != 0 && o.breit_dirac != 2 && o.breit_dirac != 3)
    return make_error(ErrorKind::kInvalidArgument, "the Breit-Dirac exponent must be 0 (none), 2 or 3");
  std::vector<std::string> warnings;
  XrayAverageOptions xo;
  xo.density = o.density;
  xo.number_density = o.number_density;
  if (o.wavelength > 0.0) {
    const double kev = kHcKevAngstrom / o.wavelength;
    if (kev <= kFfastMaxKev)
      xo.energy = kev;
    else
      warnings.push_back("no dispersion corrections at " + shortest(kev) + " keV, beyond the tables' " +
                         shortest(kFfastMaxKev) + " keV: f' and f'' are left out, and mu must be given");
  }
  Result<XrayAverage> average = xray_average(o.composition, q, xo);
  if (!average.ok()) return with_context(average, "composition " + escape_for_message(o.composition) + ": ");
  for (const std::string& w : average.warnings()) warnings.push_back(w);
  XrayAverage& a = *average;
  SampleModel m;
  m.f2 = std::move(a.f2);
  m.f_mean_sq = std::move(a.f_mean_sq);
  m.z_mean = a.f0_mean;
  m.energy = xo.energy;
  if (xo.energy) m.f_table = a.f_table;
  m.number_density = a.number_density;
  ComptonOptions co;
  co.model = o.compton;
  if (o.wavelength > 0.0) co.wavelength = o.wavelength;
  co.breit_dirac_power = o.breit_dirac;
  Result<std::vector<double>> c = compton(o.composition, q, co);
  if (!c.ok()) return with_context(c, "Compton scattering of " + o.composition + ": ");
  for (const std::string& w : c.warnings()) warnings.push_back(w);
  m.compton = std::move(*c);
  if (xo.energy && a.density) {
    XrayMaterialOptions mo;
    mo.density = *a.density;
    const Result<XrayMaterial> mat = xray_material_from_formula(o.composition, *xo.energy, mo);
    if (mat.ok() && mat->mu_total) m.mu = *mat->mu_total * o.packing;
  }
  return Result<SampleModel>(std::move(m), std::move(warnings));
}

}  // namespace talvo::pdf
