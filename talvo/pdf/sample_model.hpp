// What the reduction needs to know of the sample at each Q: the averages of
// the atomic form factors over the composition, the Compton scattering and
// the linear attenuation coefficient, all at the measurement's wavelength.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo::pdf {

enum class ComptonTable { kHubbell, kBalyuzi };
std::optional<ComptonTable> compton_table_named(std::string_view name);
std::string_view compton_table_name(ComptonTable t);

struct SampleModelOptions {
  std::string composition;                 // a chemical formula
  std::optional<double> density;           // g/cm3 of the material
  std::optional<double> number_density;    // atoms per cubic Angstrom of the material
  double packing = 1.0;                    // the powder's share of the volume: scales mu only
  double wavelength = 0.0;                 // Angstrom
  ComptonTable compton = ComptonTable::kHubbell;
};

struct SampleModel {
  std::vector<double> f2;         // <|f|^2> per atom, electrons^2
  std::vector<double> f_mean_sq;  // |<f>|^2
  std::vector<double> compton;    // incoherent scattering per atom, electron units (no recoil factor)
  bool compton_known = false;     // false: no incoherent scattering function available
  double z_mean = 0.0;            // <f(0)>: electrons per atom
  std::optional<double> number_density;  // atoms per cubic Angstrom
  std::optional<double> mu;              // 1/cm of the packed powder, when the density is known
};

// The sample's averages on the Q grid (1/Angstrom).
Result<SampleModel> sample_model(std::span<const double> q, const SampleModelOptions& options);

}  // namespace talvo::pdf
