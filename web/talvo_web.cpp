// What the offline page asks of the library, bound to JavaScript with embind:
// a material's neutron values as the JSON `talvo-tools xs --json` prints, over
// one wavelength, a list or a range, its X-ray values as `talvo-tools xray
// --json` prints them, the tables naming both and the page's rounding of numbers.
// The inputs arrive as the text the user typed and are read by the same number
// and grid readers the command line uses (units included), so that a value
// means the same in both.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/neutron/material.hpp"
#include "talvo/neutron/material_fields.hpp"
#include "talvo/neutron/neutron_table.hpp"
#include "talvo/text/grid.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/number.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/dispersion.hpp"
#include "talvo/xray/material_fields.hpp"
#include "talvo/xray/xray_material.hpp"

namespace {

using emscripten::val;

// Embedded in the script at the root of its file system (web/CMakeLists.txt).
constexpr const char* kNeutronTableFile = "neutron_sears92.tsv";
// The page draws a row and a plot point for each wavelength of a range.
constexpr double kMaxWavelengths = 2001;

std::string trimmed(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  return std::string(talvo::trim_end(t));
}

// An empty field is a value not given; anything else is read as talvo-tools
// reads its options, units included ("10um", "1000 kg/m3").
bool read_field(const std::string& text, const char* what, talvo::Quantity quantity, std::optional<double>& out,
                std::string& error) {
  const std::string t = trimmed(text);
  if (t.empty()) return true;
  talvo::NumberOptions o;
  o.quantity = quantity;
  o.range = quantity == talvo::Quantity::kWavelength;
  const talvo::Result<double> v = talvo::read_number(t, what, o);
  if (!v.ok()) error = v.error().message;
  if (v.ok()) out = *v;
  return v.ok();
}

// One wavelength, a list "1,2,5", or FROM:TO:STEP with the ends included, as
// talvo-tools xs reads them (the one grid reader, its checks and messages),
// with the page's own limit of points.
bool read_wavelengths(const std::string& text, std::vector<double>& out, std::string& error) {
  const std::string t = trimmed(text);
  out.clear();
  if (t.empty()) {
    out = {talvo::kThermalWavelength};
    return true;
  }
  if (t.find(':') != std::string::npos) {
    talvo::GridOptions o;
    o.most = kMaxWavelengths;
    o.quantity = talvo::Quantity::kWavelength;
    talvo::Result<std::vector<double>> grid = talvo::read_grid(t, o);
    if (!grid.ok()) {
      error = grid.error().message;
      return false;
    }
    out = std::move(*grid);
    return true;
  }
  if (static_cast<double>(std::count(t.begin(), t.end(), ',')) >= kMaxWavelengths) {
    error = "wavelength: at most 2001 wavelengths in a list: " + talvo::quote_for_message(t);
    return false;
  }
  for (std::size_t start = 0;;) {
    const std::size_t end = t.find(',', start);
    std::optional<double> v;
    const std::string item = t.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!read_field(item, "wavelength", talvo::Quantity::kWavelength, v, error)) return false;
    if (!v) {
      error = "wavelength: an empty value in " + talvo::quote_for_message(t);
      return false;
    }
    out.push_back(*v);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

const talvo::NeutronTable* neutron_table(std::string& error) {
  static const talvo::Result<talvo::NeutronTable> table = talvo::read_neutron_table(kNeutronTableFile);
  if (!table.ok()) error = table.error().message;
  return table.ok() ? &*table : nullptr;
}

val string_array(const std::vector<std::string>& items) {
  val a = val::array();
  for (const std::string& s : items) a.call<void>("push", s);
  return a;
}

// {error, position, warnings, notes, rows, json}: position is the
// character of the formula an error points at (from 1; 0 for none), rows holds the material's JSON at
// each wavelength, for the page to show; json is what the page copies, the
// text `talvo-tools xs --json` prints for the same inputs (one object, its
// values arrays for a list or a range of wavelengths).
val neutron(const std::string& formula, const std::string& density, const std::string& thickness,
            const std::string& wavelength) {
  val out = val::object();
  std::string error;
  std::size_t position = 0;
  std::vector<std::string> rows, warnings, notes;
  std::string json;
  talvo::MaterialOptions options;
  std::vector<double> wavelengths;
  const talvo::NeutronTable* table = neutron_table(error);
  if (table && read_field(density, "density", talvo::Quantity::kDensity, options.density, error) &&
      read_field(thickness, "thickness", talvo::Quantity::kLength, options.thickness, error) &&
      read_wavelengths(wavelength, wavelengths, error)) {
    options.wavelength = wavelengths[0];
    const talvo::Result<talvo::MaterialSweep> s = talvo::material_sweep(formula, *table, options, wavelengths);
    if (!s.ok()) {
      error = s.error().message;
      position = s.error().position;
    } else {
      warnings = s.warnings();
      notes = s->material.notes;
      for (std::size_t i = 0; i < s->size(); ++i) rows.push_back(talvo::material_json(s->at(i)));
      const bool sweep = wavelength.find_first_of(":,") != std::string::npos;
      json = sweep ? talvo::material_sweep_json(*s, warnings) : talvo::material_json(s->material, warnings);
    }
  }
  out.set("error", error);
  out.set("position", static_cast<double>(position));
  out.set("warnings", string_array(warnings));
  out.set("notes", string_array(notes));
  out.set("rows", string_array(rows));
  out.set("json", json);
  return out;
}

// {given, error, json}: the X-ray material at the source typed, an energy in
// keV or an anode ("Cu", "MoKa"), as `talvo-tools xray --json` prints it.
val xray(const std::string& formula, const std::string& density, const std::string& thickness,
         const std::string& source) {
  val out = val::object();
  const std::string t = trimmed(source);
  std::string error, json;
  talvo::XrayMaterialOptions options;
  if (!t.empty() && read_field(density, "density", talvo::Quantity::kDensity, options.density, error) &&
      read_field(thickness, "thickness", talvo::Quantity::kLength, options.thickness, error)) {
    // An energy ("8.048", "8048 eV"), else an anode's name.
    talvo::NumberOptions kev;
    kev.quantity = talvo::Quantity::kEnergy;
    const talvo::Result<double> number = talvo::read_number(t, "energy", kev);
    std::optional<double> energy;
    if (number.ok()) energy = *number;
    // Text that starts as a number is said as one ("8-17"); other text names an anode.
    const bool numeric = (t[0] >= '0' && t[0] <= '9') || t[0] == '.' || t[0] == '+' || t[0] == '-';
    if (!energy && numeric) {
      error = number.error().message;
    } else if (!energy) {
      const talvo::Result<double> anode = talvo::anode_energy(t);
      if (anode.ok())
        energy = *anode;
      else
        error = anode.error().message;
    }
    if (energy) {
      const talvo::Result<talvo::XrayMaterial> m = talvo::xray_material_from_formula(formula, *energy, options);
      if (m.ok())
        json = talvo::xray_material_json(*m);
      else
        error = m.error().message;
    }
  }
  out.set("given", !t.empty());
  out.set("error", error);
  out.set("json", json);
  return out;
}

// The library's table of a material's values, as JSON: [{name, unit,
// unit_shown, meaning, scope}], for the page's rows and their units.
std::string material_fields_json() {
  static const char* const kScopes[] = {"material", "per_atom", "per_formula", "per_volume", "element", "partial"};
  std::string out = "[";
  for (const talvo::MaterialField& f : talvo::material_fields()) {
    if (out.size() > 1) out += ", ";
    talvo::json::Object o(out);
    talvo::json::append_string(o.key("name"), f.name);
    talvo::json::append_string(o.key("unit"), f.unit);
    talvo::json::append_string(o.key("unit_shown"), talvo::material_field_unit_shown(f));
    talvo::json::append_string(o.key("meaning"), f.meaning);
    talvo::json::append_string(o.key("scope"), kScopes[static_cast<int>(f.scope)]);
  }
  return out + "]";
}

// The library's table of the X-ray material's values, as JSON: [{name,
// symbol, unit, unit_shown, meaning, scope}], for the page's rows, their
// heads and units.
std::string xray_fields_json() {
  static const char* const kScopes[] = {"material", "per_atom", "element"};
  std::string out = "[";
  for (const talvo::XrayField& f : talvo::xray_material_fields()) {
    if (out.size() > 1) out += ", ";
    talvo::json::Object o(out);
    talvo::json::append_string(o.key("name"), f.name);
    talvo::json::append_string(o.key("symbol"), talvo::xray_field_symbol(f));
    talvo::json::append_string(o.key("unit"), f.unit);
    talvo::json::append_string(o.key("unit_shown"), talvo::xray_field_unit_shown(f));
    talvo::json::append_string(o.key("meaning"), f.meaning);
    talvo::json::append_string(o.key("scope"), kScopes[static_cast<int>(f.scope)]);
  }
  return out + "]";
}

// A number as the page shows it: printf's %.6g, ASCII digits and "-".
std::string format_g(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", value);
  return buf;
}

}  // namespace

EMSCRIPTEN_BINDINGS(talvo_web) {
  emscripten::function("neutron", &neutron);
  emscripten::function("xray", &xray);
  emscripten::function("formatG", &format_g);
  emscripten::function("materialFields", &material_fields_json);
  emscripten::function("xrayFields", &xray_fields_json);
}
