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
#include "talvo/xray/compton.hpp"
#include "talvo/xray/dispersion.hpp"

namespace talvo::pdf {

struct SampleModelOptions {
  std::string composition;               // a chemical formula
  std::optional<double> density;         // g/cm3 of the material
  std::optional<double> number_density;  // atoms per cubic Angstrom of the material
  double packing = 1.0;                  // the powder's share of the volume: scales mu only
  double wavelength = 0.0;               // Angstrom; 0: no dispersion, no recoil factor, no mu
  IncoherentModel compton = IncoherentModel::kHubbell;
  int breit_dirac = 3;  // n of the recoil factor (lambda / lambda')^n: 2 or 3; 0: none
};

struct SampleModel {
  std::vector<double> f2;                // <|f|^2> per atom, electrons^2
  std::vector<double> f_mean_sq;         // |<f>|^2
  std::vector<double> compton;           // incoherent scattering per atom, electron units, with its recoil factor
  double z_mean = 0.0;                   // <f(0)>: electrons per atom
  std::optional<double> energy;          // keV of the wavelength, where dispersion was applied
  std::optional<DispersionTable> f_table;  // the table of f', f'' and of mu's photoabsorption, with an energy
  std::optional<double> number_density;  // atoms per cubic Angstrom
  std::optional<double> mu;              // 1/cm of the packed powder (photoabsorption, Rayleigh and
                                         // Compton), when the density and the wavelength are known
};

// The sample's averages on the Q grid (1/Angstrom): the form factors with
// f' and f'' at the wavelength's energy, Henke's to 30 keV and Chantler's
// FFAST above (without them, with a warning, beyond 432.9 keV), Compton scattering from the chosen
// table with the Breit-Dirac factor, mu from the X-ray material.
Result<SampleModel> sample_model(std::span<const double> q, const SampleModelOptions& options);

}  // namespace talvo::pdf
