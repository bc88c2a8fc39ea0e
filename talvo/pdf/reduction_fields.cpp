#include "talvo/pdf/reduction_fields.hpp"

#include <array>
#include <string>

#include "talvo/xray/dispersion.hpp"

namespace talvo::pdf {
namespace {

using enum SummaryKind;
using enum SummaryGroup;

SummaryValue optional(const std::optional<double>& v) { return v ? SummaryValue(*v) : SummaryValue(); }
// A self-check's value: none without the self-checks.
template <class Take>
SummaryValue diagnostic(const Reduction& r, Take take) {
  return r.diagnostics ? take(*r.diagnostics) : SummaryValue();
}

constexpr std::array<SummaryField, 26> kFields{{
    {"mode", kText, kReduction, "", "physical or adhoc", false,
     [](const Reduction&, const ReductionOptions& o) -> SummaryValue {
       return std::string(o.mode == Mode::kPhysical ? "physical" : "adhoc");
     }},
    {"wavelength", kNumber, kReduction, "A", "the incident wavelength; none without one", true,
     [](const Reduction&, const ReductionOptions& o) { return optional(o.wavelength); }},
    {"normalization_constant", kNumber, kReduction, "",
     "alpha of S = 1 + (alpha I - <f^2> - C)/<f>^2 (physical), or the ad hoc scale", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.alpha; }},
    {"normalization_constant_sigma", kNumber, kReduction, "", "its standard deviation from the counting errors", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.alpha_sigma; }},
    {"number_density", kNumber, kReduction, "1/A^3", "rho0; none without a density", false,
     [](const Reduction& r, const ReductionOptions&) { return optional(r.number_density); }},
    {"mu", kNumber, kReduction, "1/cm", "the attenuation coefficient of the packed sample", false,
     [](const Reduction& r, const ReductionOptions&) { return optional(r.mu); }},
    {"f_table", kText, kReduction, "", "the table of f', f'' and mu (henke93 or chantler-ffast)", true,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue {
       return r.f_table ? SummaryValue(std::string(dispersion_table_name(*r.f_table))) : SummaryValue();
     }},
    {"mu_x", kNumber, kReduction, "", "mu t or mu R used", false,
     [](const Reduction& r, const ReductionOptions&) { return optional(r.mu_x); }},
    {"absorption_min", kNumber, kReduction, "", "the smallest absorption factor", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.absorption_min; }},
    {"absorption_max", kNumber, kReduction, "", "the largest absorption factor", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.absorption_max; }},
    {"compton_subtracted", kFlag, kReduction, "", "whether the Compton scattering was taken off", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.compton_subtracted; }},
    {"compton_fraction_at_qmax", kNumber, kReduction, "", "C / (<f^2> + C) at qmax", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.compton_fraction_at_qmax; }},
    {"qmin", kNumber, kReduction, "1/A", "the first Q used", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.qmin; }},
    {"qmax", kNumber, kReduction, "1/A", "the last Q used", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.qmax; }},
    {"qstep", kNumber, kReduction, "1/A", "the median step between them", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.qstep; }},
    {"extrapolated", kWhole, kReduction, "", "the first points of S and F, below the data (extrapolate)", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue {
       return static_cast<long long>(r.extrapolated);
     }},
    {"poly_degree", kWhole, kReduction, "", "the ad hoc polynomials' degree", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return static_cast<long long>(r.poly_degree); }},
    {"iterations", kWhole, kReduction, "", "the low-r iterations (rmin-iterate)", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return static_cast<long long>(r.iterations); }},
    {"residual", kNumber, kReduction, "", "rms of G + 4 pi rho0 r below rmin-iterate, after the last iteration", false,
     [](const Reduction& r, const ReductionOptions&) -> SummaryValue { return r.residual; }},
    {"high_q_mean", kNumber, kDiagnostics, "", "the mean of S over the top fifth of Q", false,
     [](const Reduction& r, const ReductionOptions&) {
       return diagnostic(r, [](const Diagnostics& d) -> SummaryValue { return d.high_q_mean; });
     }},
    {"high_q_mean_sigma", kNumber, kDiagnostics, "", "its standard deviation", false,
     [](const Reduction& r, const ReductionOptions&) {
       return diagnostic(r, [](const Diagnostics& d) -> SummaryValue { return d.high_q_sigma; });
     }},
    {"high_q_from", kNumber, kDiagnostics, "1/A", "where that mean begins", false,
     [](const Reduction& r, const ReductionOptions&) {
       return diagnostic(r, [](const Diagnostics& d) -> SummaryValue { return d.high_q_from; });
     }},
    {"lowest_smoothed_s", kNumber, kDiagnostics, "", "the smoothed S's lowest value above Q = 1 1/A", false,
     [](const Reduction& r, const ReductionOptions&) {
       return diagnostic(r, [](const Diagnostics& d) -> SummaryValue { return d.lowest_smoothed; });
     }},
    {"lowest_smoothed_s_at", kNumber, kDiagnostics, "1/A", "where it is", false,
     [](const Reduction& r, const ReductionOptions&) {
       return diagnostic(r, [](const Diagnostics& d) -> SummaryValue { return d.lowest_at; });
     }},
    {"floor_there", kNumber, kDiagnostics, "", "the floor 1 - <f^2>/<f>^2 there", false,
     [](const Reduction& r, const ReductionOptions&) {
       return diagnostic(r, [](const Diagnostics& d) -> SummaryValue { return d.floor_there; });
     }},
    {"low_r_rms", kNumber, kDiagnostics, "", "rms of G + 4 pi rho0 r from 0.5 A to rmin-check; none without rho0",
     false,
     [](const Reduction& r, const ReductionOptions&) {
       return diagnostic(r, [](const Diagnostics& d) { return optional(d.low_r_rms); });
     }},
}};

// The neutron reduction's: its self-checks always made.
constexpr std::array<NeutronSummaryField, 14> kNeutronFields{{
    {"number_density", kNumber, kReduction, "1/A^3", "rho0 of the sample",
     [](const NeutronReduction& r) -> SummaryValue { return r.number_density; }},
    {"b_mean_sq", kNumber, kReduction, "barn", "|<b>|^2, the Faber-Ziman normalisation",
     [](const NeutronReduction& r) -> SummaryValue { return r.b_mean_sq; }},
    {"self_static", kNumber, kReduction, "barn", "sigma_s / 4 pi, the self term before its Placzek correction",
     [](const NeutronReduction& r) -> SummaryValue { return r.self_static; }},
    {"qmin", kNumber, kReduction, "1/A", "the first Q transformed",
     [](const NeutronReduction& r) -> SummaryValue { return r.qmin; }},
    {"qmax", kNumber, kReduction, "1/A", "the last Q transformed",
     [](const NeutronReduction& r) -> SummaryValue { return r.qmax; }},
    {"iterations", kWhole, kReduction, "", "the low-r iterations (rmin-iterate)",
     [](const NeutronReduction& r) -> SummaryValue { return static_cast<long long>(r.iterations); }},
    {"residual", kNumber, kReduction, "", "rms of G + 4 pi rho0 r below rmin-iterate, after the last iteration",
     [](const NeutronReduction& r) -> SummaryValue { return r.residual; }},
    {"high_q_mean", kNumber, kDiagnostics, "", "the mean of S over the top fifth of Q",
     [](const NeutronReduction& r) -> SummaryValue { return r.diagnostics.high_q_mean; }},
    {"high_q_mean_sigma", kNumber, kDiagnostics, "", "its standard deviation",
     [](const NeutronReduction& r) -> SummaryValue { return r.diagnostics.high_q_sigma; }},
    {"high_q_from", kNumber, kDiagnostics, "1/A", "where that mean begins",
     [](const NeutronReduction& r) -> SummaryValue { return r.diagnostics.high_q_from; }},
    {"lowest_smoothed_s", kNumber, kDiagnostics, "", "the smoothed S's lowest value above Q = 1 1/A",
     [](const NeutronReduction& r) -> SummaryValue { return r.diagnostics.lowest_smoothed; }},
    {"lowest_smoothed_s_at", kNumber, kDiagnostics, "1/A", "where it is",
     [](const NeutronReduction& r) -> SummaryValue { return r.diagnostics.lowest_at; }},
    {"floor_there", kNumber, kDiagnostics, "", "the floor 1 - (sigma_s/4pi)(1 + P)/|<b>|^2 there",
     [](const NeutronReduction& r) -> SummaryValue { return r.diagnostics.floor_there; }},
    {"low_r_rms", kNumber, kDiagnostics, "", "rms of G + 4 pi rho0 r from 0.5 A to rmin-check",
     [](const NeutronReduction& r) { return optional(r.diagnostics.low_r_rms); }},
}};

// One member: a none as null, or left out where `omitted_when_none`.
void append_value(json::Object& object, std::string_view name, const SummaryValue& v, bool omitted_when_none) {
  if (std::holds_alternative<std::monostate>(v)) {
    if (!omitted_when_none) object.key(name) += "null";
  } else if (const double* x = std::get_if<double>(&v)) {
    object.number(name, *x);
  } else if (const long long* n = std::get_if<long long>(&v)) {
    object.key(name) += std::to_string(*n);
  } else if (const bool* b = std::get_if<bool>(&v)) {
    object.key(name) += *b ? "true" : "false";
  } else {
    object.string(name, std::get<std::string>(v));
  }
}

}  // namespace

std::span<const SummaryField> summary_fields() { return kFields; }

const SummaryField* find_summary_field(std::string_view name) {
  for (const SummaryField& f : kFields)
    if (f.name == name) return &f;
  return nullptr;
}

void append_summary_json(json::Object& object, const Reduction& r, const ReductionOptions& o) {
  for (const SummaryField& f : kFields) {
    if (f.group == kDiagnostics && !r.diagnostics) continue;
    append_value(object, f.name, f.value(r, o), f.omitted_when_none);
  }
}

std::span<const NeutronSummaryField> neutron_summary_fields() { return kNeutronFields; }

void append_summary_json(json::Object& object, const NeutronReduction& r) {
  for (const NeutronSummaryField& f : kNeutronFields) append_value(object, f.name, f.value(r), false);
}

}  // namespace talvo::pdf
