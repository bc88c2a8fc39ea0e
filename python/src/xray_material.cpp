// talvo.xray_material, talvo.dispersion, talvo.anode_energy and talvo.compton:
// the X-ray API whose routines return Result (errors by kind, warnings as
// TalvoWarning).
#include "talvo/xray/xray_material.hpp"

#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/xray/compton.hpp"
#include "talvo/xray/dispersion.hpp"

namespace talvo::python {
namespace {

struct XrayElementTag {};
struct XrayMaterialTag {};
struct DispersionTag {};

// The keys of xray --json, in its order.
constexpr std::array<Field, 13> kXrayElementFields{{
    {"symbol", Kind::kText},
    {"z", Kind::kInt},
    {"count", Kind::kFloat},
    {"fraction", Kind::kFloat},
    {"f1", Kind::kFloat},
    {"f2", Kind::kFloat},
    {"f_prime", Kind::kFloat},
    {"f_double_prime", Kind::kFloat},
    {"f_rel", Kind::kFloat},
    {"f_nt", Kind::kFloat},
    {"sigma_photo", Kind::kFloat},
    {"sigma_coh", Kind::kFloat},
    {"sigma_incoh", Kind::kFloat},
}};

constexpr std::array<Field, 27> kXrayMaterialFields{{
    {"energy", Kind::kFloat},
    {"wavelength", Kind::kFloat},
    {"formula", Kind::kText},
    {"f_table", Kind::kText},
    {"atoms", Kind::kFloat},
    {"electrons", Kind::kFloat},
    {"mass", Kind::kOptionalFloat},
    {"f1", Kind::kFloat},
    {"f2", Kind::kFloat},
    {"density", Kind::kOptionalFloat},
    {"number_density", Kind::kOptionalFloat},
    {"sld", Kind::kOptionalFloat},
    {"sld_im", Kind::kOptionalFloat},
    {"delta", Kind::kOptionalFloat},
    {"beta", Kind::kOptionalFloat},
    {"critical_angle", Kind::kOptionalFloat},
    {"mu_photo", Kind::kOptionalFloat},
    {"mu_coh", Kind::kOptionalFloat},
    {"mu_incoh", Kind::kOptionalFloat},
    {"mu_total", Kind::kOptionalFloat},
    {"attenuation_length_photo", Kind::kOptionalFloat},
    {"attenuation_length", Kind::kOptionalFloat},
    {"thickness", Kind::kOptionalFloat},
    {"transmission_photo", Kind::kOptionalFloat},
    {"transmission", Kind::kOptionalFloat},
    {"per_atom", Kind::kFloatDict},
    {"elements", Kind::kNested},
}};

constexpr std::array<Field, 10> kDispersionFields{{
    {"z", Kind::kInt},
    {"energy", Kind::kFloat},
    {"f_table", Kind::kText},
    {"f1", Kind::kFloat},
    {"f2", Kind::kFloat},
    {"z_star", Kind::kFloat},
    {"f_prime", Kind::kFloat},
    {"f_double_prime", Kind::kFloat},
    {"f_rel", Kind::kFloat},
    {"f_nt", Kind::kFloat},
}};

py::object xray_material(const std::string& formula, const py::object& energy, const py::object& wavelength,
                         std::optional<std::string> anode, const py::object& density, const py::object& thickness) {
  text_arg(formula, "formula");
  XrayMaterialOptions o;
  o.density = quantity_arg(density, "density", Quantity::kDensity);
  o.thickness = quantity_arg(thickness, "thickness", Quantity::kLength);
  const double kev = photon_energy(energy, wavelength, anode);
  const XrayMaterial m = take(xray_material_from_formula(formula, kev, o));
  // The values of xray --json, from the struct, in the order of the class's fields.
  py::tuple elements(m.elements.size());
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    const XrayMaterialElement& e = m.elements[i];
    Typed<XrayElementTag> el;
    el.v = {py::str(e.symbol),         py::int_(e.z),           py::float_(e.count),      py::float_(e.fraction),
            py::float_(e.f1),          py::float_(e.f2),        py::float_(e.f_prime),    py::float_(e.f_double_prime),
            py::float_(e.f_rel),       py::float_(e.f_nt),      py::float_(e.sigma_photo), py::float_(e.sigma_coh),
            py::float_(e.sigma_incoh)};
    elements[i] = py::cast(std::move(el));
  }
  py::dict per_atom;
  per_atom["sigma_photo"] = m.sigma_photo;
  per_atom["sigma_coh"] = m.sigma_coh;
  per_atom["sigma_incoh"] = m.sigma_incoh;
  per_atom["sigma_total"] = m.sigma_total;
  Typed<XrayMaterialTag> r;
  r.v = {py::float_(m.energy),
         py::float_(m.wavelength),
         py::str(m.formula),
         py::str(std::string(dispersion_table_name(m.f_table))),
         py::float_(m.atoms),
         py::float_(m.electrons),
         optional_float(m.mass),
         py::float_(m.f1),
         py::float_(m.f2),
         optional_float(m.density),
         optional_float(m.number_density),
         optional_float(m.sld),
         optional_float(m.sld_im),
         optional_float(m.delta),
         optional_float(m.beta),
         optional_float(m.critical_angle),
         optional_float(m.mu_photo),
         optional_float(m.mu_coh),
         optional_float(m.mu_incoh),
         optional_float(m.mu_total),
         optional_float(m.attenuation_length_photo),
         optional_float(m.attenuation_length),
         optional_float(m.thickness),
         optional_float(m.transmission_photo),
         optional_float(m.transmission),
         per_atom,
         elements};
  static_assert(kXrayMaterialFields.size() == 27 && kXrayElementFields.size() == 13);
  return py::cast(std::move(r));
}

py::object dispersion_of(const std::string& element, const py::object& energy, const py::object& wavelength,
                         std::optional<std::string> anode) {
  text_arg(element, "element");
  const Dispersion d = take(dispersion(element, photon_energy(energy, wavelength, anode)));
  Typed<DispersionTag> r;
  r.v = {py::int_(d.z),
         py::float_(d.energy),
         py::str(std::string(dispersion_table_name(d.table))),
         py::float_(d.f1),
         py::float_(d.f2),
         py::float_(d.z_star),
         py::float_(d.f_prime),
         py::float_(d.f_double_prime),
         py::float_(d.f_rel),
         py::float_(d.f_nt)};
  return make_result(std::move(r));
}

double anode(const std::string& name) { return take(anode_energy(text_arg(name, "name"))); }

py::object compton_of(const std::string& formula, const py::object& q_in, const py::object& wavelength_in,
                      const std::string& model, std::optional<int> breit_dirac) {
  const std::optional<double> wavelength = quantity_arg(wavelength_in, "wavelength", Quantity::kWavelength);
  text_arg(formula, "formula");
  ComptonOptions o;
  if (model == "balyuzi")
    o.model = IncoherentModel::kBalyuzi;
  else if (model != "hubbell")
    raise_invalid("unknown incoherent model " + quote_for_message(model) + ": give \"hubbell\" or \"balyuzi\"");
  o.wavelength = wavelength;
  // The Breit-Dirac factor is that of the wavelength: without one there is none to apply.
  if (breit_dirac && !wavelength) raise_invalid("breit_dirac needs the wavelength");
  o.breit_dirac_power = breit_dirac.value_or(3);
  const InArray q = numbers(q_in, "q");
  Result<std::vector<double>> c = [&] {
    py::gil_scoped_release unlocked;
    return compton(formula, view(q), o);
  }();
  return shaped(take(std::move(c)), shape_of(q));
}

constexpr const char* kXrayMaterialDoc =
    R"(xray_material(formula, energy=None, *, wavelength=None, anode=None, density=None, thickness=None)
--

A material's X-ray optics at one photon energy (the values of
`talvo-tools xray --json`; f1, f2 from Henke's table to 30 keV and from
Chantler's FFAST above, named by f_table).

formula
    As parse_formula reads it ("SiO2", "Gd2O3", "Fe{3+}2O{2-}3"); isotopes
    scatter as their element and weigh their own mass.
energy, wavelength, anode
    Exactly one: the energy in keV (10 eV to 432.9 keV), the wavelength in
    Angstrom, or an anode's line ("Cu", "CuKa2", "Mo Ka").
density
    g/cm3, for the values per volume (sld, delta, beta, mu_*, ...).
thickness
    cm, for the transmissions (with a density).

Returns an XrayMaterial: energy (keV), wavelength (A), formula, f_table
("henke93" or "chantler-ffast": the table of every f1, f2), atoms and
electrons per formula unit, mass (amu, None if not known), f1 and f2
(electrons per formula unit), density (g/cm3), number_density (atoms/A3),
sld and sld_im (1e-6/A2), delta, beta, critical_angle (degrees), mu_photo,
mu_coh, mu_incoh, mu_total (1/cm), attenuation_length_photo and
attenuation_length (cm), thickness (cm), transmission_photo, transmission,
per_atom (dict of sigma_photo, sigma_coh, sigma_incoh, sigma_total in barn
per atom) and elements (XrayElement: symbol, z, count, fraction, f1, f2,
f_prime, f_double_prime, f_rel, f_nt in electrons, sigma_* in barn; see
dispersion()). A value not known is
None. Raises ValueError by kind (a formula that does not parse, an unknown
element, an energy outside the table).)";

constexpr const char* kDispersionDoc = R"(dispersion(element, energy=None, *, wavelength=None, anode=None)
--

f1 and f2 of an element at one photon energy and the dispersion
corrections f' = f1 - Z*, f'' = f2: from Henke et al. (1993) to 30 keV
(f_table "henke93"; its f1 holds Henke's relativistic correction, Z* = Z -
(Z/82.5)^2.37) and from Chantler's FFAST (1995, 2000) above
("chantler-ffast"; its f1 holds neither the relativistic correction nor the
nuclear Thomson term, Z* = Z). f_rel and f_nt are the table's relativistic
correction (Henke's is in f1; FFAST's 3/5 CL estimate is not) and nuclear
Thomson term (FFAST's; 0 for Henke): f1 + f_rel + f_nt is the full forward
amplitude for FFAST.

element
    Symbol, case-blind (an ion's charge and isotopes do not matter).
energy, wavelength, anode
    Exactly one: keV (10 eV to 432.9 keV), Angstrom, or an anode's line.

Returns a Dispersion: z, energy (keV), f_table, f1, f2, z_star, f_prime,
f_double_prime, f_rel, f_nt (electrons). Raises ValueError for an unknown element, Z
above 92 or an energy outside the table.)";

constexpr const char* kAnodeDoc = R"(anode_energy(name)
--

The photon energy in keV of an X-ray tube's line: "Cu" or "CuKa1" is Ka1,
"CuKa2" Ka2, "CuKa" the mean weighted 2:1 in wavelength (Cr, Fe, Co, Cu,
Mo, Ag, W); the wavelength in Angstrom is hc / E, hc = 12.398 keV Angstrom.
Raises ValueError for an anode or a line not in the table.)";

constexpr const char* kComptonDoc = R"(compton(formula, q, wavelength=None, model='hubbell', breit_dirac=None)
--

The incoherent (Compton) scattering C(Q) of a formula per atom, in electron
units: the composition's mean of S(x, Z) at x = Q / (4 pi) (as
`talvo-tools compton`).

formula
    Any formula (isotopes scatter as their element, charges are ignored).
q
    Q in inverse Angstrom (not below 0): an array of any shape, or a scalar.
wavelength
    Angstrom: applies the Breit-Dirac factor (lambda / lambda')^breit_dirac.
model
    "hubbell" (Hubbell et al. 1975, a cubic spline) or "balyuzi" (Balyuzi
    1975's fit; warns past sin(theta)/lambda = 1.4).
breit_dirac
    0 (no factor), 2 or 3 (3 when not given); only with a wavelength.

Returns a float64 array of q's shape (a float for a scalar q).)";

}  // namespace

// The photon energy in keV of exactly one of energy, wavelength and anode.
bool photon_given(const py::object& energy, const py::object& wavelength, const std::optional<std::string>& anode) {
  return !energy.is_none() || !wavelength.is_none() || anode.has_value();
}

double photon_energy(const py::object& energy, const py::object& wavelength, const std::optional<std::string>& anode) {
  const int given = int(!energy.is_none()) + int(!wavelength.is_none()) + int(anode.has_value());
  if (given != 1) raise_invalid("give one of energy (keV), wavelength (Angstrom) and anode");
  if (!energy.is_none()) return *quantity_arg(energy, "energy", Quantity::kEnergy);
  if (!wavelength.is_none())
    return take(energy_of_wavelength(*quantity_arg(wavelength, "wavelength", Quantity::kWavelength)));
  return take(anode_energy(text_arg(*anode, "anode")));
}

void init_xray_material(py::module_& m) {
  const auto element = define<XrayElementTag>(
      m, "XrayElement",
      "One element of an X-ray material: f1, f2, f' and f'' in electrons, cross-sections in barn per atom.",
      kXrayElementFields);
  define<XrayMaterialTag>(m, "XrayMaterial",
                          "A material's X-ray optics at one energy: the values of `talvo-tools xray --json` (see "
                          "xray_material()).",
                          kXrayMaterialFields, element);
  define<DispersionTag>(m, "Dispersion", "An element's f1, f2, f' and f'' at one energy (see dispersion()).",
                        kDispersionFields);
  m.def("xray_material", &xray_material, kXrayMaterialDoc, py::arg("formula"), py::arg("energy") = py::none(),
        py::kw_only(), py::arg("wavelength") = py::none(), py::arg("anode") = py::none(),
        py::arg("density") = py::none(), py::arg("thickness") = py::none());
  m.def("dispersion", &dispersion_of, kDispersionDoc, py::arg("element"), py::arg("energy") = py::none(), py::kw_only(),
        py::arg("wavelength") = py::none(), py::arg("anode") = py::none());
  m.def("anode_energy", &anode, kAnodeDoc, py::arg("name"));
  m.def("compton", &compton_of, kComptonDoc, py::arg("formula"), py::arg("q"), py::arg("wavelength") = py::none(),
        py::arg("model") = "hubbell", py::arg("breit_dirac") = py::none());
}

}  // namespace talvo::python
