#include "talvo/xray/average_fields.hpp"

namespace talvo {
namespace {

constexpr XrayAverageField kFields[] = {
    {"formula", "", "", "the formula as given", false},
    {"symbols", "", "", "the species in the order of the formula (isotopes as their element, ions with their charge)",
     false},
    {"fractions", "c", "", "atomic fraction of each species", false},
    {"f0", "f(0)", "electrons", "each species' form factor at Q = 0, c + sum a", false},
    {"f0_mean", "<f(0)>", "electrons", "<f(0)> = sum c f(0)", false},
    {"q", "Q", "1/A", "the Q grid", true},
    {"f2", "<f2>", "electrons^2", "<f^2> = sum c f^2, with an energy <|f|^2>", true},
    {"f_mean_sq", "<f>2", "electrons^2", "<f>^2 = (sum c f)^2, with an energy |<f>|^2", true},
    {"weights", "w_", "",
     "the Faber-Ziman weight of each pair (\"Si-O\"): c_i^2 f_i^2 / <f>^2 for like pairs, 2 c_i c_j f_i f_j / <f>^2 "
     "for unlike ones; they add to 1",
     true},
    {"density", "", "g/cm3", "mass density, where the weights are known", false},
    {"number_density", "n", "atoms/A^3", "atoms per volume", false},
    {"t0", "T0", "electrons^2/A^3", "T0 = 4 pi <f(0)>^2 n, the slope of T(r) at small r", false},
    {"energy", "", "keV", "photon energy of f' and f''", false},
    {"f_table", "", "", "the table of f' and f'': henke93 or chantler-ffast", false},
    {"f_prime", "f'", "electrons", "each species' dispersion correction f' at the energy", false},
    {"f_double_prime", "f''", "electrons", "each species' dispersion correction f'' at the energy", false},
};

}  // namespace

std::span<const XrayAverageField> xray_average_fields() { return kFields; }

const XrayAverageField* find_xray_average_field(std::string_view name) {
  for (const XrayAverageField& f : kFields)
    if (f.name == name) return &f;
  return nullptr;
}

std::string_view xray_average_symbol(std::string_view name) {
  const XrayAverageField* f = find_xray_average_field(name);
  return f && !f->symbol.empty() ? f->symbol : name;
}

std::string_view xray_average_unit(std::string_view name) {
  const XrayAverageField* f = find_xray_average_field(name);
  return f ? f->unit : std::string_view{};
}

}  // namespace talvo
